// quillora-relay: the house's notifications, shown on the TV once somebody can see them.
#include "PlainText.h"
#include "Relay.h"
#include "RelaySettings.h"
#include "StopSignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QTextStream>

#include "SettingsPlace.h"

namespace {

enum ExitStatus { Success = 0, BadSettings = 2 };

const char *const HelpEnd = R"(
Exit status:
  0  stopped when asked (SIGTERM or SIGINT, Ctrl+C), or --check found the settings good
  2  the settings are wrong, or what they name can't be had (the message names the line)

Examples:
  quillora-relay --config /etc/quillora/relay.ini --check
      Says what the settings hold, without a token or a login.

  curl -d "The washing machine is done" http://127.0.0.1:8093/living-room
      Has the receiver named living-room show that text, once its screen is on.
)";

void say(const QString &line)
{
    QTextStream(stderr) << QDateTime::currentDateTime().toString(Qt::ISODate) << ' ' << line
                        << Qt::endl;
}

int badSettings(const QString &file, const QString &why)
{
    QTextStream(stderr) << "quillora-relay: " << QDir::toNativeSeparators(file) << ": " << why
                        << Qt::endl;
    return BadSettings;
}

// --config, else relay.ini next to the program, else in the user's settings folder.
QString settingsFile(const QCommandLineParser &arguments)
{
    if (arguments.isSet(QStringLiteral("config")))
        return arguments.value(QStringLiteral("config"));
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/relay.ini");
    if (QFileInfo::exists(beside))
        return beside;
    return QFileInfo(SettingsPlace::ofThisProgram().writePath()).absolutePath()
           + QStringLiteral("/relay.ini");
}

// What --check prints: all that was understood, but no token's secret and no login.
QString understood(const QString &file, const RelaySettings &settings, const QString &store)
{
    QString said;
    QTextStream out(&said);
    out << "settings: " << QDir::toNativeSeparators(file) << '\n';
    out << "listen: " << settings.listenAddress.toString() << ':' << settings.listenPort << '\n';
    out << "store: " << QDir::toNativeSeparators(store) << '\n';
    out << "tokens: "
        << (settings.tokens.isEmpty() ? QStringLiteral("none (every request is taken)")
                                      : QStringLiteral("%1 set").arg(settings.tokens.size()))
        << '\n';
    if (settings.receivers.isEmpty())
        out << "receivers: none (every topic is answered 404)\n";
    for (auto receiver = settings.receivers.cbegin(); receiver != settings.receivers.cend();
         ++receiver)
        out << "receiver " << receiver.key() << ": " << receiver->shown()
            << (receiver->hasLogin ? " (with a login)" : "") << '\n';
    if (const auto &mqtt = settings.mqtt) {
        out << "mqtt: " << (mqtt->tls ? "mqtts://" : "mqtt://") << mqtt->host << ':' << mqtt->port
            << (mqtt->user.isEmpty() ? "" : " (with a login)") << ", client id "
            << mqtt->clientIdOr(QSysInfo::machineHostName()) << ", topics " << mqtt->prefix
            << "/<receiver>/notify, discovery "
            << (mqtt->discovery.isEmpty() ? QStringLiteral("none") : mqtt->discovery) << '\n';
    }
    return said;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillora-relay"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLORA_VERSION));
    QCommandLineParser arguments;
    arguments.setApplicationDescription(QStringLiteral(
        "Takes the house's notifications (ntfy, Gotify, webhooks, MQTT) and shows each on the TV, "
        "in "
        "order, once, while the screen is on and the message is still worth showing."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on commandline options."));
    arguments.addOption(help);
    arguments.addVersionOption();
    arguments.addOption(
        {QStringLiteral("config"), QStringLiteral("The settings file."), QStringLiteral("FILE")});
    arguments.addOption({QStringLiteral("check"),
                         QStringLiteral("Read the settings, say what they hold, and end.")});
    arguments.process(application);
    if (arguments.isSet(help)) {
        QTextStream(stdout) << arguments.helpText() << HelpEnd;
        return Success;
    }

    const QString file = settingsFile(arguments);
    QFile opened(file);
    if (!opened.open(QIODevice::ReadOnly))
        return badSettings(file, QStringLiteral("can't be read: %1").arg(opened.errorString()));
    const auto read = ReadRelaySettings(opened.readAll());
    if (const QString *why = std::get_if<QString>(&read))
        return badSettings(file, *why);
    const RelaySettings &settings = std::get<RelaySettings>(read);
    const QString store = QFileInfo(file).absoluteDir().absoluteFilePath(settings.store);
    if (arguments.isSet(QStringLiteral("check"))) {
        QTextStream(stdout) << understood(file, settings, store);
        return Success;
    }
    auto opening = RelayStore::Open(store);
    if (const QString *why = std::get_if<QString>(&opening))
        return badSettings(file, *why);
    Relay::Options options;
    options.log = [](const QString &line) {
        say(PlainText::from(line, 4 * PlainText::MaxLength));
    };
    Relay relay(settings, std::move(std::get<std::unique_ptr<RelayStore>>(opening)), options);
    if (const auto why = relay.start())
        return badSettings(file, *why);
    say(QStringLiteral("listening at %1 port %2")
            .arg(settings.listenAddress.toString())
            .arg(relay.port()));
    OnStopSignal([&relay] {
        say(QStringLiteral("stopping: every accepted message is kept in the store"));
        relay.stop([] { QCoreApplication::exit(Success); });
    });
    return QCoreApplication::exec();
}
