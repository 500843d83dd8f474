// Sends one message to the receiver from the command line, exactly as the window's Send button
// does, for scripts, cron jobs and home-automation rules. Needs no display.
#include "CommandLine.h"
#include "Inet.h"
#include "Module1.h"
#include "PlainText.h"
#include "ReceiverFinder.h"
#include "SettingsCommands.h"
#include "SettingsPlace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <unistd.h>
#include <variant>

namespace {

using namespace CommandLine;

int usageError(const QString &problem)
{
    QTextStream(stderr) << "quillora-send: " << problem
                        << "\nTry 'quillora-send --help' for more information." << Qt::endl;
    return Usage;
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

QString fingerprintAdvice(const UntrustedCertificate &certificate)
{
    const QString fingerprint = FormatFingerprint(certificate.fingerprint);
    return QStringLiteral(". If it is your receiver's, trust it with --fingerprint %1, or keep "
                          "it in the settings file as %2=%1 in section [Certificates]")
        .arg(fingerprint, certificate.receiver);
}

// Where nothing answers, the receiver may be in deep standby: how quillora-send can wake it.
QString deepStandbyAdvice(const Message &message, const SendFailure &failure)
{
    if (failure.kind != SendFailure::Kind::RefusedConnection
        || std::holds_alternative<PowerQuery>(message.kind))
        return {};
    if (message.hardwareAddress.isEmpty())
        return QStringLiteral("; to wake it from deep standby, give --wake --mac and its hardware "
                              "address");
    return message.standby == InStandby::Wake
               ? QString()
               : QStringLiteral("; to wake it from deep standby, give --wake");
}

// The receivers as a script reads them: one JSON array, or one line each. On a terminal the
// columns are aligned; elsewhere a tab separates them. The name comes last, so that a space in
// it can never pass for a column of its own.
void printReceivers(const QList<FoundReceiver> &found, bool json)
{
    QTextStream out(stdout);
    if (json) {
        QJsonArray receivers;
        for (const FoundReceiver &receiver : found)
            receivers.append(QJsonObject{
                {QStringLiteral("name"), PlainText::from(receiver.name)},
                {QStringLiteral("address"), receiver.address},
                {QStringLiteral("kind"), receiver.kind},
                {QStringLiteral("confirmed"), receiver.kind != QLatin1String("unconfirmed")}});
        out << QJsonDocument(receivers).toJson(QJsonDocument::Compact) << Qt::endl;
        return;
    }
    const bool terminal = isatty(STDOUT_FILENO);
    qsizetype addressWidth = 0;
    qsizetype kindWidth = 0;
    for (const FoundReceiver &receiver : found) {
        addressWidth = std::max(addressWidth, receiver.address.size() + 2);
        kindWidth = std::max(kindWidth, receiver.kind.size() + 2);
    }
    for (const FoundReceiver &receiver : found)
        out << (terminal ? receiver.address.leftJustified(addressWidth) : receiver.address + u'\t')
            << (terminal ? receiver.kind.leftJustified(kindWidth) : receiver.kind + u'\t')
            << PlainText::from(receiver.name) << Qt::endl;
}

// Lists the receivers on the local network, sorted by name; 0 when at least one was found, else
// 1 with what to check.
int findReceivers(const FindJob &job)
{
    QTextStream errors(stderr);
    ReceiverFinder finder;
    if (job.verbose)
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
    std::sort(found.begin(), found.end(), [](const FoundReceiver &a, const FoundReceiver &b) {
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    if (job.json || !found.isEmpty())
        printReceivers(found, job.json);
    if (!found.isEmpty())
        return CommandLine::Success;
    errors << "quillora-send: no receiver answered on the local network. Check that the "
              "receiver is switched on and on the same network as this computer, and that "
              "no firewall holds back multicast DNS (UDP port 5353)."
           << Qt::endl;
    return CommandLine::NotDelivered;
}

// The body from the words, or from standard input; or why there is none.
std::variant<QString, UsageError> bodyOf(const QStringList &words)
{
    QString body = words.join(QLatin1Char(' '));
    if (words.isEmpty() || words == QStringList{QStringLiteral("-")}) {
        if (isatty(STDIN_FILENO))
            return UsageError{QStringLiteral("no message: give it as words or on standard input")};
        const std::optional<QString> read = readBody();
        if (!read)
            return UsageError{QStringLiteral("the message on standard input is longer than 1 MiB")};
        body = *read;
    }
    // In a script an empty message is nearly always a variable that came out empty.
    if (body.isEmpty())
        return UsageError{QStringLiteral("the message is empty")};
    return body;
}

// A login kept where others may read it is worth a word, and the send goes on.
void warnOfReadableLogin(const QString &settingsPath, const QString &storedAddress)
{
    const auto kept = ParseReceiverAddress(storedAddress);
    if (!std::holds_alternative<ReceiverAddress>(kept) || !std::get<ReceiverAddress>(kept).hasLogin
        || !Module1::OthersCanRead(settingsPath))
        return;
    const QString file = QDir::toNativeSeparators(QFileInfo(settingsPath).absoluteFilePath());
    QTextStream(stderr) << "quillora-send: warning: " << file
                        << " holds a login, and other users can read it; make it yours alone "
                           "with: chmod 600 "
                        << file << Qt::endl;
}

// What one receiver's send has to say: on standard output and on standard error.
struct Said
{
    QString out;
    QString err;
    QJsonObject state; // for --status --json
};

// The words for one receiver's outcome; several: more than one receiver, each named.
Said said(const Message &message, const SendOutcome &outcome, const SendJob &job, bool several)
{
    Said said;
    const QString address = message.address.shown();
    const bool powerQuery = std::holds_alternative<PowerQuery>(message.kind);
    if (powerQuery) {
        // A receiver that did not answer is "unknown" too; why goes to standard error.
        static const char *const powers[] = {"on", "standby", "unknown"};
        const QString state
            = QLatin1String(powers[int(outcome.power.value_or(SendOutcome::Power::Unknown))]);
        said.out = (several ? address + QLatin1Char(' ') : QString()) + state + u'\n';
        said.state
            = {{QStringLiteral("address"), address},
               {QStringLiteral("state"), state},
               {QStringLiteral("reason"),
                outcome.failure ? QJsonValue(PlainText::from(outcome.reason)) : QJsonValue()}};
    }
    const auto question = std::get_if<Question>(&message.kind);
    if (outcome.failure)
        said.err = (question     ? QStringLiteral("quillora-send: question not answered")
                    : powerQuery ? QStringLiteral("quillora-send: power state not known")
                                 : QStringLiteral("quillora-send: message not delivered"))
                   + (several ? QStringLiteral(" to ") + address : QString()) + QStringLiteral(": ")
                   + PlainText::from(outcome.reason) + deepStandbyAdvice(message, *outcome.failure)
                   + (outcome.untrusted ? fingerprintAdvice(*outcome.untrusted) : QString())
                   + u'\n';
    else if (question && outcome.answer == SendOutcome::Answer::NotInTime)
        said.err = QStringLiteral("quillora-send: nobody answered within %1 seconds; the "
                                  "question stays on the screen\n")
                       .arg(question->wait.count());
    if (question && job.printAnswer && outcome.answer)
        said.out = *outcome.answer == SendOutcome::Answer::Yes  ? QStringLiteral("yes\n")
                   : *outcome.answer == SendOutcome::Answer::No ? QStringLiteral("no\n")
                                                                : QStringLiteral("none\n");
    return said;
}

// Sends each message, all at once, and ends with the worst of their statuses. What each
// receiver's send says comes in the order the receivers were given, whichever answers first.
int sendAll(const QList<Message> &messages, const SendJob &job, const CertificateTrust &trust)
{
    QTextStream out(stdout);
    QTextStream errors(stderr);
    Inet inet{job.maxTime};
    inet.setCertificateTrust(trust);
    if (job.verbose)
        inet.setTrace(
            [&errors](const QString &line) { errors << PlainText::from(line) << Qt::endl; });
    ExitStatus status = Success;
    qsizetype pending = messages.size();
    QList<std::optional<Said>> saying(messages.size());
    qsizetype told = 0;
    QJsonArray states;
    QObject context;
    for (qsizetype i = 0; i < messages.size(); ++i) {
        inet.Send(messages[i], &context, [&, i](const SendOutcome &outcome) {
            saying[i] = said(messages[i], outcome, job, messages.size() > 1);
            status = Worse(status, StatusOf(outcome));
            for (; told < saying.size() && saying[told]; ++told) {
                errors << saying[told]->err << Qt::flush;
                if (job.json)
                    states.append(saying[told]->state);
                else
                    out << saying[told]->out << Qt::flush;
            }
            if (--pending > 0)
                return;
            if (job.json)
                out << QJsonDocument(states).toJson(QJsonDocument::Compact) << Qt::endl;
            QCoreApplication::exit(status);
        });
    }
    return QCoreApplication::exec();
}

// The send: its defaults from the settings file as the window reads it, which is never written
// here.
int send(const SendJob &job)
{
    const QString settingsPath = job.settings.value_or(SettingsPlace::ofThisProgram().readPath());
    if (job.settings)
        if (const QString why = Module1::SettingsFileUnreadable(settingsPath); !why.isEmpty())
            return usageError(
                QStringLiteral("can't read the settings file %1: %2").arg(settingsPath, why));
    const ReceiverSettings stored = LoadSettings(settingsPath);
    CertificateTrust trust;
    trust.anyReceiver = job.fingerprints;
    trust.kept = [settingsPath](const QString &receiver) {
        return TrustedFingerprint(settingsPath, receiver);
    };
    warnOfReadableLogin(settingsPath, stored.address);
    auto planned
        = Messages(job, stored.address, stored.timeout, [settingsPath](const QString &receiver) {
              return KeptHardwareAddress(settingsPath, receiver);
          });
    if (const UsageError *wrong = std::get_if<UsageError>(&planned))
        return usageError(wrong->problem);
    const auto body = job.status ? std::variant<QString, UsageError>() : bodyOf(job.words);
    if (const UsageError *wrong = std::get_if<UsageError>(&body))
        return usageError(wrong->problem);
    QList<Message> messages = std::get<QList<Message>>(std::move(planned));
    for (Message &message : messages)
        message.body = std::get<QString>(body);
    return sendAll(messages, job, trust);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillora-send"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLORA_VERSION));
    const Job job = Read(QCoreApplication::arguments());
    if (const UsageError *wrong = std::get_if<UsageError>(&job))
        return usageError(wrong->problem);
    if (const PrintJob *print = std::get_if<PrintJob>(&job)) {
        if (print->byQt)
            PrintByQt(QCoreApplication::arguments());
        QTextStream(stdout) << print->text;
        return Success;
    }
    if (const FindJob *find = std::get_if<FindJob>(&job))
        return findReceivers(*find);
    return send(std::get<SendJob>(job));
}
