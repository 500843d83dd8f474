#pragma once

class QString;
class QWidget;

// The one way the program tells the user something: a modal box titled "System Message" with the
// stop icon and an OK button. It belongs to window while that is on screen. Returns once closed.
void ShowSystemMessage(QWidget *window, const QString &text);
