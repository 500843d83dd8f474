#include "FakeReceiver.h"
#include "Form1.h"
#include "MessageBoxWatcher.h"
#include "TlsFront.h"

#include "Announcer.h"
#include "CertificateTrust.h"
#include "InetOnDemand.h"
#include "Module1.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDate>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>
#include <optional>

#ifdef Q_OS_UNIX
#include "FifoWatchdog.h"

#include <sys/stat.h>
#endif

namespace {

// A settings file as Notepad saves it on a Western Windows machine: code page 1252, CR LF.
const QByteArray NotepadFile = "; Einstellungen f\xfcr den Fernseher \x80\r\n"
                               "[Dreambox]\r\n"
                               "IP=192.0.2.1\r\n"
                               "Timeout=10\r\n"
                               "Version=Ger\xe4t \x80\r\n";

} // namespace

using namespace std::chrono_literals;

class TestWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MessageBoxWatcher> m_boxes;
    std::unique_ptr<FakeReceiver> m_receiver;
    std::unique_ptr<Form1> m_form;

    QString iniPath() const { return m_dir->filePath("Tavrel.INI"); }

    void writeSettings(const QByteArray &content)
    {
        QFile file(iniPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QByteArray settings() const
    {
        QFile file(iniPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
    }

    // Starts the window as the program does and waits until it has the keyboard.
    bool open(std::chrono::milliseconds timeout = 10s,
              const QString &ini = {},
              const QString &transferLibrary = QUILLORA_TRANSFER)
    {
        m_form = std::make_unique<Form1>(ini.isEmpty() ? iniPath() : ini, timeout, transferLibrary);
        m_form->StartUp();
        m_form->show();
        return QTest::qWaitForWindowActive(m_form.get());
    }

    // Opens the window with a stored address, so that start-up has nothing to complain of.
    bool openConfigured(std::chrono::milliseconds timeout = 10s)
    {
        writeSettings("[Dreambox]\r\nIP=" + m_receiver->address().toUtf8() + "\r\nTimeout=10\r\n");
        return open(timeout);
    }

    template<typename T = QWidget> T *widget(const char *name) const
    {
        return m_form->findChild<T *>(QLatin1String(name));
    }

    QLineEdit *field(const char *name) const { return widget<QLineEdit>(name); }
    QString log() const { return widget<QPlainTextEdit>("Text5")->toPlainText(); }

    void sendBody(const QString &body)
    {
        const qsizetype before = m_receiver->requests().size();
        field("Text2")->setText(body);
        QTest::mouseClick(widget("Command10"), Qt::LeftButton);
        QTRY_COMPARE(m_receiver->requests().size(), before + 1);
        QTRY_VERIFY(!QGuiApplication::overrideCursor());
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_boxes = std::make_unique<MessageBoxWatcher>();
        m_receiver = std::make_unique<FakeReceiver>();
    }

    void cleanup()
    {
        m_form.reset();
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void startUp_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("fields"); // address, timeout, version
        QTest::addColumn<int>("warnings");
        QTest::newRow("no file") << QByteArray() << QStringList{"", "", ""} << 1;
        QTest::newRow("address, no timeout")
            << QByteArray("[Dreambox]\nIP=192.0.2.1\n") << QStringList{"192.0.2.1", "", ""} << 0;
        QTest::newRow("address of spaces")
            << QByteArray("[Dreambox]\nIP=   \nTimeout=5\n") << QStringList{"", "5", ""} << 1;
        QTest::newRow("everything")
            << QByteArray("[DREAMBOX]\r\nip = 192.0.2.1\r\nTimeout=10\r\nVersion=V1.2 beta\r\n")
            << QStringList{"192.0.2.1", "10", "V1.2 beta"} << 0;
        QTest::newRow("code page 1252")
            << NotepadFile << QStringList{"192.0.2.1", "10", "Ger\u00e4t \u20ac"} << 0;
    }

    void startUp()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, fields);
        QFETCH(int, warnings);
        if (!file.isEmpty())
            writeSettings(file);
        QVERIFY(open());

        QCOMPARE(m_boxes->seen.size(), warnings);
        if (warnings) {
            const MessageBoxWatcher::Seen &box = m_boxes->seen.first();
            QCOMPARE(box.text, "Configuration file looks invalid, Save a new one");
            QCOMPARE(box.title, "System Message");
            QCOMPARE(box.icon, QMessageBox::Critical);
            QCOMPARE(box.buttons, QMessageBox::Ok);
            QCOMPARE(box.parent, nullptr); // shown before the window
        }
        QCOMPARE(field("Text1")->text(), fields[0]);
        QCOMPARE(field("Text3")->text(), fields[1]);
        QCOMPARE(widget<QLabel>("Label5")->text(), fields[2]);
        QCOMPARE(field("Text4")->text(), "Quillora");
        QCOMPARE(field("Text2")->text(), "This is a test message from Quillora.");
        QCOMPARE(m_form->windowTitle(),
                 "-- Quillora -- "
                     + QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat)
                     + " --");
        QCOMPARE(QApplication::focusWidget(), field("Text1"));
        QTRY_VERIFY(!m_form->windowIcon().availableSizes().isEmpty()); // drawn once it is up
    }

    void versionLabelGrowsToTheRight()
    {
        writeSettings("[Dreambox]\nIP=a\nVersion=Version 12.345 of the receiver firmware\n");
        QVERIFY(open());
        const QRect label = widget("Label5")->geometry();
        QCOMPARE(label.topLeft(), QPoint(260, 4));
        QVERIFY(label.width() > 100);
    }

    void tabOrder()
    {
        QVERIFY(openConfigured());
        QStringList order;
        for (int i = 0; i < 9; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order += QApplication::focusWidget()->objectName();
        }
        QCOMPARE(order,
                 (QStringList{"Command10",
                              "Text2",
                              "Text3",
                              "Text4",
                              "Command1",
                              "Command2",
                              "Text5",
                              "Command3",
                              "Text1"}));
    }

    void accessKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Alt+E sends") << int(Qt::Key_E);
        QTest::newRow("Alt+A saves") << int(Qt::Key_A);
        QTest::newRow("Alt+O loads") << int(Qt::Key_O);
        QTest::newRow("Alt+X exits") << int(Qt::Key_X);
    }

    void accessKeys()
    {
        QFETCH(int, key);
        QVERIFY(openConfigured());
        field("Text3")->setText("42");
        QTest::keyClick(m_form.get(), Qt::Key(key), Qt::AltModifier);
        switch (key) {
        case Qt::Key_E:
            QTRY_COMPARE(m_receiver->requests().size(), 1);
            QTRY_COMPARE(log(), "This is a test message from Quillora.");
            break;
        case Qt::Key_A:
            QTRY_VERIFY(settings().contains("Timeout=42"));
            break;
        case Qt::Key_O:
            QTRY_COMPARE(field("Text3")->text(), "10");
            break;
        case Qt::Key_X:
            QTRY_VERIFY(!m_form->isVisible());
            break;
        }
        QVERIFY(m_boxes->seen.isEmpty());
    }

    void enterAndEscapePressNothing()
    {
        QVERIFY(openConfigured());
        for (const char *name : {"Text1", "Command10", "Command3", "Text2"}) {
            widget(name)->setFocus();
            QTest::keyClick(widget(name), Qt::Key_Return);
            QTest::keyClick(widget(name), Qt::Key_Escape);
        }
        QVERIFY(Settled(*m_receiver));
        QCOMPARE(m_receiver->requests().size(), 0);
        QVERIFY(m_form->isVisible());
    }

    void doubleClickSelection_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("at");
        QTest::addColumn<QString>("selected");
        QTest::newRow("address, first word") << "Text1" << 1 << "first second third";
        QTest::newRow("address, middle word") << "Text1" << 8 << "second third";
        QTest::newRow("body, middle word") << "Text2" << 8 << "second third";
        QTest::newRow("timeout keeps the word") << "Text3" << 8 << "second";
        QTest::newRow("caption keeps the word") << "Text4" << 8 << "second";
    }

    void doubleClickSelection()
    {
        QFETCH(QString, name);
        QFETCH(int, at);
        QFETCH(QString, selected);
        QVERIFY(openConfigured());
        QLineEdit *edit = field(name.toLatin1().constData());
        edit->setText("first second third");
        edit->setCursorPosition(at);
        QTest::mouseDClick(edit,
                           Qt::LeftButton,
                           {},
                           edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().center());
        QCOMPARE(edit->selectedText(), selected);
    }

    void sessionLog_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QStringList>("bodies");
        QTest::addColumn<QString>("after");
        QTest::newRow("one body") << "" << QStringList{"A"} << "A";
        QTest::newRow("two bodies") << "" << QStringList{"A", "B"} << "A\nB";
        QTest::newRow("empty body first") << "" << QStringList{"", "C"} << "C";
        QTest::newRow("empty body after A") << "" << QStringList{"A", ""} << "A\n";
        QTest::newRow("spaces") << "" << QStringList{"   "} << "   ";
        QTest::newRow("user's text kept") << "my notes" << QStringList{"A"} << "my notes\nA";
    }

    void sessionLog()
    {
        QFETCH(QString, before);
        QFETCH(QStringList, bodies);
        QFETCH(QString, after);
        QVERIFY(openConfigured());
        widget<QPlainTextEdit>("Text5")->setPlainText(before);
        for (const QString &body : bodies)
            sendBody(body);
        QTRY_COMPARE(log(), after);
        QVERIFY(m_boxes->seen.isEmpty());
    }

    void clearedLogStartsAfresh()
    {
        QVERIFY(openConfigured());
        sendBody("A");
        QTRY_COMPARE(log(), "A");
        widget<QPlainTextEdit>("Text5")->clear();
        sendBody("B");
        QTRY_COMPARE(log(), "B");
    }

    void newestLogLineIsScrolledIntoView()
    {
        QVERIFY(openConfigured());
        auto *text5 = widget<QPlainTextEdit>("Text5");
        const auto lastLineVisible = [text5] {
            QTextCursor end(text5->document());
            end.movePosition(QTextCursor::End);
            return text5->viewport()->rect().contains(text5->cursorRect(end));
        };
        text5->setPlainText(QString("older\n").repeated(200).chopped(1));
        text5->moveCursor(QTextCursor::Start);
        QVERIFY(!lastLineVisible());
        sendBody("newest");
        QTRY_VERIFY(log().endsWith("older\nnewest"));
        QVERIFY(lastLineVisible());
    }

    // Under a dark desktop theme the text on the fixed light blue stays dark enough to read, at
    // 4.5 : 1 or better, and so does selected text.
    void textIsReadableUnderADarkTheme()
    {
        const QPalette light = QApplication::palette();
        QPalette dark = light;
        for (const auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
            dark.setColor(role, QColor(36, 36, 36));
        for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            dark.setColor(role, QColor(234, 234, 241));
        dark.setColor(QPalette::Highlight, QColor(21, 83, 158));
        dark.setColor(QPalette::HighlightedText, QColor(234, 234, 241));
        QApplication::setPalette(dark);
        writeSettings("[Dreambox]\nIP=192.0.2.1\nTimeout=10\nVersion=V1.0\n");
        const bool opened = open();
        QApplication::setPalette(light);
        QVERIFY(opened);
        const auto luminance = [](QRgb rgb) {
            const auto linear = [](int c) {
                const double v = c / 255.0;
                return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * linear(qRed(rgb)) + 0.7152 * linear(qGreen(rgb))
                   + 0.0722 * linear(qBlue(rgb));
        };
        const auto ratio = [&](QRgb a, QRgb b) {
            const double x = luminance(a) + 0.05;
            const double y = luminance(b) + 0.05;
            return std::max(x, y) / std::min(x, y);
        };
        // The text's own pixels are those that change when the text goes; their strongest
        // contrast with what they stand on: the widget without its text, or, for selected text,
        // the selection's colour (the colour most of the changed pixels have).
        const auto textContrast
            = [&](QWidget *w, const std::function<void(bool)> &showText, bool selected) {
                  showText(true);
                  const QImage with = w->grab().toImage();
                  showText(false);
                  const QImage without = w->grab().toImage();
                  showText(true);
                  QHash<QRgb, int> colours;
                  QList<QPoint> changed;
                  for (int y = 0; y < with.height(); ++y)
                      for (int x = 0; x < with.width(); ++x)
                          if (with.pixel(x, y) != without.pixel(x, y)) {
                              changed += QPoint(x, y);
                              ++colours[with.pixel(x, y)];
                          }
                  QRgb selection = 0;
                  for (auto colour = colours.cbegin(); colour != colours.cend(); ++colour)
                      if (colour.value() > colours.value(selection))
                          selection = colour.key();
                  double best = 1;
                  for (const QPoint &at : changed) {
                      const QRgb pixel = with.pixel(at);
                      if (!selected || pixel != selection)
                          best = std::max(best,
                                          ratio(pixel, selected ? selection : without.pixel(at)));
                  }
                  return changed.isEmpty() ? 0.0 : best;
              };
        const auto lineText = [](QLineEdit *edit) {
            return [edit, text = edit->text()](bool show) {
                edit->setText(show ? text : QString());
            };
        };
        for (const char *name : {"Text1", "Text3", "Text4", "Text2"})
            QVERIFY2(textContrast(field(name), lineText(field(name)), false) >= 4.5, name);
        auto *version = widget<QLabel>("Label5");
        QVERIFY(textContrast(
                    version,
                    [version, text = version->text()](bool show) {
                        version->setText(show ? text : QString());
                    },
                    false)
                >= 4.5);
        auto *log = widget<QPlainTextEdit>("Text5");
        QVERIFY(textContrast(
                    log, [log](bool show) { log->setPlainText(show ? "Hello" : ""); }, false)
                >= 4.5);
        QLineEdit *body = field("Text2");
        QVERIFY(textContrast(
                    body,
                    [body, text = body->text()](bool show) {
                        body->setText(show ? text : QString());
                        body->selectAll();
                    },
                    true)
                >= 4.5);
    }

    void failedSendSaysWhy_data()
    {
        QTest::addColumn<QString>("address"); // empty: the fake receiver's; %1: its host and port
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("requests");
        QTest::newRow("refused") << "127.0.0.1:1" << QByteArray()
                                 << "nothing answers at 127.0.0.1 on port 1, so check that the "
                                    "address is right and that the receiver's web interface is "
                                    "switched on; the receiver may also be switched off or in "
                                    "deep standby"
                                 << 0;
        QTest::newRow("no answer")
            << "" << QByteArray() << "no answer from the receiver within 0.3 seconds" << 1;
        // The first-generation call, the power state, the session and the message.
        QTest::newRow("404 on every call")
            << "" << FakeReceiver::response(404, "Not Found", "")
            << "the receiver answered HTTP 404 Not Found, so check that the address and port are "
               "those of the receiver's web interface"
            << 4;
        QTest::newRow("refused by receiver")
            << "" << FakeReceiver::response(200, "OK", "E: no screen\n") << "E: no screen" << 1;
        // What a receiver says is shown as the characters it sent: no heading, no link, no
        // picture loaded from anywhere.
        const QByteArray markup
            = "<h1 style=\"color:red\">Expired</h1><img src=file:///etc/passwd>";
        QTest::newRow("markup in the status line")
            << "" << FakeReceiver::response(500, markup, "")
            << "the receiver answered HTTP 500 " + QString::fromUtf8(markup)
                   + ", so try again later, or restart the receiver's web interface"
            << 1;
        QTest::newRow("markup in a refusal")
            << ""
            << FakeReceiver::response(200, "OK", "E: <a href=\"http://x.invalid/\">renew</a>\n")
            << "E: <a href=\"http://x.invalid/\">renew</a>" << 1;
        QTest::newRow("not HTTP") << "" << QByteArray("SSH-2.0-OpenSSH\r\n")
                                  << "the receiver's answer is not valid HTTP" << 1;
        QTest::newRow("port out of range")
            << "127.0.0.1:70000" << QByteArray()
            << "invalid receiver address: the port must be a number from 1 to 65535" << 0;
        QTest::newRow("no address")
            << "user@" << QByteArray()
            << "invalid receiver address: the receiver's name or IP address is missing" << 0;
        QTest::newRow("http:// typed") << "http://%1" << QByteArray()
                                       << "invalid receiver address: type it without http://" << 0;
    }

    void failedSendSaysWhy()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, answer);
        QFETCH(QString, reason);
        QFETCH(int, requests);
        QVERIFY(openConfigured(300ms));
        m_receiver->script = {answer};
        if (!address.isEmpty())
            field("Text1")->setText(address.replace("%1", m_receiver->address()));
        widget<QPlainTextEdit>("Text5")->setPlainText("earlier");

        QTest::mouseClick(widget("Command10"), Qt::LeftButton);
        QTRY_COMPARE(m_boxes->seen.size(), 1);
        const MessageBoxWatcher::Seen &box = m_boxes->seen.first();
        QCOMPARE(box.text, "Message not delivered: " + reason);
        QCOMPARE(box.format, Qt::PlainText);
        QCOMPARE(box.title, "System Message");
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.buttons, QMessageBox::Ok);
        QCOMPARE(box.parent, m_form.get());
        QCOMPARE(log(), "earlier");
        QCOMPARE(m_receiver->requests().size(), requests);
        QVERIFY(m_form->isVisible());
    }

    // A receiver in standby: the user decides, and the log has the message only once the
    // receiver took it. The window stays usable while it wakes. The receiver's hardware address
    // is kept once it took a message.
    void receiverInStandby_data()
    {
        QTest::addColumn<QString>("press");
        QTest::addColumn<QStringList>("powerRequests"); // their newstate
        QTest::addColumn<bool>("shown");
        QTest::newRow("Wake and Send") << "Wake and Send" << QStringList{"", "4", ""} << true;
        QTest::newRow("Send Anyway") << "Send Anyway" << QStringList{""} << true;
        QTest::newRow("Cancel") << "Cancel" << QStringList{""} << false;
    }

    void receiverInStandby()
    {
        QFETCH(QString, press);
        QFETCH(QStringList, powerRequests);
        QFETCH(bool, shown);
        FakeReceiver receiver{ReceiverSim::Firmware::OpenWebif};
        receiver.setStandby(true, 200ms);
        receiver.setHardwareAddress("00:09:34:ab:cd:ef");
        writeSettings("[Dreambox]\r\nIP=" + receiver.address().toUtf8() + "\r\nTimeout=10\r\n");
        QVERIFY(open());
        m_boxes->press = press;
        bool litScreen = false;
        connect(&receiver, &ReceiverSim::boxShown, &receiver, [&] {
            litScreen = !receiver.inStandby();
        });
        QTest::mouseClick(widget("Command10"), Qt::LeftButton);
        QTRY_COMPARE(m_boxes->seen.size(), 1);
        const MessageBoxWatcher::Seen &box = m_boxes->seen.first();
        QCOMPARE(box.text, "The receiver is in standby, so nobody would see the message.");
        QCOMPARE(box.format, Qt::PlainText);
        QCOMPARE(box.defaultButton, "Wake and Send");
        QTRY_VERIFY(!QGuiApplication::overrideCursor());
        QCOMPARE(receiver.powerRequests(), powerRequests);
        QCOMPARE(log(), shown ? field("Text2")->text() : QString());
        QCOMPARE(litScreen, press == "Wake and Send");
        // Learned after the message was logged; a receiver that took nothing is not asked.
        const QByteArray kept = "[Wake]\r\n" + receiver.address().toUtf8() + "=00:09:34:AB:CD:EF";
        if (shown)
            QTRY_VERIFY(settings().contains(kept));
        QTRY_COMPARE(receiver.requests().size(), shown ? powerRequests.size() + 4 : 2);
        QVERIFY(!settings().contains(kept) || shown);
        QCOMPARE(m_boxes->seen.size(), 1);
    }

    // A hardware address that can't be kept is told once a session, after the message was
    // logged; the sends go on as before.
    void hardwareAddressNotKept()
    {
        FakeReceiver receiver{ReceiverSim::Firmware::OpenWebif};
        receiver.setHardwareAddress("00:09:34:ab:cd:ef");
        writeSettings("[Dreambox]\r\nIP=" + receiver.address().toUtf8() + "\r\nTimeout=10\r\n");
        QVERIFY(open());
        // A folder where the file was: no user, root included, can write it.
        QVERIFY(QFile::remove(iniPath()) && QDir().mkdir(iniPath()));
        const auto abouts = [&receiver] {
            return std::count_if(
                receiver.requests().cbegin(),
                receiver.requests().cend(),
                [](const QByteArray &request) { return request.startsWith("GET /web/about"); });
        };
        for (const QString body : {"first", "second"}) {
            field("Text2")->setText(body);
            QTest::mouseClick(widget("Command10"), Qt::LeftButton);
            QTRY_COMPARE(abouts(), body == "first" ? 1 : 2);
            QVERIFY(Settled(receiver));
            QCoreApplication::processEvents();
            QTRY_VERIFY(!QGuiApplication::overrideCursor());
            QCOMPARE(m_boxes->seen.size(), 1);
        }
        QVERIFY2(m_boxes->seen.first().text.startsWith(
                     "The receiver's hardware address (00:09:34:AB:CD:EF) could not be kept, so "
                     "Quillora can't wake it from deep standby: "),
                 qPrintable(m_boxes->seen.first().text));
        QCOMPARE(log(), "first\nsecond");
    }

    // A receiver whose hardware address is kept: where nothing answers, the user is asked
    // whether to wake it; where it took the request and broke off, the message may be on the
    // screen, so it is reported once and never sent again.
    void receiverNotAnswering_data()
    {
        QTest::addColumn<bool>("listening"); // the receiver's port takes connections
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("nothing answers")
            << false
            << QStringList{"Nothing answers at the receiver: it may be in deep standby or "
                           "switched off."};
        QTest::newRow("cut short after the request")
            << true
            << QStringList{"Message not delivered: the connection closed before the receiver's "
                           "answer was complete"};
    }

    void receiverNotAnswering()
    {
        QFETCH(bool, listening);
        QFETCH(QStringList, boxes);
        FakeReceiver receiver;
        receiver.script = {{"HTTP/1.1 200 OK\r\n", FakeReceiver::Then::Close}};
        QTcpServer closed; // a port where nothing answers, once closed
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString address
            = listening ? receiver.address() : "127.0.0.1:" + QString::number(closed.serverPort());
        closed.close();
        writeSettings("[Dreambox]\r\nIP=" + address.toUtf8() + "\r\nTimeout=10\r\n[Wake]\r\n"
                      + address.toUtf8() + "=00:09:34:AB:CD:EF\r\n");
        QVERIFY(open());
        m_boxes->press = "Cancel";
        QTest::mouseClick(widget("Command10"), Qt::LeftButton);
        QTRY_COMPARE(m_boxes->seen.size(), 1);
        QTRY_VERIFY(!QGuiApplication::overrideCursor()); // the send has ended
        QCOMPARE(m_boxes->seen.first().text, boxes.first());
        if (!listening) { // Wake and Send or Cancel: sending anyway can't reach it
            QCOMPARE(m_boxes->seen.first().defaultButton, "Wake and Send");
            QCOMPARE(m_boxes->seen.first().buttons, QMessageBox::Cancel);
        }
        QCOMPARE(m_boxes->seen.size(), boxes.size());
        QCOMPARE(log(), QString());
        QCOMPARE(receiver.requests().size(), listening ? 1 : 0);
    }

    void trustingAReceiversCertificate_data()
    {
        QTest::addColumn<QString>("kept"); // fingerprint kept for the receiver: own, other or none
        QTest::addColumn<QString>("press");
        QTest::addColumn<bool>("sent");
        QTest::newRow("trusted") << ""
                                 << "Trust" << true;
        QTest::newRow("not trusted") << ""
                                     << "Cancel" << false;
        QTest::newRow("changed, kept out") << "other"
                                           << "Cancel" << false;
        QTest::newRow("changed, trusted anew") << "other"
                                               << "Trust" << true;
        QTest::newRow("kept: nothing asked") << "own"
                                             << "" << true;
    }

    // A receiver's own certificate is taken once the user trusted it; that is kept in the
    // settings file, and nothing is sent before.
    void trustingAReceiversCertificate()
    {
        QFETCH(QString, kept);
        QFETCH(QString, press);
        QFETCH(bool, sent);
        const TlsFront front(*m_receiver, "receiver");
        const QString own = FormatFingerprint(
            TlsFront::certificate("receiver").digest(QCryptographicHash::Sha256));
        const QString other
            = FormatFingerprint(TlsFront::certificate("other").digest(QCryptographicHash::Sha256));
        const QString receiver = "127.0.0.1:" + QString::number(front.port());
        QByteArray file = "[Dreambox]\r\nIP=https://" + receiver.toUtf8() + "\r\n";
        if (!kept.isEmpty())
            file += "[Certificates]\r\n" + receiver.toUtf8() + '='
                    + (kept == "own" ? own : other).toUtf8() + "\r\n";
        writeSettings(file);
        QVERIFY(open());
        m_boxes->press = press;

        field("Text2")->setText("A");
        QTest::mouseClick(widget("Command10"), Qt::LeftButton);
        QTRY_COMPARE(m_boxes->seen.size() + log().size(), press.isEmpty() || !sent ? 1 : 2);
        QTRY_VERIFY(!QGuiApplication::overrideCursor());
        QCOMPARE(m_boxes->seen.size(), press.isEmpty() ? 0 : 1);
        if (!press.isEmpty()) {
            const MessageBoxWatcher::Seen &box = m_boxes->seen.first();
            QCOMPARE(box.title, "Receiver Certificate");
            QCOMPARE(box.parent, m_form.get());
            QVERIFY2(box.text.contains(receiver), qPrintable(box.text));
            const auto shown = [&box](const QString &fingerprint) {
                return QString(box.informativeText).remove('\n').contains(fingerprint);
            };
            QVERIFY2(shown(own), qPrintable(box.informativeText));
            const QString until = QLocale().toString(TlsFront::certificate("receiver").expiryDate(),
                                                     QLocale::ShortFormat);
            QVERIFY2(box.informativeText.contains(until), qPrintable(box.informativeText));
            if (kept == "other") {
                QVERIFY2(box.text.contains("has changed since you trusted it"),
                         qPrintable(box.text));
                QVERIFY(shown(other));
                QCOMPARE(box.defaultButton, "Cancel");
            }
        }
        QCOMPARE(log(), sent ? "A" : "");
        QCOMPARE(m_receiver->requests().size(), sent ? 1 : 0);
        const QString stored = Module1::ReadIniEntry(iniPath(), "Certificates", receiver);
        QCOMPARE(stored, sent ? own : kept == "other" ? other : QString());

        // Once trusted, a later send asks nothing.
        m_boxes->seen.clear();
        if (sent) {
            sendBody("B");
            QTRY_COMPARE(log(), "A\nB");
            QCOMPARE(m_boxes->seen.size(), 0);
        }
    }

    // The address field's menu finds the receivers on the network; choosing one puts its
    // address into the field, and nothing is saved.
    // A name is shown as text, whatever the network announced.
    void findingTheReceiverFillsTheAddress_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "Living Room"
                               << "Living Room";
        QTest::newRow("escape codes and a right-to-left mark")
            << QString::fromUtf8("\x1B[2J\u202Eeciffo\x1B]0;PWN\x07")
            << "\\x1B[2J\\u{202E}eciffo\\x1B]0;PWN\\x07";
    }

    void findingTheReceiverFillsTheAddress()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        FakeReceiver receiver{ReceiverSim::Firmware::OpenWebif};
        Announcer announcer(name, Announcer::Interface::OpenWebif, false, receiver.serverPort());
        QVERIFY(announcer.listenAt(QHostAddress::LocalHost));
        QVERIFY(open());
        QCOMPARE(m_boxes->texts(), QStringList{"Configuration file looks invalid, Save a new one"});
        QVERIFY2(field("Text1")->toolTip().contains("Find receivers"),
                 qPrintable(field("Text1")->toolTip()));
        m_form->findChild<InetOnDemand *>("Inet1")->setFindAt("127.0.0.1:"
                                                              + QString::number(announcer.port()));

        QLineEdit *address = field("Text1");
        const auto chooseFind = [address] {
            // A right click, as the window system reports it, then the menu's last entry.
            QContextMenuEvent rightClick(
                QContextMenuEvent::Mouse, QPoint(5, 5), address->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(address, &rightClick);
            QMenu *menu = nullptr;
            QTRY_VERIFY((menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())));
            QAction *find = menu->actions().last();
            QCOMPARE(find->text(), QString::fromUtf8("Find receivers…"));
            find->trigger();
            menu->close();
        };
        chooseFind();
        if (QTest::currentTestFailed())
            return;

        auto *dialog = m_form->findChild<QDialog *>("FindReceivers");
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(!dialog->isModal()); // the window stays usable
        auto *list = dialog->findChild<QListWidget *>("receivers");
        QTRY_COMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(),
                 QString::fromUtf8("%1 – %2 (openwebif)").arg(shown, receiver.address()));
        QTRY_VERIFY(dialog->findChild<QLabel *>("status")->text().startsWith("Choose"));
        QTest::keyClick(list, Qt::Key_Return);
        QTRY_VERIFY(!dialog->isVisible());
        QCOMPARE(address->text(), receiver.address());
        QCOMPARE(settings(), QByteArray("<no file>"));
        QCOMPARE(receiver.requests().size(), 1); // its /web/about, and nothing on the TV

        // Esc leaves the dialog without choosing.
        address->setText("kept");
        chooseFind();
        QTRY_COMPARE(list->count(), 1);
        QTest::keyClick(dialog, Qt::Key_Escape);
        QTRY_VERIFY(!dialog->isVisible());
        QCOMPARE(address->text(), "kept");
    }

