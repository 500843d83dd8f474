// Sends one message to the receiver from the command line, exactly as the window's Send button
// does, for scripts, cron jobs and home-automation rules. Needs no display.
#include "Inet.h"
#include "Module1.h"
#include "PlainText.h"
#include "ReceiverAddress.h"
#include "ReceiverFinder.h"
#include "SettingsCommands.h"
#include "SettingsPlace.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <unistd.h>
#include <variant>

namespace {

enum ExitStatus {
    Delivered = 0,    // every receiver took the message; for a question, a person answered Yes
    NotDelivered = 1, // a receiver did not take it, or the answer could not be read
    UsageError = 2,   // the command line was wrong, and nothing was sent
    AnsweredNo = 3,   // a person answered the question No
    NotAnswered = 4,  // nobody answered the question within the wait
};

int usageError(const QString &problem)
{
    QTextStream(stderr) << "quillora-send: " << problem
                        << "\nTry 'quillora-send --help' for more information." << Qt::endl;
    return UsageError;
}

// A message is a few lines; an endless stream on standard input must not fill the memory.
constexpr qint64 MaxInput = 1024 * 1024;

// The body from standard input: all of it, less one final line break; nothing when it is longer
// than any message.
std::optional<QString> readBody()
{
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return QString();
    QByteArray text;
    for (QByteArray more; text.size() <= MaxInput; text += more)
        if ((more = in.read(MaxInput + 1 - text.size())).isEmpty())
            break;
    if (text.size() > MaxInput)
        return std::nullopt;
    if (text.endsWith('\n'))
        text.chop(text.endsWith("\r\n") ? 2 : 1);
    return QString::fromUtf8(text);
}

// Each example on a line of its own, with a blank line between, so that the manual page made
// from this text keeps them apart. On Windows the second one is what a command prompt can run.
const char *const Epilogue
    = R"(
Exit status:
  0  every receiver took the message; for a question, a person answered Yes
  1  a receiver did not take it, or the question's answer could not be read;
     standard error says which and why
  2  the command line or an address was wrong, and nothing was sent
  3  a person answered the question No
  4  nobody answered the question within the wait; it stays on the screen

Examples:
  quillora-send -a 192.168.1.20 -t 10 "The washing machine has finished"

)"
#ifdef Q_OS_WIN
      R"(  echo Disk C: is nearly full | quillora-send --type warning -a tv-living -c Disk
)"
#else
      R"(  df -h / | tail -1 | quillora-send --type warning -a tv-living -a tv-kitchen -c Disk
)"
#endif
      R"(
  quillora-send --type question -a 192.168.1.20 -t 30 "Switch the NAS off?" && nas-off
)";

QString fingerprintAdvice(const UntrustedCertificate &certificate)
{
    const QString fingerprint = FormatFingerprint(certificate.fingerprint);
    return QStringLiteral(". If it is your receiver's, trust it with --fingerprint %1, or keep "
                          "it in the settings file as %2=%1 in section [Certificates]")
        .arg(fingerprint, certificate.receiver);
}

// How long to wait for a person's answer: whole seconds from 1 to a day.
std::optional<int> waitSeconds(const QString &text)
{
    bool isNumber = false;
    const int seconds = text.trimmed().toInt(&isNumber);
    if (!isNumber || seconds < 1 || seconds > 24 * 3600)
        return std::nullopt;
    return seconds;
}

