// Plays the receiver on this machine, so Quillora can be tried without one:
//   quillora-receiver-sim 8080 [--firmware first|openwebif|maker] [--user NAME --password SECRET]
//                              [--max-line BYTES]
// then send to 127.0.0.1:8080 (or NAME:SECRET@127.0.0.1:8080).
#include "ReceiverSim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

namespace {

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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Answers Quillora's messages like a receiver."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("port"),
                                 QStringLiteral("Port to listen on at 127.0.0.1."));
    const QCommandLineOption firmware(
        QStringLiteral("firmware"),
        QStringLiteral("The receiver to play: first (default), openwebif or maker."),
        QStringLiteral("kind"),
        QStringLiteral("first"));
    const QCommandLineOption user(
        QStringLiteral("user"), QStringLiteral("Demand this login name."), QStringLiteral("name"));
    const QCommandLineOption password(QStringLiteral("password"),
                                      QStringLiteral("Demand this password."),
                                      QStringLiteral("secret"));
    const QCommandLineOption maxLine(
        QStringLiteral("max-line"),
        QStringLiteral("Drop the connection of a request line longer than this, as the web server "
                       "of second-generation receivers does (default 16384 for openwebif and "
                       "maker, none for first)."),
        QStringLiteral("bytes"));
    parser.addOptions({firmware, user, password, maxLine});
    parser.process(application);

    QTextStream out(stdout);
    QTextStream err(stderr);
    bool isNumber = false;
    const quint16 port = parser.positionalArguments().value(0).toUShort(&isNumber);
    if (!isNumber || port == 0) {
        err << "Give the port to listen on, e.g.: quillora-receiver-sim 8080" << Qt::endl;
        return 2;
    }
    const QString kind = parser.value(firmware).toLower();
    if (!firmwares.contains(kind)) {
        err << "Unknown firmware \"" << parser.value(firmware)
            << "\": give first, openwebif or maker." << Qt::endl;
        return 2;
    }
    ReceiverSim receiver(firmwares.value(kind));
    const bool login = parser.isSet(user) || parser.isSet(password);
    if (login)
        receiver.requireLogin(parser.value(user), parser.value(password));
    if (parser.isSet(maxLine)) {
        const qsizetype bytes = parser.value(maxLine).toLongLong(&isNumber);
        if (!isNumber || bytes < 0) {
            err << "--max-line wants a number of bytes (0 for no limit)." << Qt::endl;
            return 2;
        }
        receiver.setMaxLine(bytes);
    }
    if (!receiver.listen(QHostAddress::LocalHost, port)) {
        err << "Cannot listen on 127.0.0.1:" << port << ": " << receiver.errorString() << Qt::endl;
        return 1;
    }

    QObject::connect(&receiver,
                     &ReceiverSim::messageReceived,
                     &receiver,
                     [&out](const QString &timeout, const QString &caption, const QString &body) {
                         out << "timeout: " << timeout << "\ncaption: " << caption
                             << "\nbody:    " << body << "\n"
                             << Qt::endl;
                     });
    QObject::connect(&receiver,
                     &ReceiverSim::boxShown,
                     &receiver,
                     [&out](const QString &type, const QString &timeout, const QString &text) {
                         static const QHash<QString, QString> boxes
                             = {{QStringLiteral("0"), QStringLiteral("yes/no question")},
                                {QStringLiteral("1"), QStringLiteral("information")},
                                {QStringLiteral("2"), QStringLiteral("warning")},
                                {QStringLiteral("3"), QStringLiteral("error")}};
                         out << "box:     " << boxes.value(type, QStringLiteral("type ") + type)
                             << "\ntimeout: " << timeout << "\ntext:\n"
                             << text << "\n"
                             << Qt::endl;
                     });
    out << "Receiver listening on 127.0.0.1:" << port << ", playing " << descriptions.value(kind)
        << (login ? ", login required" : ", no login required") << Qt::endl;
    return application.exec();
}
