#pragma once

#include "DialogueRules.h"
#include "SettingsPlace.h"

#include <QHash>
#include <QWidget>

#include <chrono>

class FindReceiversDialog;
class InetOnDemand;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
struct UntrustedCertificate;

// The program's one window: the message and its receiver, the session log, and the commands.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    // transferLibrary: where the network code lies; empty for beside the program.
    explicit Form1(const SettingsPlace &settings,
                   std::chrono::milliseconds transferTimeout = std::chrono::seconds(60),
                   const QString &transferLibrary = {},
                   QWidget *parent = nullptr);
    ~Form1() override;

    // Fills the window from the settings file and dates the title; runs once, before the window
    // is first shown.
    void StartUp();

private:
    void createFields();
    void createPicture();
    void connectControls();
    void SaveSettings();
    void LoadSettings();
    void setBusy(bool busy);
    bool trustCertificate(const UntrustedCertificate &certificate);
    DialogueRules::Choice askAboutStandby(DialogueRules::Pause pause);
    void keepHardwareAddress(const QString &receiver, const QString &hardwareAddress);
    void findReceivers();
    void hintAtFinding(bool addressStored);

    SettingsPlace m_settings;
    QHash<QString, QString> m_trustedThisSession; // fingerprints by receiver, not kept in the file
    bool m_wakeNotKeptTold = false;               // a hardware address could not be kept: said once
    bool m_busy = false;

    QLabel *Label5;         // version text from the settings file
    QLabel *Label3;         // caption of the address field
    QLineEdit *Text1;       // receiver address, host[:port] or user:password@host[:port]
    QLabel *Label1;         // caption of the timeout field
    QLineEdit *Text3;       // timeout sent with each message
    QLabel *Label4;         // caption of the caption field
    QLineEdit *Text4;       // message caption
    QLabel *Label2;         // caption of the body field
    QLineEdit *Text2;       // message body
    QPushButton *Command10; // sends the message
    QPushButton *Command1;  // saves address and timeout
    QPushButton *Command2;  // loads address, timeout and version
    QPushButton *Command3;  // ends the program
    QLabel *Label6;         // caption of the session log
    QPlainTextEdit *Text5;  // session log: the body of every message sent
    QLabel *Image1;         // picture of the receiver
    InetOnDemand *Inet1;    // sends the messages
    FindReceiversDialog *m_find = nullptr; // made when first asked for
};
