#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

// The longest text kept of one element: every element a receiver's answer is read for is a word,
// a number or a line.
constexpr qsizetype MaxElementText = 4096;

// The text of each element named in wanted, the first of each name, trimmed and cut at
// MaxElementText characters, read in one pass: the answer may be any size and nesting, and
// nothing else of it is kept. Nothing when the answer is not well-formed XML, since a reader
// stopped by an error has read only part of it, or when it declares a document type: no
// receiver sends one, and its entities could make the answer say anything.
std::optional<QHash<QString, QString>> XmlElements(const QByteArray &xml,
                                                   const QStringList &wanted);
