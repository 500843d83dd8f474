#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// The 8-bit code page in which a settings file that is neither UTF-8 nor UTF-16 is written. On
// Windows it is the system's ANSI code page, as the Windows profile functions use, unless that is
// UTF-8; elsewhere, and there, Windows-1252, the code page of the Western Windows machines such
// files come from.
namespace CodePage {

// Its name, for messages.
QString name();

QString decode(QByteArrayView bytes);

// Nothing when the text holds a character the code page lacks.
std::optional<QByteArray> encode(QStringView text);

// Whether a new file, or one of plain ASCII, gets its other characters in UTF-8 rather than in
// the code page: so on systems whose own text is UTF-8.
bool newTextIsUtf8();

} // namespace CodePage
