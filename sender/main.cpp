// Sends one message to the receiver from the command line, exactly as the window's Send button
// does, for scripts, cron jobs and home-automation rules. Needs no display.
#include "Inet.h"
#include "Module1.h"
#include "SettingsCommands.h"
#include "SettingsPlace.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

enum ExitStatus { Delivered = 0, NotDelivered = 1, UsageError = 2 };

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

const char *const Epilogue = R"(
Exit status:
  0  every receiver took the message
  1  a receiver did not take it; standard error says which and why
  2  the command line was wrong, and nothing was sent

Examples:
  quillora-send -a 192.168.1.20 -t 10 "The washing machine has finished"
  df -h / | tail -1 | quillora-send --type warning -a tv-living -a tv-kitchen -c Disk
)";

// The address as it may be shown: without a login, which is nobody else's business.
QString withoutLogin(const QString &address)
{
    return address.mid(address.lastIndexOf(QLatin1Char('@')) + 1);
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
        QStringLiteral("Receiver address, as in the window: host[:port] or "
                       "user:password@host[:port]. Give it again for more receivers."),
        QStringLiteral("address"));
    const QCommandLineOption timeout({QStringLiteral("t"), QStringLiteral("timeout")},
                                     QStringLiteral("Timeout sent with the message."),
                                     QStringLiteral("timeout"));
    const QCommandLineOption caption({QStringLiteral("c"), QStringLiteral("caption")},
                                     QStringLiteral("Caption (default \"Quillora\")."),
                                     QStringLiteral("caption"),
                                     QStringLiteral("Quillora"));
    const QCommandLineOption type(
        QStringLiteral("type"),
        QStringLiteral("Box shown by receivers of the second generation: info, warning or error "
                       "(default info). The first generation shows every message alike."),
        QStringLiteral("type"),
        QStringLiteral("info"));
    const QCommandLineOption maxTime(
        QStringLiteral("max-time"),
        QStringLiteral("Seconds to wait for each receiver's answer (default 60)."),
        QStringLiteral("seconds"),
        QStringLiteral("60"));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral(
            "Show on standard error what is said to each receiver and what it answers."));
    const QCommandLineOption settings(
        QStringLiteral("settings"),
        QStringLiteral(
            "Settings file to take the address and timeout from "
            "(default: Tavrel.INI next to the program, or in the user's settings folder when "
            "the program's folder can't be written)."),
        QStringLiteral("file"));
    parser.addOptions({address, timeout, caption, type, maxTime, verbose, settings});
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

    static const QStringList types
        = {QStringLiteral("info"), QStringLiteral("warning"), QStringLiteral("error")};
    const qsizetype boxType = types.indexOf(parser.value(type));
    if (boxType < 0)
        return usageError(QStringLiteral("unknown message type \"%1\": use info, warning or error")
                              .arg(parser.value(type)));
    bool isNumber = false;
    const double seconds = parser.value(maxTime).toDouble(&isNumber);
    if (!isNumber || !(seconds > 0) || seconds > 24 * 3600)
        return usageError(QStringLiteral("--max-time wants a number of seconds greater than 0"));

    // Defaults come from the settings file as the window reads it; it is never written here.
    ReceiverSettings stored;
    if (parser.isSet(settings)) {
        const QString path = parser.value(settings);
        if (const QString why = Module1::SettingsFileUnreadable(path); !why.isEmpty())
            return usageError(QStringLiteral("can't read the settings file %1: %2").arg(path, why));
        stored = LoadSettings(path);
    } else {
        stored = LoadSettings(SettingsPlace::ofThisProgram().readPath());
    }

    Message message;
    message.timeout = parser.isSet(timeout) ? parser.value(timeout) : stored.timeout;
    message.caption = parser.value(caption);
    message.type = static_cast<int>(boxType) + 1;
    QStringList addresses;
    for (const QString &typed :
         parser.isSet(address) ? parser.values(address) : QStringList{stored.address}) {
        if (!typed.trimmed().isEmpty() && !addresses.contains(typed.trimmed()))
            addresses += typed.trimmed();
    }
    if (addresses.isEmpty())
        return usageError(QStringLiteral(
            "no receiver address: give one with --address or keep it in the settings file"));

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

    Inet inet(std::chrono::milliseconds(qRound64(seconds * 1000)));
    QTextStream errors(stderr);
    if (parser.isSet(verbose))
        inet.setTrace([&errors](const QString &line) { errors << line << Qt::endl; });
    int status = Delivered;
    qsizetype pending = addresses.size();
    for (const QString &receiver : addresses) {
        message.address = receiver;
        inet.Send(message, &application, [&, receiver](const QString &failure) {
            if (!failure.isEmpty()) {
                status = NotDelivered;
                errors << "quillora-send: message not delivered"
                       << (addresses.size() > 1 ? " to " + withoutLogin(receiver) : QString())
                       << ": " << failure << Qt::endl;
            }
            if (--pending == 0)
                QCoreApplication::exit(status);
        });
    }
    return pending > 0 ? QCoreApplication::exec() : status;
}
