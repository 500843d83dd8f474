#include "CommandLine.h"
#include "Fingerprint.h"
#include "WakeOnLan.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include <algorithm>

namespace CommandLine {

namespace {

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
  5  the receiver is in standby, so nothing was shown (--wake switches it on)

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

// An option, added to the parser as it is made, so that each is named once.
QCommandLineOption added(QCommandLineParser &parser, const QCommandLineOption &option)
{
    parser.addOption(option);
    return option;
}

// The options, as --help lists them.
struct Options
{
    QCommandLineOption address{QStringLiteral("a")};
    QCommandLineOption timeout{QStringLiteral("t")};
    QCommandLineOption caption{QStringLiteral("c")};
    QCommandLineOption type{QStringLiteral("type")};
    QCommandLineOption maxTime{QStringLiteral("max-time")};
    QCommandLineOption fingerprint{QStringLiteral("fingerprint")};
    QCommandLineOption verbose{QStringLiteral("verbose")};
    QCommandLineOption settings{QStringLiteral("settings")};
    QCommandLineOption find{QStringLiteral("find")};
    QCommandLineOption help{QStringLiteral("help")};
    QCommandLineOption version{QStringLiteral("version")};
    QCommandLineOption wake{QStringLiteral("wake")};
    QCommandLineOption evenInStandby{QStringLiteral("even-in-standby")};
    QCommandLineOption status{QStringLiteral("status")};
    QCommandLineOption mac{QStringLiteral("mac")};
    QCommandLineOption json{QStringLiteral("json")};
    QCommandLineOption printAnswer{QStringLiteral("print-answer")};
};

// The options that say what a run does; then those that say how.
void addWhatOptions(QCommandLineParser &parser, Options &options)
{
    parser.setApplicationDescription(QStringLiteral(
        "Puts a message on the TV through the receiver, as Quillora's Send button does.\n"
        "With no BODY, or the single word -, the body is read from standard input."));
    options.address = added(
        parser,
        QCommandLineOption(
            {QStringLiteral("a"), QStringLiteral("address")},
            QStringLiteral(
                "Receiver address, as in the window: [https://][user:password@]host[:port]. "
                "Give it again for more receivers."),
            QStringLiteral("address")));
    options.timeout = added(
        parser,
        QCommandLineOption(
            {QStringLiteral("t"), QStringLiteral("timeout")},
            QStringLiteral("Timeout sent with the message; for a question, the seconds to wait for "
                           "the answer (default: the settings file's, else 60)."),
            QStringLiteral("timeout")));
    options.caption = added(parser,
                            QCommandLineOption({QStringLiteral("c"), QStringLiteral("caption")},
                                               QStringLiteral("Caption (default \"Quillora\")."),
                                               QStringLiteral("caption"),
                                               QStringLiteral("Quillora")));
    options.type = added(
        parser,
        QCommandLineOption(
            QStringLiteral("type"),
            QStringLiteral("Box shown by receivers of the second generation: info, warning, error "
                           "(default info), or question: Yes and No, with the answer as the exit "
                           "status. The first generation shows every message alike and can't ask."),
            QStringLiteral("type"),
            QStringLiteral("info")));
}

void addHowOptions(QCommandLineParser &parser, Options &options)
{
    options.maxTime
        = added(parser,
                QCommandLineOption(
                    QStringLiteral("max-time"),
                    QStringLiteral("Seconds to wait for each receiver's answer (default 60)."),
                    QStringLiteral("seconds"),
                    QStringLiteral("60")));
    options.fingerprint
        = added(parser,
                QCommandLineOption(
                    QStringLiteral("fingerprint"),
                    QStringLiteral(
                        "Trust an HTTPS receiver's certificate with this SHA-256 fingerprint, for "
                        "this run. Give it again for more receivers."),
                    QStringLiteral("sha256")));
    options.verbose = added(
        parser,
        QCommandLineOption(
            QStringLiteral("verbose"),
            QStringLiteral(
                "Show on standard error what is said to each receiver and what it answers.")));
    options.settings = added(
        parser,
        QCommandLineOption(
            QStringLiteral("settings"),
            QStringLiteral(
                "Settings file to take the address, timeout and trusted certificates from "
                "(default: Tavrel.INI next to the program, or in the user's settings folder when "
                "the program's folder can't be written)."),
            QStringLiteral("file")));
    options.find = added(
        parser,
        QCommandLineOption(
            QStringLiteral("find"),
            QStringLiteral(
                "Send nothing: list the receivers on the local network, one per line: the "
                "address to type, what answers there (openwebif, maker or unconfirmed) and the "
                "name. Takes up to 3 seconds.")));
    options.wake
        = added(parser,
                QCommandLineOption(
                    QStringLiteral("wake"),
                    QStringLiteral(
                        "A receiver in standby is switched on first, and shown the message once "
                        "its screen is on; one in deep standby gets a Wake-on-LAN packet for its "
                        "hardware address (--mac, or the settings file's). --max-time is then "
                        "120 unless given.")));
    options.evenInStandby
        = added(parser,
                QCommandLineOption(
                    QStringLiteral("even-in-standby"),
                    QStringLiteral("Send without asking whether the receiver is in standby.")));
    options.status = added(
        parser,
        QCommandLineOption(
            QStringLiteral("status"),
            QStringLiteral("Send nothing: print whether each receiver is on, in standby or unknown "
                           "(exit status 0, 5, or 1 when one did not answer).")));
    options.mac = added(
        parser,
        QCommandLineOption(
            QStringLiteral("mac"),
            QStringLiteral("The receiver's hardware address for --wake, as 00:09:34:AB:CD:EF."),
            QStringLiteral("address")));
    options.json = added(
        parser,
        QCommandLineOption(QStringLiteral("json"),
                           QStringLiteral("With --find or --status: print one JSON array of "
                                          "objects, and nothing else, on standard output.")));
    options.printAnswer = added(
        parser,
        QCommandLineOption(QStringLiteral("print-answer"),
                           QStringLiteral("With --type question: print the answer (yes, no or "
                                          "none) on standard output as well.")));
    options.help = parser.addHelpOption();
    options.version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("BODY"),
                                 QStringLiteral("Words of the message, joined by spaces."),
                                 QStringLiteral("[BODY...]"));
}

Options addOptions(QCommandLineParser &parser)
{
    Options options;
    addWhatOptions(parser, options);
    addHowOptions(parser, options);
    return options;
}

} // namespace

