// Plays the receiver on this machine, so Quillora can be tried without one:
//   quillora-receiver-sim 8080 [--firmware first|openwebif|maker] [--user NAME --password SECRET]
//                              [--max-line BYTES] [--tls-certificate FILE --tls-key FILE]
//                              [--announce NAME] [--answer yes|no|none] [--answer-after SECONDS]
//                              [--language CODE]
// then send to 127.0.0.1:8080 (or NAME:SECRET@127.0.0.1:8080, or https://127.0.0.1:8080).
#include "Announcer.h"
#include "ReceiverSim.h"
#include "SpokenAnswers.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslKey>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>

#include <optional>

namespace {

// The six bytes of a hardware address typed as six hex pairs joined by ':' or '-'; empty when
// it is not one.
QByteArray hardwareAddress(const QString &typed)
{
    static const QRegularExpression form(
        QStringLiteral("^[0-9A-Fa-f]{2}([:-])(?:[0-9A-Fa-f]{2}\\1){4}[0-9A-Fa-f]{2}$"));
    if (!form.match(typed).hasMatch())
        return {};
    return QByteArray::fromHex(typed.toLatin1());
}

const QHash<QString, ReceiverSim::Firmware> firmwares = {
    {QStringLiteral("first"), ReceiverSim::Firmware::First},
    {QStringLiteral("openwebif"), ReceiverSim::Firmware::OpenWebif},
    {QStringLiteral("maker"), ReceiverSim::Firmware::Maker},
};

const QHash<QString, QString> descriptions = {
    {QStringLiteral("first"), QStringLiteral("a first-generation receiver (/cgi-bin/xmessage)")},
    {QStringLiteral("openwebif"),
     QStringLiteral("a second-generation receiver with OpenWebif (/web/message, no sessions)")},
    {QStringLiteral("maker"),
     QStringLiteral("a second-generation receiver with the maker's web interface "
                    "(/web/message by POST with a session id)")},
};

// The certificate and key of PEM files, or why they can't be served.
std::optional<QString>
loadTls(ReceiverSim &receiver, const QString &certificatePath, const QString &keyPath)
{
    QFile certificateFile(certificatePath);
    QFile keyFile(keyPath);
    if (!certificateFile.open(QIODevice::ReadOnly))
        return certificatePath + QStringLiteral(": ") + certificateFile.errorString();
    if (!keyFile.open(QIODevice::ReadOnly))
        return keyPath + QStringLiteral(": ") + keyFile.errorString();
    const QSslCertificate certificate(certificateFile.readAll(), QSsl::Pem);
    if (certificate.isNull())
        return certificatePath + QStringLiteral(": not a PEM certificate");
    const QByteArray pem = keyFile.readAll();
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec}) {
        if (const QSslKey key(pem, algorithm, QSsl::Pem); !key.isNull()) {
            receiver.serveTls(certificate, key);
            return std::nullopt;
        }
    }
    return keyPath + QStringLiteral(": not an unencrypted PEM key (RSA or EC)");
}

// An option, added to the parser as it is made, so that each is named once.
QCommandLineOption added(QCommandLineParser &parser, const QCommandLineOption &option)
{
    parser.addOption(option);
    return option;
}

// The options, as --help lists them.
struct Options
{
    QCommandLineOption firmware{QStringLiteral("firmware")};
    QCommandLineOption user{QStringLiteral("user")};
    QCommandLineOption password{QStringLiteral("password")};
    QCommandLineOption maxLine{QStringLiteral("max-line")};
    QCommandLineOption tlsCertificate{QStringLiteral("tls-certificate")};
    QCommandLineOption tlsKey{QStringLiteral("tls-key")};
    QCommandLineOption announce{QStringLiteral("announce")};
    QCommandLineOption answer{QStringLiteral("answer")};
    QCommandLineOption answerAfter{QStringLiteral("answer-after")};
    QCommandLineOption language{QStringLiteral("language")};
    QCommandLineOption standby{QStringLiteral("standby")};
    QCommandLineOption wakeAfter{QStringLiteral("wake-after")};
    QCommandLineOption deepStandby{QStringLiteral("deep-standby")};
    QCommandLineOption bootSeconds{QStringLiteral("boot-seconds")};
};

