#include "SystemMessage.h"
#include "CertificateTrust.h"

#include <QCoreApplication>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SystemMessage", text);
}

// A fingerprint on two lines of 16 pairs each, so that it never breaks inside a pair.
QString twoLines(const QByteArray &sha256)
{
    return FormatFingerprint(sha256.left(16)) + QLatin1String(":\n")
           + FormatFingerprint(sha256.mid(16));
}

QWidget *ownerOf(QWidget *window)
{
    return window && window->isVisible() ? window : nullptr;
}

} // namespace

void ShowSystemMessage(QWidget *window, const QString &text, const QString &details)
{
    QMessageBox box(QMessageBox::Critical,
                    QStringLiteral("System Message"),
                    text,
                    QMessageBox::Ok,
                    ownerOf(window));
    // The text may quote a receiver, and a receiver's words are only ever words: no markup, no
    // link, nothing loaded.
    box.setTextFormat(Qt::PlainText);
    box.setDetailedText(details); // the system's own words, for whoever looks further
    box.exec();
}

bool AskToTrustCertificate(QWidget *window, const UntrustedCertificate &certificate)
{
    const QLocale locale;
    const QString validity
        = tr("Valid from %1 to %2.")
              .arg(locale.toString(certificate.validFrom, QLocale::ShortFormat),
                   locale.toString(certificate.validUntil, QLocale::ShortFormat));
    QMessageBox box(ownerOf(window));
    box.setWindowTitle(tr("Receiver Certificate"));
    box.setTextFormat(Qt::PlainText);
    if (certificate.changed()) {
        box.setIcon(QMessageBox::Warning);
        box.setText(tr("The certificate of the receiver at %1 has changed since you trusted it.")
                        .arg(certificate.receiver));
        box.setInformativeText(
            tr("A receiver makes a new certificate when it is reset or updated, but a changed "
               "certificate can also mean that another machine poses as your receiver. Trust "
               "the new one only when you know why it changed.\n\nTrusted before (SHA-256):\n%1"
               "\n\nShown now (SHA-256):\n%2\n\n%3")
                .arg(twoLines(certificate.trusted), twoLines(certificate.fingerprint), validity));
    } else {
        box.setIcon(QMessageBox::Question);
        box.setText(tr("The receiver at %1 shows a certificate that this computer can't vouch "
                       "for. Receivers make their own certificates.")
                        .arg(certificate.receiver));
        box.setInformativeText(
            tr("Compare its fingerprint with the one the receiver shows, and trust it only when "
               "the two are the same. Quillora then sends to this receiver without asking "
               "again.\n\nSHA-256 fingerprint:\n%1\n\n%2")
                .arg(twoLines(certificate.fingerprint), validity));
    }
    QPushButton *trust = box.addButton(tr("&Trust"), QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(certificate.changed() ? cancel : trust);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == trust;
}

StandbyChoice AskToWake(QWidget *window, bool nothingAnswers)
{
    QMessageBox box(ownerOf(window));
    box.setWindowTitle(nothingAnswers ? tr("Receiver Not Answering") : tr("Receiver in Standby"));
    box.setTextFormat(Qt::PlainText);
    box.setIcon(QMessageBox::Question);
    box.setText(nothingAnswers
                    ? tr("Nothing answers at the receiver: it may be in deep standby or switched "
                         "off.")
                    : tr("The receiver is in standby, so nobody would see the message."));
    QPushButton *wake = box.addButton(tr("&Wake and Send"), QMessageBox::AcceptRole);
    // Sent anyway, a message reaches a receiver in standby; nothing reaches one that is off.
    QPushButton *anyway
        = nothingAnswers ? nullptr : box.addButton(tr("Send &Anyway"), QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(wake);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == wake               ? StandbyChoice::WakeAndSend
           : anyway && box.clickedButton() == anyway ? StandbyChoice::SendAnyway
                                                     : StandbyChoice::Cancel;
}
