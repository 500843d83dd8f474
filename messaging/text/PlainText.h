#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Whatever the network says (an announced name, a status line, a receiver's error text) as it
// may be shown in a terminal, a list or a message box: text and nothing else. Bytes are read as
// UTF-8, and a byte that is not part of a character is shown as \xNN. Control characters (C0,
// DEL, C1) are shown as \xNN and the bidirectional controls as \u{NNNN}, so that nothing received
// can move the cursor, clear a screen, set a title or reorder what follows it. The result is at
// most maxLength characters long, cut with "…". Showing a shown text again changes nothing.
namespace PlainText {

constexpr qsizetype MaxLength = 512;

QString from(QByteArrayView utf8, qsizetype maxLength = MaxLength);
QString from(QStringView text, qsizetype maxLength = MaxLength);

} // namespace PlainText