namespace {

// How long to wait for a person's answer: whole seconds from 1 to a day.
std::optional<int> waitSeconds(const QString &text)
{
    bool isNumber = false;
    const int seconds = text.trimmed().toInt(&isNumber);
    if (!isNumber || seconds < 1 || seconds > 24 * 3600)
        return std::nullopt;
    return seconds;
}

// The options of a send, checked one by one in the order a user reads them.
Job sendJob(const QCommandLineParser &parser, const Options &options)
{
    SendJob job;
    static const QStringList types = {QStringLiteral("question"),
                                      QStringLiteral("info"),
                                      QStringLiteral("warning"),
                                      QStringLiteral("error")};
    const qsizetype type = types.indexOf(parser.value(options.type).toLower());
    if (type < 0)
        return UsageError{
            QStringLiteral("unknown message type \"%1\": use info, warning, error or question")
                .arg(parser.value(options.type))};
    if (type > 0)
        job.box = static_cast<BoxType>(type);
    if (parser.isSet(options.wake) && parser.isSet(options.evenInStandby))
        return UsageError{QStringLiteral("--wake and --even-in-standby don't go together: give "
                                         "one of them")};
    job.standby = parser.isSet(options.wake)            ? InStandby::Wake
                  : parser.isSet(options.evenInStandby) ? InStandby::SendAnyway
                                                        : InStandby::Refuse;
    job.status = parser.isSet(options.status);
    if (job.status && !parser.positionalArguments().isEmpty())
        return UsageError{QStringLiteral("--status sends no message: give it no message")};
    job.json = parser.isSet(options.json);
    if (job.json && !job.status)
        return UsageError{QStringLiteral("--json goes with --find or --status")};
    job.printAnswer = parser.isSet(options.printAnswer);
    if (job.printAnswer && !job.isQuestion())
        return UsageError{QStringLiteral("--print-answer goes with --type question")};
    if (parser.isSet(options.mac)) {
        job.hardwareAddress = ParseHardwareAddress(parser.value(options.mac));
        if (!job.hardwareAddress)
            return UsageError{QStringLiteral("--mac wants a hardware address of six hex pairs, "
                                             "as 00:09:34:AB:CD:EF or 00-09-34-AB-CD-EF, not "
                                             "\"%1\"")
                                  .arg(parser.value(options.mac))};
        if (!IsWakeable(*job.hardwareAddress))
            return UsageError{QStringLiteral("--mac wants the receiver's own hardware address, "
                                             "not \"%1\": a broadcast, multicast or all-zero "
                                             "address wakes no single receiver")
                                  .arg(parser.value(options.mac))};
    }
    bool isNumber = false;
    // Receivers take a minute or more to start from deep standby.
    const QString maxTime = parser.isSet(options.maxTime) || !parser.isSet(options.wake)
                                ? parser.value(options.maxTime)
                                : QStringLiteral("120");
    const double seconds = maxTime.toDouble(&isNumber);
    // Whole milliseconds: anything less would be no time at all.
    job.maxTime = std::chrono::milliseconds(isNumber ? qRound64(seconds * 1000) : 0);
    if (!isNumber || job.maxTime.count() < 1 || seconds > 24 * 3600)
        return UsageError{
            QStringLiteral("--max-time wants a number of seconds from 0.001 to 86400")};
    for (const QString &typed : parser.values(options.fingerprint)) {
        const std::optional<QByteArray> sha256 = ParseFingerprint(typed);
        if (!sha256)
            return UsageError{QStringLiteral("--fingerprint wants a SHA-256 fingerprint: 32 "
                                             "bytes in hex, as AB:CD:… or abcd…, not \"%1\"")
                                  .arg(typed)};
        job.fingerprints += *sha256;
    }
    job.addresses = parser.values(options.address);
    if (parser.isSet(options.timeout))
        job.timeout = parser.value(options.timeout);
    job.caption = parser.value(options.caption);
    job.verbose = parser.isSet(options.verbose);
    if (parser.isSet(options.settings))
        job.settings = parser.value(options.settings);
    job.words = parser.positionalArguments();
    return job;
}

// What was wrong with the command line, in quillora-send's own words, each option as typed.
UsageError parseProblem(const QCommandLineParser &parser, const QStringList &arguments)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty()) {
        // A value missing after an option, or given to one that takes none: which one, only the
        // parser's text tells ("Missing value after '-a'.", "Unexpected value after '--help'.").
        static const QRegularExpression quoted(
            QStringLiteral("^(Missing|Unexpected) value after '(.*)'\\.$"));
        const QRegularExpressionMatch which = quoted.match(parser.errorText());
        if (!which.hasMatch())
            return UsageError{parser.errorText()};
        return UsageError{(which.captured(1) == QLatin1String("Missing")
                               ? QStringLiteral("%1 wants a value")
                               : QStringLiteral("%1 takes no value"))
                              .arg(which.captured(2))};
    }
    const QString &name = unknown.first();
    QString typed = (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    for (const QString &argument : arguments.mid(1))
        if (argument == QLatin1String("--"))
            break;
        else if (argument.startsWith(QStringLiteral("--") + name + QLatin1Char('=')))
            typed = argument.section(QLatin1Char('='), 0, 0);
    return UsageError{QStringLiteral("unknown option %1: check its spelling").arg(typed)};
}

} // namespace