#ifndef QUILLORA_TRANSFER_LINKED
    // Only where the network code is a library of its own.
    void missingTransferLibrarySaysSo()
    {
        writeSettings("[Dreambox]\r\nIP=" + m_receiver->address().toUtf8() + "\r\n");
        QVERIFY(open(10s, {}, m_dir->filePath("quillora-transfer")));
        QTest::mouseClick(widget("Command10"), Qt::LeftButton);
        QTRY_COMPARE(m_boxes->seen.size(), 1);
        QCOMPARE(m_boxes->seen.first().text,
                 "Message not delivered: Quillora's network part ("
                     + QDir::toNativeSeparators(m_dir->filePath("quillora-transfer"))
                     + ") is missing or damaged; reinstall Quillora");
        QVERIFY2(m_boxes->seen.first().detailedText.contains("quillora-transfer"),
                 qPrintable(m_boxes->seen.first().detailedText)); // the system's own words
        QCOMPARE(log(), QString());
        QVERIFY(!QGuiApplication::overrideCursor());
    }
#endif

    void pastedTextIsTakenWhole_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name : {"Text1", "Text3", "Text4", "Text2"})
            QTest::newRow(name) << name;
    }

    void pastedTextIsTakenWhole()
    {
        QFETCH(QString, name);
        QVERIFY(openConfigured());
        QLineEdit *edit = field(name.toLatin1().constData());
        edit->clear();
        edit->setFocus();
        QGuiApplication::clipboard()->setText(QString(102400, 'x'));
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit->text().size(), 102400);
    }

    void secondClickWhilePendingSendsAgain()
    {
        QVERIFY(openConfigured(60s));
        m_receiver->script = {QByteArray()}; // the first message is never answered
        field("Text2")->setText("first");
        QTest::mouseClick(widget("Command10"), Qt::LeftButton);
        QTRY_COMPARE(m_receiver->requests().size(), 1);
        QVERIFY(widget("Command10")->isEnabled());
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);

        field("Text2")->setText("second");
        QTest::mouseClick(widget("Command10"), Qt::LeftButton);
        field("Text2")->setText("changed after sending");
        QTRY_COMPARE(log(), "second");
        QCOMPARE(m_receiver->requests().size(), 2);
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
        // cleanup() closes the window with the first message still under way.
    }

    void closing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Exit button") << "button";
        QTest::newRow("close box") << "close box";
    }

    // Closing the window ends the program, with success, even with a message under way.
    void closing()
    {
        QFETCH(QString, how);
        QVERIFY(openConfigured());
        m_receiver->script = {QByteArray()};
        QTest::mouseClick(widget("Command10"), Qt::LeftButton);
        QTRY_COMPARE(m_receiver->requests().size(), 1);

        QTimer::singleShot(0, m_form.get(), [this, how] {
            if (how == "button")
                QTest::mouseClick(widget("Command3"), Qt::LeftButton);
            else
                m_form->close();
        });
        QTimer failsafe;
        failsafe.setSingleShot(true);
        connect(&failsafe, &QTimer::timeout, this, [] { QCoreApplication::exit(1); });
        failsafe.start(5000);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!m_form->isVisible());
    }

    void save_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QStringList>("fields"); // address, timeout
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QByteArray>("after");
        const QString noIp = "Ip to DreamBox is missing, Try again";
        const QString noTimeout = "No Timeout value set, Try again";
        QTest::newRow("both empty") << QByteArray() << QStringList{"", ""}
                                    << QStringList{noIp, noTimeout} << QByteArray("<no file>");
        // A new file gets the system's own line ends.