// Lists the receivers on the local network, sorted by name, in columns; 0 when at least one
// was found, else 1 with what to check.
int findReceivers(bool verbose)
{
    QTextStream out(stdout);
    QTextStream errors(stderr);
    ReceiverFinder finder;
    if (verbose)
        finder.setTrace(
            [&errors](const QString &line) { errors << PlainText::from(line) << Qt::endl; });
    QList<FoundReceiver> found;
    QObject::connect(&finder,
                     &ReceiverFinder::found,
                     &finder,
                     [&found](const FoundReceiver &receiver) { found.append(receiver); });
    QObject::connect(&finder, &ReceiverFinder::finished, &finder, [] { QCoreApplication::exit(); });
    finder.start();
    QCoreApplication::exec();
    if (found.isEmpty()) {
        errors << "quillora-send: no receiver answered on the local network. Check that the "
                  "receiver is switched on and on the same network as this computer, and that "
                  "no firewall holds back multicast DNS (UDP port 5353)."
               << Qt::endl;
        return NotDelivered;
    }
    std::sort(found.begin(), found.end(), [](const FoundReceiver &a, const FoundReceiver &b) {
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    qsizetype nameWidth = 0;
    qsizetype addressWidth = 0;
    for (FoundReceiver &receiver : found) {
        receiver.name = PlainText::from(receiver.name);
        nameWidth = std::max(nameWidth, receiver.name.size());
        addressWidth = std::max(addressWidth, receiver.address.size());
    }
    for (const FoundReceiver &receiver : found)
        out << receiver.name.leftJustified(nameWidth + 2)
            << receiver.address.leftJustified(addressWidth + 2) << receiver.kind << Qt::endl;
    return Delivered;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillora-send"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLORA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Puts a message on the TV through the receiver, as Quillora's Send button does.\n"
        "With no BODY, or the single word -, the body is read from standard input."));
    const QCommandLineOption address(
        {QStringLiteral("a"), QStringLiteral("address")},
        QStringLiteral("Receiver address, as in the window: [https://][user:password@]host[:port]. "
                       "Give it again for more receivers."),
        QStringLiteral("address"));
    const QCommandLineOption timeout(
        {QStringLiteral("t"), QStringLiteral("timeout")},
        QStringLiteral("Timeout sent with the message; for a question, the seconds to wait for "
                       "the answer (default: the settings file's, else 60)."),
        QStringLiteral("timeout"));
    const QCommandLineOption caption({QStringLiteral("c"), QStringLiteral("caption")},
                                     QStringLiteral("Caption (default \"Quillora\")."),
                                     QStringLiteral("caption"),
                                     QStringLiteral("Quillora"));
    const QCommandLineOption type(
        QStringLiteral("type"),
        QStringLiteral("Box shown by receivers of the second generation: info, warning, error "
                       "(default info), or question: Yes and No, with the answer as the exit "
                       "status. The first generation shows every message alike and can't ask."),
        QStringLiteral("type"),
        QStringLiteral("info"));
    const QCommandLineOption maxTime(
        QStringLiteral("max-time"),
        QStringLiteral("Seconds to wait for each receiver's answer (default 60)."),
        QStringLiteral("seconds"),
        QStringLiteral("60"));
    const QCommandLineOption fingerprint(
        QStringLiteral("fingerprint"),
        QStringLiteral("Trust an HTTPS receiver's certificate with this SHA-256 fingerprint, for "
                       "this run. Give it again for more receivers."),
        QStringLiteral("sha256"));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral(
            "Show on standard error what is said to each receiver and what it answers."));
    const QCommandLineOption settings(
        QStringLiteral("settings"),
        QStringLiteral(
            "Settings file to take the address, timeout and trusted certificates from "
            "(default: Tavrel.INI next to the program, or in the user's settings folder when "
            "the program's folder can't be written)."),
        QStringLiteral("file"));
    const QCommandLineOption find(
        QStringLiteral("find"),
        QStringLiteral("Send nothing: list the receivers on the local network, one per line: name, "
                       "address to type and what answers there. Takes up to 3 seconds."));
    parser.addOptions(
        {address, timeout, caption, type, maxTime, fingerprint, verbose, settings, find});
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("BODY"),
                                 QStringLiteral("Words of the message, joined by spaces."),
                                 QStringLiteral("[BODY...]"));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    // Options that only inform answer and end the program before anything is read or sent.
    if (parser.isSet(help)) {
        QTextStream(stdout) << parser.helpText() << Epilogue;
        return Delivered;
    }
    if (parser.isSet(QStringLiteral("help-all")) || parser.isSet(version))
        parser.process(QCoreApplication::arguments()); // prints and ends the program

    if (parser.isSet(find)) {
        if (!parser.positionalArguments().isEmpty() || parser.isSet(address) || parser.isSet(type)
            || parser.isSet(timeout))
            return usageError(QStringLiteral("--find sends nothing: give it no message, address, "
                                             "type or timeout"));
        return findReceivers(parser.isSet(verbose));
    }

    static const QStringList types = {QStringLiteral("question"),
                                      QStringLiteral("info"),
                                      QStringLiteral("warning"),
                                      QStringLiteral("error")};
    const qsizetype boxType = types.indexOf(parser.value(type));
    if (boxType < 0)
        return usageError(
            QStringLiteral("unknown message type \"%1\": use info, warning, error or question")
                .arg(parser.value(type)));
    const bool question = boxType == Message::Question;
    bool isNumber = false;
    const double seconds = parser.value(maxTime).toDouble(&isNumber);
    // Whole milliseconds: anything less would be no time at all.
    const qint64 milliseconds = isNumber ? qRound64(seconds * 1000) : 0;
    if (!isNumber || milliseconds < 1 || seconds > 24 * 3600)
        return usageError(
            QStringLiteral("--max-time wants a number of seconds from 0.001 to 86400"));
    CertificateTrust trust;
    for (const QString &typed : parser.values(fingerprint)) {
        const std::optional<QByteArray> sha256 = ParseFingerprint(typed);
        if (!sha256)
            return usageError(QStringLiteral("--fingerprint wants a SHA-256 fingerprint: 32 "
                                             "bytes in hex, as AB:CD:… or abcd…, not \"%1\"")
                                  .arg(typed));
        trust.anyReceiver += *sha256;
    }

    // Defaults come from the settings file as the window reads it; it is never written here.
    const QString settingsPath = parser.isSet(settings) ? parser.value(settings)
                                                        : SettingsPlace::ofThisProgram().readPath();
    if (parser.isSet(settings)) {
        if (const QString why = Module1::SettingsFileUnreadable(settingsPath); !why.isEmpty())
            return usageError(
                QStringLiteral("can't read the settings file %1: %2").arg(settingsPath, why));
    }
    const ReceiverSettings stored = LoadSettings(settingsPath);
    trust.kept = [settingsPath](const QString &receiver) {
        return TrustedFingerprint(settingsPath, receiver);
    };
    QTextStream errors(stderr);
    if (const auto kept = ParseReceiverAddress(stored.address);
        std::holds_alternative<ReceiverAddress>(kept) && std::get<ReceiverAddress>(kept).hasLogin
        && Module1::OthersCanRead(settingsPath)) {
        const QString file = QDir::toNativeSeparators(QFileInfo(settingsPath).absoluteFilePath());
        errors << "quillora-send: warning: " << file
               << " holds a login, and other users can read it; make it yours alone with: "
                  "chmod 600 "
               << file << Qt::endl;
    }

    Message message;
    message.timeout = parser.isSet(timeout) ? parser.value(timeout) : stored.timeout;
    message.caption = parser.value(caption);
    message.type = static_cast<int>(boxType);
    if (question) {
        const QString typed = message.timeout.isEmpty() ? QStringLiteral("60") : message.timeout;
        const std::optional<int> wait = waitSeconds(typed);
        if (!wait)
            return usageError(QStringLiteral("the time to wait for an answer must be whole "
                                             "seconds from 1 to 86400, not \"%1\"")
                                  .arg(typed));
        message.wait = *wait;
    }

    QStringList addresses; // as typed, each once
    QStringList shown;     // the same, as messages may show them
    for (const QString &typed :
         parser.isSet(address) ? parser.values(address) : QStringList{stored.address}) {
        if (typed.trimmed().isEmpty() || addresses.contains(typed.trimmed()))
            continue;
        // An address that can't be used is a typo, not a receiver that is switched off.
        const auto parsed = ParseReceiverAddress(typed);
        if (const QString *invalid = std::get_if<QString>(&parsed))
            return usageError(*invalid);
        addresses += typed.trimmed();
        shown += std::get<ReceiverAddress>(parsed).shown();
    }
    if (addresses.isEmpty())
        return usageError(QStringLiteral(
            "no receiver address: give one with --address or keep it in the settings file"));
    if (question && addresses.size() > 1)
        return usageError(QStringLiteral("a question goes to one receiver only"));

    const QStringList words = parser.positionalArguments();
    if (words.isEmpty() || words == QStringList{QStringLiteral("-")}) {
        if (isatty(STDIN_FILENO))
            return usageError(QStringLiteral("no message: give it as words or on standard input"));
        const std::optional<QString> body = readBody();
        if (!body)
            return usageError(QStringLiteral("the message on standard input is longer than 1 MiB"));
        message.body = *body;
    } else {
        message.body = words.join(QLatin1Char(' '));
    }
    // In a script an empty message is nearly always a variable that came out empty.
    if (message.body.isEmpty())
        return usageError(QStringLiteral("the message is empty"));

    Inet inet{std::chrono::milliseconds(milliseconds)};
    inet.setCertificateTrust(trust);
    if (parser.isSet(verbose))
        inet.setTrace(
            [&errors](const QString &line) { errors << PlainText::from(line) << Qt::endl; });
    int status = Delivered;
    qsizetype pending = addresses.size();
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        message.address = addresses[i];
        inet.Send(message, &application, [&, receiver = shown[i]](const SendOutcome &outcome) {
            if (!outcome.failure.isEmpty()) {
                status = NotDelivered;
                errors << (question ? "quillora-send: question not answered"
                                    : "quillora-send: message not delivered")
                       << (addresses.size() > 1 ? " to " + receiver : QString()) << ": "
                       << PlainText::from(outcome.failure)
                       << (outcome.untrusted ? fingerprintAdvice(*outcome.untrusted) : QString())
                       << Qt::endl;
            } else if (outcome.answer == SendOutcome::Answer::No) {
                status = AnsweredNo;
            } else if (outcome.answer == SendOutcome::Answer::NotInTime) {
                status = NotAnswered;
                errors << "quillora-send: nobody answered within " << message.wait
                       << " seconds; the question stays on the screen" << Qt::endl;
            }
            if (--pending == 0)
                QCoreApplication::exit(status);
        });
    }
    return pending > 0 ? QCoreApplication::exec() : status;
}