Job Read(const QStringList &arguments)
{
    QCommandLineParser parser;
    const Options options = addOptions(parser);
    if (!parser.parse(arguments))
        return parseProblem(parser, arguments);
    // Options that only inform answer and end the program before anything is read or sent.
    if (parser.isSet(options.help))
        return PrintJob{parser.helpText() + QString::fromUtf8(Epilogue), false};
    if (parser.isSet(QStringLiteral("help-all")) || parser.isSet(options.version))
        return PrintJob{{}, true};
    if (parser.isSet(options.find)) {
        if (!parser.positionalArguments().isEmpty() || parser.isSet(options.address)
            || parser.isSet(options.type) || parser.isSet(options.timeout))
            return UsageError{QStringLiteral("--find sends nothing: give it no message, address, "
                                             "type or timeout")};
        return FindJob{parser.isSet(options.verbose), parser.isSet(options.json)};
    }
    return sendJob(parser, options);
}

void PrintByQt(const QStringList &arguments)
{
    QCommandLineParser parser;
    addOptions(parser);
    parser.process(arguments);
}

std::variant<QList<Message>, UsageError>
Messages(const SendJob &job,
         const QString &storedAddress,
         const QString &storedTimeout,
         const std::function<QString(const QString &receiverKey)> &keptHardwareAddress)
{
    Message message;
    message.caption = job.caption;
    message.standby = job.standby;
    const QString timeout = job.timeout.value_or(storedTimeout);
    if (job.status) {
        message.kind = PowerQuery{};
    } else if (job.isQuestion()) {
        const QString typed = timeout.isEmpty() ? QStringLiteral("60") : timeout;
        const std::optional<int> wait = waitSeconds(typed);
        if (!wait)
            return UsageError{QStringLiteral("the time to wait for an answer must be whole "
                                             "seconds from 1 to 86400, not \"%1\"")
                                  .arg(typed)};
        message.kind = Question{std::chrono::seconds(*wait)};
    } else {
        message.kind = Notice{*job.box, timeout};
    }
    QList<Message> messages;
    QStringList typed; // each address once
    for (const QString &address :
         job.addresses.isEmpty() ? QStringList{storedAddress} : job.addresses) {
        if (address.trimmed().isEmpty() || typed.contains(address.trimmed()))
            continue;
        // An address that can't be used is a typo, not a receiver that is switched off.
        auto parsed = ParseReceiverAddress(address);
        if (const QString *invalid = std::get_if<QString>(&parsed))
            return UsageError{*invalid};
        typed += address.trimmed();
        message.address = std::get<ReceiverAddress>(std::move(parsed));
        const QString kept
            = keptHardwareAddress ? keptHardwareAddress(message.address.receiverKey()) : QString();
        auto hardwareAddress
            = job.hardwareAddress ? job.hardwareAddress : ParseHardwareAddress(kept);
        if (hardwareAddress && !IsWakeable(*hardwareAddress))
            hardwareAddress.reset();
        message.hardwareAddress
            = hardwareAddress ? FormatHardwareAddress(*hardwareAddress) : QString();
        messages += message;
    }
    if (messages.isEmpty())
        return UsageError{QStringLiteral(
            "no receiver address: give one with --address or keep it in the settings file")};
    if (job.isQuestion() && messages.size() > 1)
        return UsageError{QStringLiteral("a question goes to one receiver only")};
    return messages;
}