#ifdef Q_OS_WIN
        const QByteArray eol = "\r\n";
#else
        const QByteArray eol = "\n";
#endif
        QTest::newRow("address only")
            << QByteArray() << QStringList{"192.0.2.1", ""} << QStringList{noTimeout}
            << "[Dreambox]" + eol + "IP=192.0.2.1" + eol;
        QTest::newRow("both, letters for timeout")
            << QByteArray() << QStringList{" a ", "ten"} << QStringList{}
            << "[Dreambox]" + eol + "IP= a " + eol + "Timeout=ten" + eol;
        QTest::newRow("code page 1252 file keeps its bytes")
            << NotepadFile << QStringList{"192.0.2.7", "10"} << QStringList{}
            << QByteArray(NotepadFile).replace("192.0.2.1", "192.0.2.7");
        QTest::newRow("refusal keeps the stored value")
            << QByteArray("[Dreambox]\r\nIP=old\r\nTimeout=9\r\nVersion=V1\r\n")
            << QStringList{"", "5"} << QStringList{noIp}
            << QByteArray("[Dreambox]\r\nIP=old\r\nTimeout=5\r\nVersion=V1\r\n");
    }

    void save()
    {
        QFETCH(QByteArray, before);
        QFETCH(QStringList, fields);
        QFETCH(QStringList, messages);
        QFETCH(QByteArray, after);
        if (!before.isEmpty())
            writeSettings(before);
        QVERIFY(open());
        m_boxes->seen.clear();
        field("Text1")->setText(fields[0]);
        field("Text3")->setText(fields[1]);
        QTest::mouseClick(widget("Command1"), Qt::LeftButton);
        QTRY_COMPARE(m_boxes->texts(), messages);
        QCOMPARE(settings(), after);
    }

    void failedSaveSaysWhy()
    {
        const QString ini = m_dir->filePath("missing/Tavrel.INI");
        QVERIFY(open(10s, ini));
        m_boxes->seen.clear();
        field("Text1")->setText("192.0.2.1");
        field("Text3")->setText("10");
        QTest::mouseClick(widget("Command1"), Qt::LeftButton);
        QTRY_COMPARE(m_boxes->seen.size(), 1);
        QVERIFY2(m_boxes->seen.first().text.startsWith("Settings not saved (address and timeout): "
                                                       + QDir::toNativeSeparators(ini) + ": "),
                 qPrintable(m_boxes->seen.first().text));
        QCoreApplication::sendPostedEvents(); // a second box would have been on its way
        QCoreApplication::processEvents();
        QCOMPARE(m_boxes->seen.size(), 1);
    }

    void saveClearLoad()
    {
        QVERIFY(open());
        field("Text1")->setText("192.0.2.1:8080");
        field("Text3")->setText("15");
        QTest::mouseClick(widget("Command1"), Qt::LeftButton);
        field("Text1")->clear();
        field("Text3")->setText("99");
        QTest::mouseClick(widget("Command2"), Qt::LeftButton);
        QCOMPARE(field("Text1")->text(), "192.0.2.1:8080");
        QCOMPARE(field("Text3")->text(), "15");
        QCOMPARE(m_boxes->seen.size(), 1); // the start-up warning only
    }

    void notAFileInTheSettingsFilesPlace_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder") << "folder";
