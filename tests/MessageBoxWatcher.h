#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

// Answers every modal message box as soon as it shows, and remembers what it said. A box with a
// button named press (its text without the '&') gets that button pressed; any other gets OK, or
// is closed as with Esc.
class MessageBoxWatcher : public QObject
{
public:
    struct Seen
    {
        QString title;
        QString text;
        QString informativeText;
        QString detailedText;
        QString defaultButton; // its text, without the '&'
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QWidget *parent;
        Qt::TextFormat format;
    };

    MessageBoxWatcher()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            const auto name = [](const QAbstractButton *button) {
                return button ? button->text().remove('&') : QString();
            };
            seen.append({box->windowTitle(),
                         box->text(),
                         box->informativeText(),
                         box->detailedText(),
                         name(box->defaultButton()),
                         box->icon(),
                         box->standardButtons(),
                         box->parentWidget(),
                         box->textFormat()});
            for (QAbstractButton *button : box->buttons())
                if (!press.isEmpty() && name(button) == press)
                    return button->click();
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
        });
        m_timer.start(10);
    }

    QStringList texts() const
    {
        QStringList result;
        for (const Seen &box : seen)
            result += box.text;
        return result;
    }

    QList<Seen> seen;
    QString press;

private:
    QTimer m_timer;
};
