#pragma once

#include <QDialog>
#include <QPointer>

class InetOnDemand;
class QLabel;
class QListWidget;
class QPushButton;

// Lists the receivers found on the local network as they are found. Choosing one (double click,
// Enter or Use) hands its address over and closes the dialog; nothing is saved. It leaves the
// window usable, and Esc closes it.
class FindReceiversDialog : public QDialog
{
    Q_OBJECT

public:
    FindReceiversDialog(InetOnDemand &inet, QWidget *parent);

    // Looks for receivers afresh, forgetting those listed.
    void search();

signals:
    void chosen(const QString &address);

private:
    void choose();

    InetOnDemand &m_inet;
    QLabel *m_status;
    QListWidget *m_list;
    QPushButton *m_use;
    QPushButton *m_again;
    QPointer<QObject> m_search;
};
