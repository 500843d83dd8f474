// Plays the receiver on this machine, so Quillora can be tried without one:
//   quillora-receiver-sim 8080 [--user NAME --password SECRET]
// then send to 127.0.0.1:8080 (or NAME:SECRET@127.0.0.1:8080).
#include "ReceiverSim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Answers Quillora's messages like a receiver."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("port"),
                                 QStringLiteral("Port to listen on at 127.0.0.1."));
    const QCommandLineOption user(
        QStringLiteral("user"), QStringLiteral("Demand this login name."), QStringLiteral("name"));
    const QCommandLineOption password(QStringLiteral("password"),
                                      QStringLiteral("Demand this password."),
                                      QStringLiteral("secret"));
    parser.addOptions({user, password});
    parser.process(application);

    QTextStream out(stdout);
    bool isNumber = false;
    const quint16 port = parser.positionalArguments().value(0).toUShort(&isNumber);
    ReceiverSim receiver;
    if (!isNumber || port == 0) {
        out << "Give the port to listen on, e.g.: quillora-receiver-sim 8080" << Qt::endl;
        return 2;
    }
    if (parser.isSet(user) || parser.isSet(password))
        receiver.requireLogin(parser.value(user), parser.value(password));
    if (!receiver.listen(QHostAddress::LocalHost, port)) {
        out << "Cannot listen on 127.0.0.1:" << port << ": " << receiver.errorString() << Qt::endl;
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
    out << "Receiver listening on 127.0.0.1:" << port << Qt::endl;
    return application.exec();
}
