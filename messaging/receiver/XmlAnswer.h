#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>

// The text of each element of a receiver's XML answer, the first of each name; nothing when the
// answer is not well-formed XML, since a reader stopped by an error has read only part of it, or
// when it declares a document type: no receiver sends one, and its entities could make the
// answer say anything.
std::optional<QHash<QString, QString>> XmlElements(const QByteArray &xml);
