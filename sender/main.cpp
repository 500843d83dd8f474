// Sends one message to the receiver from the command line, exactly as the window's Send button
// does, for scripts, cron jobs and home-automation rules. Needs no display.
#include "Inet.h"
#include "Module1.h"
#include "SettingsCommands.h"

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
    const QCommandLineOption address({QStringLiteral("a"), QStringLiteral("address")},
                                     QStringLiteral("Receiver address, as in the window: "
                                                    "host[:port] or user:password@host[:port]."),
                                     QStringLiteral("address"));
    const QCommandLineOption timeout({QStringLiteral("t"), QStringLiteral("timeout")},
                                     QStringLiteral("Timeout sent with the message."),
                                     QStringLiteral("timeout"));
    const QCommandLineOption caption({QStringLiteral("c"), QStringLiteral("caption")},
                                     QStringLiteral("Caption (default \"Quillora\")."),
                                     QStringLiteral("caption"),
                                     QStringLiteral("Quillora"));
    const QCommandLineOption settings(
        QStringLiteral("settings"),
        QStringLiteral("Settings file to take the address and timeout from "
                       "(default: Tavrel.INI next to the program)."),
        QStringLiteral("file"));
    parser.addOptions({address, timeout, caption, settings});
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("BODY"),
                                 QStringLiteral("Words of the message, joined by spaces."),
                                 QStringLiteral("[BODY...]"));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        QTextStream(stdout) << parser.helpText();
        return Delivered;
    }
    if (parser.isSet(version)) {
        QTextStream(stdout) << "quillora-send " << QCoreApplication::applicationVersion()
                            << Qt::endl;
        return Delivered;
    }

    // Defaults come from the settings file as the window reads it; it is never written here.
    ReceiverSettings stored;
    if (parser.isSet(settings)) {
        const QString path = parser.value(settings);
        if (const QString why = Module1::SettingsFileUnreadable(path); !why.isEmpty())
            return usageError(QStringLiteral("can't read the settings file %1: %2").arg(path, why));
        stored = LoadSettings(path);
    } else {
        stored = LoadSettings(Module1::SettingsFilePath());
    }

    Message message;
    message.address = parser.isSet(address) ? parser.value(address) : stored.address;
    message.timeout = parser.isSet(timeout) ? parser.value(timeout) : stored.timeout;
    message.caption = parser.value(caption);
    if (message.address.isEmpty())
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

    Inet inet;
    int status = NotDelivered;
    inet.Send(message, &application, [&status](const QString &failure) {
        if (failure.isEmpty())
            status = Delivered;
        else
            QTextStream(stderr) << "quillora-send: message not delivered: " << failure << Qt::endl;
        QCoreApplication::exit(status);
    });
    return inet.pendingCount() > 0 ? QCoreApplication::exec() : status;
}
