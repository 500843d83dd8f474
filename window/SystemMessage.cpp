#include "SystemMessage.h"

#include <QMessageBox>

void ShowSystemMessage(QWidget *window, const QString &text)
{
    QMessageBox box(QMessageBox::Critical,
                    QStringLiteral("System Message"),
                    text,
                    QMessageBox::Ok,
                    window && window->isVisible() ? window : nullptr);
    box.exec();
}