#ifdef Q_OS_UNIX
        QTest::newRow("pipe") << "pipe";
#endif
    }

    // Something else in the settings file's place is no settings file: start-up and Save go on
    // at once, and it stays as it was.
    void notAFileInTheSettingsFilesPlace()
    {
        QFETCH(QString, kind);
        if (kind == "folder")
            QVERIFY(QDir(m_dir->path()).mkdir("Tavrel.INI"));
#ifdef Q_OS_UNIX
        std::optional<FifoWatchdog> pipe;
        if (kind == "pipe")
            QVERIFY(pipe.emplace(iniPath()).made());
#endif
        QVERIFY(open());
        QCOMPARE(m_boxes->texts(), QStringList{"Configuration file looks invalid, Save a new one"});
        field("Text1")->setText("192.0.2.1");
        field("Text3")->setText("10");
        QTest::mouseClick(widget("Command1"), Qt::LeftButton);
        QTRY_COMPARE(m_boxes->seen.size(), 2);
        QCOMPARE(m_boxes->seen.last().text,
                 "Settings not saved (address and timeout): " + QDir::toNativeSeparators(iniPath())
                     + ": not a regular file");
#ifdef Q_OS_UNIX
        QVERIFY(!pipe || pipe->stop());
        struct stat status = {};
        QVERIFY(::stat(QFile::encodeName(iniPath()).constData(), &status) == 0
                && (kind == "pipe" ? S_ISFIFO(status.st_mode) : S_ISDIR(status.st_mode)));
#else
        QVERIFY(QFileInfo(iniPath()).isDir());
#endif
    }

    // The program may lie in a folder whose name is not plain ASCII.
    void folderWithAccentedName()
    {
        QVERIFY(QDir(m_dir->path()).mkpath(QString::fromUtf8("Fernsehger\u00e4te/Quillora")));
        const QString ini
            = m_dir->filePath(QString::fromUtf8("Fernsehger\u00e4te/Quillora/Tavrel.INI"));
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(NotepadFile);
        file.close();
        QVERIFY(open(10s, ini));
        QCOMPARE(field("Text1")->text(), "192.0.2.1");
        field("Text3")->setText("25");
        QTest::mouseClick(widget("Command1"), Qt::LeftButton);
        field("Text3")->clear();
        QTest::mouseClick(widget("Command2"), Qt::LeftButton);
        QCOMPARE(field("Text3")->text(), "25");
        QVERIFY(m_boxes->seen.isEmpty());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray(NotepadFile).replace("Timeout=10", "Timeout=25"));
    }

    void loadAfterTheFileWasDeleted()
    {
        writeSettings("[Dreambox]\nIP=a\nTimeout=1\nVersion=V1\n");
        QVERIFY(open());
        QVERIFY(QFile::remove(iniPath()));
        QTest::mouseClick(widget("Command2"), Qt::LeftButton);
        QCOMPARE(field("Text1")->text(), QString());
        QCOMPARE(field("Text3")->text(), QString());
        QCOMPARE(widget<QLabel>("Label5")->text(), QString());
        QCoreApplication::sendPostedEvents(); // a box would have been on its way
        QCoreApplication::processEvents();
        QVERIFY(m_boxes->seen.isEmpty());
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