// The options that say what a run does; then those that say how.
void addWhatOptions(QCommandLineParser &parser, Options &options)
{
    parser.setApplicationDescription(QStringLiteral(
        "Plays a satellite receiver's web interface on 127.0.0.1, so that Quillora can be tried "
        "without a receiver: takes messages and questions as a receiver of the chosen firmware "
        "does, and prints each one as the TV would show it. Only this machine can reach it."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("port"),
                                 QStringLiteral("Port to listen on at 127.0.0.1."));
    options.firmware
        = added(parser,
                QCommandLineOption(
                    QStringLiteral("firmware"),
                    QStringLiteral("The receiver to play: first (default), openwebif or maker."),
                    QStringLiteral("kind"),
                    QStringLiteral("first")));
    options.user = added(parser,
                         QCommandLineOption(QStringLiteral("user"),
                                            QStringLiteral("Demand this login name."),
                                            QStringLiteral("name")));
    options.password = added(parser,
                             QCommandLineOption(QStringLiteral("password"),
                                                QStringLiteral("Demand this password."),
                                                QStringLiteral("secret")));
    options.maxLine
        = added(parser,
                QCommandLineOption(
                    QStringLiteral("max-line"),
                    QStringLiteral(
                        "Drop the connection of a request line longer than this, as the web server "
                        "of second-generation receivers does (default 16384 for openwebif and "
                        "maker, none for first)."),
                    QStringLiteral("bytes")));
    options.tlsCertificate
        = added(parser,
                QCommandLineOption(
                    QStringLiteral("tls-certificate"),
                    QStringLiteral(
                        "Serve HTTPS with this certificate (PEM), as receivers with HTTPS on do."),
                    QStringLiteral("file")));
    options.tlsKey
        = added(parser,
                QCommandLineOption(QStringLiteral("tls-key"),
                                   QStringLiteral("The certificate's private key (PEM)."),
                                   QStringLiteral("file")));
}

void addHowOptions(QCommandLineParser &parser, Options &options)
{
    options.announce
        = added(parser,
                QCommandLineOption(
                    QStringLiteral("announce"),
                    QStringLiteral(
                        "Announce the receiver by this name on the local network by multicast DNS, "
                        "as receivers do, so that quillora-send --find and the window find it "
                        "(on this machine only)."),
                    QStringLiteral("name")));
    options.answer
        = added(parser,
                QCommandLineOption(
                    QStringLiteral("answer"),
                    QStringLiteral(
                        "How the person at the TV answers a yes/no question: yes, no or none "
                        "(default none). A question with a timeout of its own answers itself with "
                        "yes when that runs out, as a receiver does."),
                    QStringLiteral("answer"),
                    QStringLiteral("none")));
    options.answerAfter
        = added(parser,
                QCommandLineOption(QStringLiteral("answer-after"),
                                   QStringLiteral("Seconds before that answer (default 0)."),
                                   QStringLiteral("seconds"),
                                   QStringLiteral("0")));
    options.language
        = added(parser,
                QCommandLineOption(
                    QStringLiteral("language"),
                    QStringLiteral(
                        "Language of the answer texts, as OpenWebif gives them: %1 (default en). "
                        "The maker's interface answers in English.")
                        .arg(SpokenLanguages().join(QStringLiteral(", "))),
                    QStringLiteral("code"),
                    QStringLiteral("en")));
    options.standby
        = added(parser,
                QCommandLineOption(
                    QStringLiteral("standby"),
                    QStringLiteral(
                        "Start in standby: the power state says so, messages are taken but shown "
                        "on a dark screen, and /web/powerstate?newstate=4 wakes it up.")));
    options.wakeAfter
        = added(parser,
                QCommandLineOption(QStringLiteral("wake-after"),
                                   QStringLiteral("Seconds it takes to wake up (default 0)."),
                                   QStringLiteral("seconds"),
                                   QStringLiteral("0")));
    options.deepStandby
        = added(parser,
                QCommandLineOption(
                    QStringLiteral("deep-standby"),
                    QStringLiteral(
                        "Start in deep standby: nothing answers until a Wake-on-LAN packet for "
                        "this hardware address comes to UDP port 9 (which needs the right to use "
                        "it). /web/about tells the same address."),
                    QStringLiteral("mac")));
    options.bootSeconds = added(
        parser,
        QCommandLineOption(
            QStringLiteral("boot-seconds"),
            QStringLiteral("Seconds from the Wake-on-LAN packet until it answers (default 0)."),
            QStringLiteral("seconds"),
            QStringLiteral("0")));
}

Options addOptions(QCommandLineParser &parser)
{
    Options options;
    addWhatOptions(parser, options);
    addHowOptions(parser, options);
    return options;
}

// Sets the receiver up as the options say; why it can't be, or empty.
QString configure(ReceiverSim &receiver,
                  const QCommandLineParser &parser,
                  const Options &options,
                  const QString &kind)
{
    bool isNumber = false;
    if (parser.isSet(options.user) || parser.isSet(options.password))
        receiver.requireLogin(parser.value(options.user), parser.value(options.password));
    if (parser.isSet(options.maxLine)) {
        const qsizetype bytes = parser.value(options.maxLine).toLongLong(&isNumber);
        if (!isNumber || bytes < 0)
            return QStringLiteral("--max-line wants a number of bytes (0 for no limit).");
        receiver.setMaxLine(bytes);
    }
    static const QHash<QString, ReceiverSim::Reply> replies
        = {{QStringLiteral("yes"), ReceiverSim::Reply::Yes},
           {QStringLiteral("no"), ReceiverSim::Reply::No},
           {QStringLiteral("none"), ReceiverSim::Reply::None}};
    const double after = parser.value(options.answerAfter).toDouble(&isNumber);
    if (!replies.contains(parser.value(options.answer)) || !isNumber || after < 0)
        return QStringLiteral(
            "--answer wants yes, no or none, and --answer-after a number of seconds.");
    receiver.scriptAnswer(replies.value(parser.value(options.answer)),
                          std::chrono::milliseconds(qRound64(after * 1000)));
    const double wakeAfter = parser.value(options.wakeAfter).toDouble(&isNumber);
    if (!isNumber || wakeAfter < 0)
        return QStringLiteral("--wake-after wants a number of seconds.");
    receiver.setStandby(parser.isSet(options.standby),
                        std::chrono::milliseconds(qRound64(wakeAfter * 1000)));
    if (parser.isSet(options.deepStandby)) {
        const QByteArray mac = hardwareAddress(parser.value(options.deepStandby));
        if (mac.isEmpty())
            return QStringLiteral("--deep-standby wants a hardware address, as 00:09:34:AB:CD:EF.");
        receiver.setHardwareAddress(QString::fromLatin1(mac.toHex(':').toUpper()));
    }
    const std::optional<SpokenAnswers> texts = SpokenAnswersIn(parser.value(options.language));
    if (!texts)
        return QStringLiteral("Unknown language \"%1\": give one of %2.")
            .arg(parser.value(options.language), SpokenLanguages().join(QStringLiteral(", ")));
    if (kind == QLatin1String("openwebif"))
        receiver.setAnswerTexts(texts->yes, texts->no, texts->noneYet);
    const bool tls = parser.isSet(options.tlsCertificate) || parser.isSet(options.tlsKey);
    if (tls && (!parser.isSet(options.tlsCertificate) || !parser.isSet(options.tlsKey)))
        return QStringLiteral("HTTPS needs both --tls-certificate and --tls-key.");
    if (tls)
        if (const auto why
            = loadTls(receiver, parser.value(options.tlsCertificate), parser.value(options.tlsKey)))
            return QStringLiteral("Cannot serve HTTPS: ") + *why;
    return {};
}

// Prints each message, box and answer as the TV would show it.
void printWhatIsShown(ReceiverSim &receiver, QTextStream &out)
{
    QObject::connect(&receiver,
                     &ReceiverSim::messageReceived,
                     &receiver,
                     [&out](const QString &timeout, const QString &caption, const QString &body) {
                         out << "timeout: " << timeout << "\ncaption: " << caption
                             << "\nbody:    " << body << "\n"
                             << Qt::endl;
                     });
    QObject::connect(
        &receiver,
        &ReceiverSim::boxShown,
        &receiver,
        [&out, &receiver](const QString &type, const QString &timeout, const QString &text) {
            static const QHash<QString, QString> boxes
                = {{QStringLiteral("0"), QStringLiteral("yes/no question")},
                   {QStringLiteral("1"), QStringLiteral("information")},
                   {QStringLiteral("2"), QStringLiteral("warning")},
                   {QStringLiteral("3"), QStringLiteral("error")}};
            out << (receiver.inStandby() ? "shown on a dark screen, in standby\n" : "")
                << "box:     " << boxes.value(type, QStringLiteral("type ") + type)
                << "\ntimeout: " << timeout << "\ntext:\n"
                << text << "\n"
                << Qt::endl;
        });
    QObject::connect(&receiver,
                     &ReceiverSim::questionAnswered,
                     &receiver,
                     [&out](const QString &reply, const QString &how) {
                         out << "answer:  " << reply << " (" << how << ")\n" << Qt::endl;
                     });
}

// In deep standby only the network card listens, for its own magic packet; the receiver starts
// a while after it came. Why it can't, or empty.
QString sleepDeeply(ReceiverSim &receiver,
                    QUdpSocket &card,
                    const QCommandLineParser &parser,
                    const Options &options,
                    quint16 port,
                    QTextStream &out)
{
    // Six bytes of FF, then the card's address sixteen times.
    const QByteArray magic = QByteArray(6, char(0xFF))
                             + hardwareAddress(parser.value(options.deepStandby)).repeated(16);
    bool isNumber = false;
    const double boot = parser.value(options.bootSeconds).toDouble(&isNumber);
    if (!isNumber || boot < 0)
        return QStringLiteral("--boot-seconds wants a number of seconds");
    if (!card.bind(QHostAddress::AnyIPv4, 9))
        return QStringLiteral("Cannot wait for Wake-on-LAN on UDP port 9 (%1); on Linux a port "
                              "below 1024 needs root: run the simulator with sudo")
            .arg(card.errorString());
    // A sender's packets come in twos (to the network's broadcast address and to the receiver):
    // the first starts the receiver, the others find it starting or started.
    QObject::connect(&card,
                     &QUdpSocket::readyRead,
                     &receiver,
                     [&card, &receiver, &out, magic, boot, port, starting = false]() mutable {
                         while (card.hasPendingDatagrams()) {
                             const QNetworkDatagram packet = card.receiveDatagram();
                             if (packet.data() != magic)
                                 continue;
                             out << "Wake-on-LAN packet to "
                                 << packet.destinationAddress().toString() << " from "
                                 << packet.senderAddress().toString() << Qt::endl;
                             if (std::exchange(starting, true))
                                 continue;
                             QTimer::singleShot(qRound64(boot * 1000), &receiver, [&, port] {
                                 if (receiver.listen(QHostAddress::LocalHost, port))
                                     out << "Receiver started from deep standby" << Qt::endl;
                                 else
                                     out << "Cannot start on 127.0.0.1:" << port << ": "
                                         << receiver.errorString()
                                         << "; free the port and start the simulator again"
                                         << Qt::endl;
                             });
                         }
                     });
    return {};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillora-receiver-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLORA_VERSION));
    QCommandLineParser parser;
    const Options options = addOptions(parser);
    parser.process(application);

    QTextStream out(stdout);
    QTextStream err(stderr);
    bool isNumber = false;
    const quint16 port = parser.positionalArguments().value(0).toUShort(&isNumber);
    if (!isNumber || port == 0) {
        err << "Give the port to listen on, e.g.: quillora-receiver-sim 8080" << Qt::endl;
        return 2;
    }
    const QString kind = parser.value(options.firmware).toLower();
    if (!firmwares.contains(kind)) {
        err << "Unknown firmware \"" << parser.value(options.firmware)
            << "\": give first, openwebif or maker." << Qt::endl;
        return 2;
    }
    ReceiverSim receiver(firmwares.value(kind));
    if (const QString why = configure(receiver, parser, options, kind); !why.isEmpty()) {
        err << why << Qt::endl;
        return 2;
    }
    const bool tls = parser.isSet(options.tlsCertificate);
    QUdpSocket card; // in deep standby, the network card
    if (parser.isSet(options.deepStandby)) {
        if (const QString why = sleepDeeply(receiver, card, parser, options, port, out);
            !why.isEmpty()) {
            err << why << Qt::endl;
            return 2;
        }
    } else if (!receiver.listen(QHostAddress::LocalHost, port)) {
        err << "Cannot listen on 127.0.0.1:" << port << ": " << receiver.errorString() << Qt::endl;
        return 1;
    }
    if (parser.isSet(options.announce)) {
        if (kind == QLatin1String("first")) {
            err << "A first-generation receiver doesn't announce itself: give --firmware "
                   "openwebif or maker with --announce."
                << Qt::endl;
            return 2;
        }
        auto *announcer
            = new Announcer(parser.value(options.announce),
                            kind == QLatin1String("openwebif") ? Announcer::Interface::OpenWebif
                                                               : Announcer::Interface::Maker,
                            tls,
                            port,
                            &receiver);
        if (const QString why = announcer->start(); !why.isEmpty()) {
            err << "Cannot announce the receiver: " << why << Qt::endl;
            return 1;
        }
        out << "Announced as \"" << parser.value(options.announce) << "\" by multicast DNS"
            << Qt::endl;
    }
    printWhatIsShown(receiver, out);
    const bool login = parser.isSet(options.user) || parser.isSet(options.password);
    out << (card.state() == QAbstractSocket::BoundState
                ? "Receiver in deep standby, waiting for Wake-on-LAN on UDP port 9; "
                  "once woken it listens on "
                : "Receiver listening on ")
        << (tls ? "https://" : "") << "127.0.0.1:" << port << ", playing "
        << descriptions.value(kind) << (login ? ", login required" : ", no login required")
        << Qt::endl;
    return application.exec();
}
