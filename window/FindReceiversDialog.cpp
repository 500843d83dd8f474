#include "FindReceiversDialog.h"
#include "InetOnDemand.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

FindReceiversDialog::FindReceiversDialog(InetOnDemand &inet, QWidget *parent)
    : QDialog(parent)
    , m_inet(inet)
    , m_status(new QLabel(this))
    , m_list(new QListWidget(this))
{
    setObjectName(QStringLiteral("FindReceivers"));
    setWindowTitle(tr("Find receivers"));
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    m_status->setTextFormat(Qt::PlainText);
    m_list->setObjectName(QStringLiteral("receivers"));
    m_list->setSortingEnabled(true);
    m_list->setMinimumWidth(360);
    auto *buttons = new QDialogButtonBox(this);
    m_use = buttons->addButton(tr("&Use"), QDialogButtonBox::AcceptRole);
    m_again = buttons->addButton(tr("&Search Again"), QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Close);
    m_use->setEnabled(false);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(m_list);
    layout->addWidget(buttons);

    connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
        m_use->setEnabled(row >= 0);
    });
    connect(m_list, &QListWidget::itemActivated, this, &FindReceiversDialog::choose);
    connect(buttons, &QDialogButtonBox::accepted, this, &FindReceiversDialog::choose);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_again, &QPushButton::clicked, this, &FindReceiversDialog::search);
    connect(this, &QDialog::finished, this, [this] { delete m_search; });
}

void FindReceiversDialog::search()
{
    delete m_search;
    m_list->clear();
    m_again->setEnabled(false);
    m_status->setText(tr("Looking for receivers on your network…"));
    m_search = m_inet.FindReceivers(
        [this](const FoundReceiver &receiver) {
            // The name is shown text already: the transfer never passes on anything else.
            auto *item = new QListWidgetItem(
                tr("%1 \u2013 %2 (%3)").arg(receiver.name, receiver.address, receiver.kind));
            item->setData(Qt::UserRole, receiver.address);
            m_list->addItem(item);
            if (m_list->currentRow() < 0)
                m_list->setCurrentRow(0);
        },
        [this] {
            m_again->setEnabled(true);
            m_status->setText(
                m_list->count() == 0
                    ? tr("No receiver answered. Check that it is switched on and on the same "
                         "network as this computer, then search again.")
                    : tr("Choose the receiver whose address you want to use."));
        },
        [this](const QString &why) {
            m_again->setEnabled(true);
            m_status->setText(why);
        },
        this);
}

void FindReceiversDialog::choose()
{
    const QListWidgetItem *item = m_list->currentItem();
    if (!item)
        return;
    emit chosen(item->data(Qt::UserRole).toString());
    accept();
}