// What each way a send fails means for a script.
ExitStatus StatusOfFailure(SendFailure::Kind kind)
{
    using Kind = SendFailure::Kind;
    switch (kind) {
    case Kind::NoAnswer:
    case Kind::RefusedConnection:
    case Kind::NameUnknown:
    case Kind::LoginWanted:
    case Kind::LoginRefused:
    case Kind::TimedOut:
    case Kind::HttpError:
    case Kind::RefusedByReceiver:
    case Kind::CantAsk:
    case Kind::NotUnderstood:
    case Kind::CertificateUntrusted:
    case Kind::CertificateChanged:
    case Kind::TlsFailed:
    case Kind::NotAwake:
    case Kind::Cancelled:
        return NotDelivered;
    case Kind::InStandby:
        return InStandby;
    }
    return NotDelivered;
}

ExitStatus StatusOf(const SendOutcome &outcome)
{
    if (outcome.failure)
        return StatusOfFailure(outcome.failure->kind);
    if (outcome.power == SendOutcome::Power::Standby)
        return InStandby;
    if (outcome.answer == SendOutcome::Answer::No)
        return AnsweredNo;
    if (outcome.answer == SendOutcome::Answer::NotInTime)
        return NotAnswered;
    return Success;
}

ExitStatus Worse(ExitStatus a, ExitStatus b)
{
    const auto rank = [](ExitStatus status) {
        return status == NotDelivered ? 3 : status == InStandby ? 2 : status == Success ? 0 : 1;
    };
    return rank(b) > rank(a) ? b : a;
}

} // namespace CommandLine
