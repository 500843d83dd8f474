#pragma once

#include <QImage>

// Quillora's icon: the receiver picture of the window, centred on a square of the given size with
// a transparent margin, as desktops want their icons.
QImage ProgramIcon(const QImage &receiver, int size);
