#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

// Answers every modal message box as soon as it shows, and remembers what it said.
class MessageBoxWatcher : public QObject
{
public:
    struct Seen
    {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QWidget *parent;
    };

    MessageBoxWatcher()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            seen.append({box->windowTitle(),
                         box->text(),
                         box->icon(),
                         box->standardButtons(),
                         box->parentWidget()});
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

private:
    QTimer m_timer;
};
