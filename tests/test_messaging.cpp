#include "FakeReceiver.h"
#include "Inet.h"
#include "MessageUrl.h"
#include "WireUrl.h"

#include <QNetworkAccessManager>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <optional>

using namespace std::chrono_literals;

class TestMessaging : public QObject
{
    Q_OBJECT

private:
    // Sends url through inet and waits for the outcome: empty when delivered.
    static QString send(Inet &inet, const QString &url)
    {
        std::optional<QString> outcome;
        QObject context;
        inet.OpenUrl(url, &context, [&outcome](const QString &failure) { outcome = failure; });
        (void)QTest::qWaitFor([&outcome] { return outcome.has_value(); }, 10000);
        return outcome.value_or(QStringLiteral("<no outcome>"));
    }

private slots:
    void composeMessageUrl_data()
    {
        QTest::addColumn<QStringList>("fields"); // address, timeout, caption, body
        QTest::addColumn<QString>("url");
        QTest::newRow("example")
            << QStringList{"192.0.2.10", "10", "Quillora", "Hello"}
            << "http://192.0.2.10/cgi-bin/xmessage?timeout=10&caption=Quillora&body=Hello";
        QTest::newRow("all empty")
            << QStringList{"", "", "", ""} << "http:///cgi-bin/xmessage?timeout=&caption=&body=";
        QTest::newRow("port")
            << QStringList{"192.0.2.10:8080", "5", "c", "b"}
            << "http://192.0.2.10:8080/cgi-bin/xmessage?timeout=5&caption=c&body=b";
        QTest::newRow("scheme typed")
            << QStringList{"http://box", "1", "c", "b"}
            << "http://http://box/cgi-bin/xmessage?timeout=1&caption=c&body=b";
        QTest::newRow("url characters")
            << QStringList{"h", "1", "a b", "a&b=c#?"}
            << "http://h/cgi-bin/xmessage?timeout=1&caption=a b&body=a&b=c#?";
    }

    void composeMessageUrl()
    {
        QFETCH(QStringList, fields);
        QFETCH(QString, url);
        QCOMPARE(ComposeMessageUrl(fields[0], fields[1], fields[2], fields[3]), url);
    }

