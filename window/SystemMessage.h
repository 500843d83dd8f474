#pragma once

#include <QString>

class QWidget;
struct UntrustedCertificate;

// The one way the program tells the user something: a modal box titled "System Message" with the
// stop icon and an OK button. It belongs to window while that is on screen. Returns once closed.
void ShowSystemMessage(QWidget *window, const QString &text, const QString &details = {});

// Asks whether to trust a receiver's certificate that nothing vouches for: a modal box with the
// receiver, the fingerprint and the validity dates, or, for a certificate that changed since it
// was trusted, both fingerprints. True when the user chose "Trust".
bool AskToTrustCertificate(QWidget *window, const UntrustedCertificate &certificate);

// What to do with a message for a receiver in standby.
enum class StandbyChoice { WakeAndSend, SendAnyway, Cancel };

// Asks it, in a modal box: "Wake and Send" (the default), "Send Anyway" or "Cancel". Where nothing
// answers at the receiver (it may be in deep standby or off) only waking it or cancelling can
// help, so the box offers those two alone.
StandbyChoice AskToWake(QWidget *window, bool nothingAnswers);
