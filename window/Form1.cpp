#include "Form1.h"
#include "FindReceiversDialog.h"
#include "InetOnDemand.h"
#include "ProgramIcon.h"
#include "SelectToEndLineEdit.h"
#include "SendToReceiver.h"
#include "SettingsCommands.h"
#include "SystemMessage.h"

#include <QDate>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <limits>
#include <type_traits>
#include <utility>

namespace {

// The window is laid out in twips, 15 to a pixel at 96 dots per inch.
QRect twips(int left, int top, int width, int height)
{
    return {left / 15, top / 15, width / 15, height / 15};
}

// The window's own fonts are Windows bitmap fonts; elsewhere a plain sans face stands in. It is
// chosen here, among the installed families, because a family that is missing sends the font
// system looking for a fallback, which costs time at start.
QString familyOr(const QString &family)
{
    static const QStringList installed = QFontDatabase::families();
    if (installed.contains(family))
        return family;
    for (const char *standIn : {"DejaVu Sans", "Liberation Sans", "Arial", "Helvetica"})
        if (installed.contains(QLatin1String(standIn)))
            return QLatin1String(standIn);
    return family;
}

QFont fontOf(const QString &family, qreal points, bool bold = false)
{
    QFont font(familyOr(family));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

const QColor Blue(0, 0, 255);
const QColor LightBlue(128, 128, 255);

void setColour(QWidget *widget, QPalette::ColorRole role, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

// The light blue is fixed, whatever the desktop's theme, so the text on it is fixed too: a dark
// theme's light text would be hard to read there. Selected text keeps a dark background.
void setFixedBackground(QWidget *widget, QPalette::ColorRole background, QPalette::ColorRole text)
{
    QPalette palette = widget->palette();
    palette.setColor(background, LightBlue);
    palette.setColor(text, Qt::black);
    palette.setColor(QPalette::Highlight, QColor(0, 0, 128));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    widget->setPalette(palette);
}

QLabel *caption(const QString &name, const QString &text, int left, int top, QWidget *window)
{
    auto *label = new QLabel(text, window);
    label->setObjectName(name);
    label->setFont(fontOf(QStringLiteral("Small Fonts"), 6.75, true));
    setColour(label, QPalette::WindowText, Qt::white);
    label->move(twips(left, top, 0, 0).topLeft());
    label->adjustSize();
    return label;
}

template<typename Field>
Field *field(const QString &name, const QRect &geometry, QLabel *label, QWidget *window)
{
    auto *edit = new Field(window);
    edit->setObjectName(name);
    // A pasted text is taken whole: the field sets no length limit of its own.
    if constexpr (std::is_base_of_v<QLineEdit, Field>)
        edit->setMaxLength(std::numeric_limits<int>::max());
    edit->setGeometry(geometry);
    setFixedBackground(edit, QPalette::Base, QPalette::Text);
    if (label)
        label->setBuddy(edit);
    return edit;
}

QPushButton *
button(const QString &name, const QString &text, const QRect &geometry, QWidget *window)
{
    auto *push = new QPushButton(text, window);
    push->setObjectName(name);
    push->setGeometry(geometry);
    push->setAutoDefault(false);
    return push;
}

} // namespace

Form1::Form1(const SettingsPlace &settings,
             std::chrono::milliseconds transferTimeout,
             const QString &transferLibrary,
             QWidget *parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
    , m_settings(settings)
{
    setObjectName(QStringLiteral("Form1"));
    // A tool window does not end the program when closed unless told to; this one is the program.
    setAttribute(Qt::WA_QuitOnClose);
    setWindowTitle(QStringLiteral("-- Quillora -- 04/01-04 --"));
    setFixedSize(twips(0, 0, 4275, 6615).size());
    setFont(fontOf(QStringLiteral("Small Fonts"), 6.75));
    setColour(this, QPalette::Window, Blue);
    setAutoFillBackground(true);

    createFields();
    createPicture();
    Inet1 = new InetOnDemand(transferLibrary.isEmpty() ? InetOnDemand::libraryBesideProgram()
                                                       : transferLibrary,
                             transferTimeout,
                             this);
    Inet1->setObjectName(QStringLiteral("Inet1"));

    connectControls();
    setTabOrder(Text1, Command10);
    setTabOrder(Command10, Text2);
    setTabOrder(Text2, Text3);
    setTabOrder(Text3, Text4);
    setTabOrder(Text4, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Text5);
    setTabOrder(Text5, Command3);
    setTabOrder(Command3, Text1);
    Text1->setFocus();
}

// The labels, fields and buttons, where the form puts them.
void Form1::createFields()
{
    Label5 = new QLabel(this);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->setFont(fontOf(QStringLiteral("MS Sans Serif"), 8.25));
    Label5->setGeometry(twips(3900, 60, 45, 195));
    setFixedBackground(Label5, QPalette::Window, QPalette::WindowText);
    Label5->setAutoFillBackground(true);

    Label3 = caption(QStringLiteral("Label3"), tr("Dreambox ip"), 60, 120, this);
    Text1 = field<SelectToEndLineEdit>(
        QStringLiteral("Text1"), twips(60, 300, 1215, 255), Label3, this);
    Label1 = caption(QStringLiteral("Label1"), tr("Timeout"), 60, 600, this);
    Text3 = field<QLineEdit>(QStringLiteral("Text3"), twips(60, 780, 315, 255), Label1, this);
    Label4 = caption(QStringLiteral("Label4"), tr("Topic"), 60, 1080, this);
    Text4 = field<QLineEdit>(QStringLiteral("Text4"), twips(60, 1260, 1635, 255), Label4, this);
    Text4->setText(QStringLiteral("Quillora"));
    Label2 = caption(QStringLiteral("Label2"), tr("Msg."), 60, 1560, this);
    Text2 = field<SelectToEndLineEdit>(
        QStringLiteral("Text2"), twips(60, 1740, 3615, 255), Label2, this);
    Text2->setText(tr("This is a test message from Quillora."));

    Command10 = button(
        QStringLiteral("Command10"), tr("S&end Message"), twips(60, 2100, 1095, 315), this);
    Command1 = button(
        QStringLiteral("Command1"), tr("S&ave settings"), twips(1200, 2100, 1095, 315), this);
    Command2 = button(
        QStringLiteral("Command2"), tr("L&oad settings"), twips(2340, 2100, 1095, 315), this);
    Command3 = button(QStringLiteral("Command3"), tr("E&xit"), twips(3480, 2100, 735, 315), this);

    Label6
        = caption(QStringLiteral("Label6"), tr("Messages sent in this session:"), 60, 2460, this);
    Text5
        = field<QPlainTextEdit>(QStringLiteral("Text5"), twips(60, 2640, 4155, 3915), Label6, this);
    Text5->setTabChangesFocus(true);
}

void Form1::createPicture()
{
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    // The format is known: guessing it would load every image plugin just to rule it out.
    QImageReader picture(QStringLiteral(":/receiver.png"), "png");
    picture.setAutoDetectImageFormat(false);
    const QImage receiver = picture.read();
    Image1->setPixmap(QPixmap::fromImage(receiver));
    // Drawn once the window is up, so that it costs the start nothing.
    QTimer::singleShot(0, this, [this, receiver] {
        QIcon icon;
        for (const int size : {16, 32, 48, 64})
            icon.addPixmap(QPixmap::fromImage(ProgramIcon(receiver, size)));
        setWindowIcon(icon);
    });
    Image1->setGeometry(twips(1740, 240, 1950, 1305));
}

// What each control does, and what the window shows while a message is under way.
void Form1::connectControls()
{
    // Trust kept in the settings file is read at every connection, so a copy of the file
    // carries it; what could not be kept there counts until the window closes.
    Inet1->setCertificateTrust({[this](const QString &receiver) {
                                    return m_trustedThisSession.value(
                                        receiver,
                                        TrustedFingerprint(m_settings.readPath(), receiver));
                                },
                                {}});
    connect(Command10, &QPushButton::clicked, this, [this] {
        SendToReceiver(
            {Text1, Text3, Text4, Text2, Text5},
            *Inet1,
            {[this](const QString &text) { ShowSystemMessage(this, text, Inet1->loadFailure()); },
             [this](const UntrustedCertificate &certificate) {
                 return trustCertificate(certificate);
             },
             [this](DialogueRules::Pause pause) { return askAboutStandby(pause); },
             [this](const QString &receiver) {
                 return KeptHardwareAddress(m_settings.readPath(), receiver);
             },
             [this](const QString &receiver, const QString &hardwareAddress) {
                 keepHardwareAddress(receiver, hardwareAddress);
             }});
    });
    // The address field's own menu also finds the receivers on the network.
    Text1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Text1, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        QMenu *menu = Text1->createStandardContextMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->addSeparator();
        menu->addAction(tr("Find receivers\u2026"), this, &Form1::findReceivers);
        menu->popup(Text1->mapToGlobal(at));
    });
    connect(Command1, &QPushButton::clicked, this, &Form1::SaveSettings);
    connect(Command2, &QPushButton::clicked, this, &Form1::LoadSettings);
    connect(Command3, &QPushButton::clicked, this, &QWidget::close);
    connect(
        Inet1, &InetOnDemand::pendingCountChanged, this, [this](int count) { setBusy(count > 0); });
}

Form1::~Form1()
{
    setBusy(false);
}

void Form1::StartUp()
{
    LoadSettings();
    const QString today = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
    setWindowTitle(QStringLiteral("-- Quillora -- ") + today + QStringLiteral(" --"));
    if (Text1->text().isEmpty())
        ShowSystemMessage(this, tr("Configuration file looks invalid, Save a new one"));
    Text1->setFocus();
}

// Without a stored address, the address field tells where its menu can find the receiver.
void Form1::hintAtFinding(bool addressStored)
{
    Text1->setToolTip(addressStored ? QString()
                                    : tr("Don't know the receiver's address? Right-click here "
                                         "and choose \"Find receivers\u2026\"."));
}

void Form1::findReceivers()
{
    if (!m_find) {
        m_find = new FindReceiversDialog(*Inet1, this);
        connect(m_find, &FindReceiversDialog::chosen, this, [this](const QString &address) {
            Text1->setText(address);
            Text1->setFocus();
        });
    }
    if (!m_find->isVisible())
        m_find->search();
    m_find->show();
    m_find->raise();
    m_find->activateWindow();
}

void Form1::SaveSettings()
{
    for (const QString &message : ::SaveSettings(m_settings, Text1->text(), Text3->text()))
        ShowSystemMessage(this, message);
    hintAtFinding(!::LoadSettings(m_settings.readPath()).address.isEmpty());
}

void Form1::LoadSettings()
{
    const ReceiverSettings settings = ::LoadSettings(m_settings.readPath());
    Text1->setText(settings.address);
    Text3->setText(settings.timeout);
    Label5->setText(settings.version);
    Label5->adjustSize();
    hintAtFinding(!settings.address.isEmpty());
}

DialogueRules::Choice Form1::askAboutStandby(DialogueRules::Pause pause)
{
    using DialogueRules::Choice;
    switch (AskToWake(this, pause == DialogueRules::Pause::NothingAnswers)) {
    case StandbyChoice::WakeAndSend:
        return Choice::Wake;
    case StandbyChoice::SendAnyway:
        return Choice::Go;
    case StandbyChoice::Cancel:
        break;
    }
    return Choice::Cancel;
}

// Kept at once, as trust is: Save settings keeps only what was typed, and a receiver's address
// is learned, not typed. A file that can't take it is said once, in a box, after the message was
// logged: the message went, only waking the receiver later will not work.
void Form1::keepHardwareAddress(const QString &receiver, const QString &hardwareAddress)
{
    const QString why = KeepHardwareAddress(m_settings, receiver, hardwareAddress);
    if (why.isEmpty() || std::exchange(m_wakeNotKeptTold, true))
        return;
    ShowSystemMessage(this,
                      tr("The receiver's hardware address (%1) could not be kept, so Quillora "
                         "can't wake it from deep standby: %2")
                          .arg(hardwareAddress, why));
}

bool Form1::trustCertificate(const UntrustedCertificate &certificate)
{
    if (!AskToTrustCertificate(this, certificate))
        return false;
    const QString fingerprint = FormatFingerprint(certificate.fingerprint);
    if (const QString why = KeepTrustedFingerprint(m_settings, certificate.receiver, fingerprint);
        !why.isEmpty()) {
        m_trustedThisSession.insert(certificate.receiver, fingerprint);
        ShowSystemMessage(this, why);
    }
    return true;
}

// While the receiver has not answered every message, the pointer says so.
void Form1::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}