    void encodeUrlForWire_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("query syntax kept")
            << "http://u:p@h:80/cgi-bin/x?t=1&body=a&b=c/?:@"
            << QByteArray("http://u:p@h:80/cgi-bin/x?t=1&body=a&b=c/?:@");
        QTest::newRow("space") << "a b" << QByteArray("a%20b");
        QTest::newRow("hash") << "a#b" << QByteArray("a%23b");
        QTest::newRow("plus") << "1+1" << QByteArray("1%2B1");
        QTest::newRow("escape kept") << "%41%2b" << QByteArray("%41%2b");
        QTest::newRow("stray percent") << "100% %g1 %4" << QByteArray("100%25%20%25g1%20%254");
        QTest::newRow("unsafe ASCII") << "\"<>\\^`{|}" << QByteArray("%22%3C%3E%5C%5E%60%7B%7C%7D");
        QTest::newRow("sub-delims kept") << "!$'()*,;=~-._[]" << QByteArray("!$'()*,;=~-._[]");
        QTest::newRow("line breaks") << "a\r\nb\tc" << QByteArray("a%0D%0Ab%09c");
        QTest::newRow("controls") << QString::fromUtf8("\x01\x7f", 2) + QChar(0)
                                  << QByteArray("%01%7F%00");
        QTest::newRow("non-ASCII")
            << QString::fromUtf8("Grüße €") << QByteArray("Gr%C3%BC%C3%9Fe%20%E2%82%AC");
    }

    void encodeUrlForWire()
    {
        QFETCH(QString, typed);
        QFETCH(QByteArray, wire);
        QCOMPARE(EncodeUrlForWire(typed), wire);
    }

    // Whatever is typed, the receiver must get a legal request target and read back the text.
    void encodedTextIsLegalAndDecodesToWhatWasTyped()
    {
        const std::u32string alphabet
            = std::u32string(U"aZ09 -._~!$&'()*+,;=:@/?#[]%\"<>\\^`{|}\t\r\n\x01\x7f\x85äß€😀")
              + U'\0';
        const QRegularExpression legal(
            QStringLiteral("^([A-Za-z0-9\\-._~!$&'()*+,;=:@/?\\[\\]]|%[0-9A-Fa-f]{2})*$"));
        const QRegularExpression typedEscape(QStringLiteral("%[0-9A-Fa-f]{2}"));
        auto *random = QRandomGenerator::global();
        for (int n = 0; n < 3000; ++n) {
            QString typed;
            for (int i = random->bounded(12); i > 0; --i)
                typed += QString::fromUcs4(
                    &alphabet[random->bounded(static_cast<quint32>(alphabet.size()))], 1);
            const QByteArray wire = EncodeUrlForWire(typed);
            QVERIFY2(legal.match(QString::fromLatin1(wire)).hasMatch(), wire.constData());
            if (!typed.contains(typedEscape)) // escapes the user typed are the user's business
                QCOMPARE(QString::fromUtf8(QByteArray::fromPercentEncoding(wire)), typed);
        }
    }

    void requestLineIsTheMessageUrl_data()
    {
        QTest::addColumn<QStringList>("fields"); // timeout, caption, body
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("example") << QStringList{"10", "Quillora", "Hello"}
                                 << QByteArray(
                                        "/cgi-bin/xmessage?timeout=10&caption=Quillora&body=Hello");
        QTest::newRow("empty") << QStringList{"", "", ""}
                               << QByteArray("/cgi-bin/xmessage?timeout=&caption=&body=");
        QTest::newRow("body with query characters")
            << QStringList{"1", "c", "a&b=c"}
            << QByteArray("/cgi-bin/xmessage?timeout=1&caption=c&body=a&b=c");
        QTest::newRow("spaces, hash, plus")
            << QStringList{"1", "a b", "#1+1 ?"}
            << QByteArray("/cgi-bin/xmessage?timeout=1&caption=a%20b&body=%231%2B1%20?");
        QTest::newRow("umlaut and break")
            << QStringList{"1", "c", QString::fromUtf8("ü\r\nX-Evil: 1")}
            << QByteArray("/cgi-bin/xmessage?timeout=1&caption=c&body=%C3%BC%0D%0AX-Evil:%201");
    }

    void requestLineIsTheMessageUrl()
    {
        QFETCH(QStringList, fields);
        QFETCH(QByteArray, target);
        FakeReceiver receiver;
        QNetworkAccessManager network;
        Inet inet(&network, 10s);
        QCOMPARE(send(inet, ComposeMessageUrl(receiver.address(), fields[0], fields[1], fields[2])),
                 QString());
        QCOMPARE(receiver.requests().size(), 1);
        QCOMPARE(receiver.requests().first().left(receiver.requests().first().indexOf("\r\n")),
                 "GET " + target + " HTTP/1.1");
    }

    void receiverReadsWhatWasTyped()
    {
        FakeReceiver receiver;
        QSignalSpy received(&receiver, &ReceiverSim::messageReceived);
        QNetworkAccessManager network;
        Inet inet(&network, 10s);
        const QString caption = QString::fromUtf8("Grüße, 100% + mehr #1");
        QCOMPARE(send(inet, ComposeMessageUrl(receiver.address(), "7", caption, "done")),
                 QString());
        QCOMPARE(received.size(), 1);
        QCOMPARE(received.first(), (QVariantList{"7", caption, "done"}));
    }

    void sendsTheLoginFromTheAddress()
    {
        FakeReceiver receiver;
        receiver.requireLogin("root", "dream:box%");
        QNetworkAccessManager network;
        Inet inet(&network, 10s);
        const QString address = "root:dream%3Abox%25@" + receiver.address();
        QCOMPARE(send(inet, ComposeMessageUrl(address, "1", "c", "b")), QString());
        QCOMPARE(receiver.requests().size(), 1);
        QCOMPARE(ReceiverSim::header(receiver.requests().first(), "Authorization"),
                 "Basic " + QByteArray("root:dream:box%").toBase64());
    }

    // Some receivers ask again even when the first request carried the login; what was answered
    // then must not be sent on once the login is gone from the address.
    void answersALoginChallengeAndForgetsIt()
    {
        FakeReceiver receiver;
        receiver.requireLogin("root", "pw");
        receiver.script = {FakeReceiver::response(
            401, "Unauthorized", "", "WWW-Authenticate: Basic realm=\"box\"\r\n")};
        QNetworkAccessManager network;
        Inet inet(&network, 10s);
        QCOMPARE(send(inet, ComposeMessageUrl("root:pw@" + receiver.address(), "1", "c", "b")),
                 QString());
        QCOMPARE(receiver.requests().size(), 2);
        QCOMPARE(ReceiverSim::header(receiver.requests().last(), "Authorization"),
                 "Basic " + QByteArray("root:pw").toBase64());

        QCOMPARE(send(inet, ComposeMessageUrl(receiver.address(), "1", "c", "b")),
                 "the receiver answered HTTP 401 Unauthorized");
        QCOMPARE(ReceiverSim::header(receiver.requests().last(), "Authorization"), QByteArray());
    }

    void wrongOrMissingLoginIsReported_data()
    {
        QTest::addColumn<QString>("login");
        QTest::newRow("none") << QString();
        QTest::newRow("wrong password") << "root:nope@";
    }

    void wrongOrMissingLoginIsReported()
    {
        QFETCH(QString, login);
        FakeReceiver receiver;
        receiver.requireLogin("root", "pw");
        QNetworkAccessManager network;
        Inet inet(&network, 10s);
        QCOMPARE(send(inet, ComposeMessageUrl(login + receiver.address(), "1", "c", "b")),
                 "the receiver answered HTTP 401 Unauthorized");
    }

    void reportsAnswersThatAreNotSuccess_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("failure");
        QTest::newRow("+ok") << FakeReceiver::response(200, "OK", "+ok\n") << QString();
        QTest::newRow("204") << FakeReceiver::response(204, "No Content", "") << QString();
        QTest::newRow("redirect") << FakeReceiver::response(302, "Found", "", "Location: /x\r\n")
                                  << "the receiver answered HTTP 302 Found";
        QTest::newRow("server error") << FakeReceiver::response(500, "Internal Server Error", "x")
                                      << "the receiver answered HTTP 500 Internal Server Error";
        QTest::newRow("refused while 200")
            << FakeReceiver::response(200, "OK", "E: message too long\r\n")
            << "E: message too long";
    }

    void reportsAnswersThatAreNotSuccess()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, failure);
        FakeReceiver receiver;
        receiver.script = {answer};
        QNetworkAccessManager network;
        Inet inet(&network, 10s);
        QCOMPARE(send(inet, ComposeMessageUrl(receiver.address(), "1", "c", "b")), failure);
    }

    void countsPendingSendsAndAbandonsThemWhenGone()
    {
        FakeReceiver receiver;
        receiver.script = {QByteArray(), QByteArray()};
        QNetworkAccessManager network;
        auto inet = std::make_unique<Inet>(&network, 60s);
        QSignalSpy pending(inet.get(), &Inet::pendingCountChanged);
        int calls = 0;
        QObject context;
        for (int i = 0; i < 2; ++i)
            inet->OpenUrl(ComposeMessageUrl(receiver.address(), "1", "c", "b"),
                          &context,
                          [&calls](const QString &) { ++calls; });
        QCOMPARE(inet->pendingCount(), 2);
        QTRY_COMPARE(receiver.requests().size(), 2);
        inet.reset();
        QTest::qWait(50);
        QCOMPARE(calls, 0);
        QCOMPARE(pending.size(), 2);
    }

    void decodeQuery_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QString>("body");
        QTest::newRow("plain") << QByteArray("body=Hello") << "Hello";
        QTest::newRow("plus is space") << QByteArray("body=a+b%2Bc") << "a b+c";
        QTest::newRow("utf-8") << QByteArray("timeout=1&body=%C3%BC") << QString::fromUtf8("ü");
        QTest::newRow("split at ampersand") << QByteArray("body=a&b=c") << "a";
        QTest::newRow("missing") << QByteArray("caption=x") << QString();
    }

    void decodeQuery()
    {
        QFETCH(QByteArray, query);
        QFETCH(QString, body);
        QCOMPARE(ReceiverSim::decodeQuery(query).value("body"), body);
    }
};

QTEST_MAIN(TestMessaging)
#include "test_messaging.moc"
