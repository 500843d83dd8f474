#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QSslCertificate>
#include <QSslKey>
#include <QStringList>
#include <QTcpServer>

#include <chrono>
#include <optional>

class QTcpSocket;

// A stand-in for the receiver's web interface, in one of the firmware kinds receivers run:
// - First: the first generation, /cgi-bin/xmessage?timeout=…&caption=…&body=… answered "+ok";
// - OpenWebif: the second generation with the widespread web interface, /web/message by GET or
//   POST, no sessions;
// - Maker: the second generation with the maker's own web interface, /web/message by POST only
//   and with a session id from /web/session.
// The second generation also tells what it is at /web/about. With a login set it demands HTTP
// Basic authentication in every kind.
class ReceiverSim : public QTcpServer
{
    Q_OBJECT

public:
    enum class Firmware { First, OpenWebif, Maker };

    explicit ReceiverSim(Firmware firmware = Firmware::First, QObject *parent = nullptr);

    void requireLogin(const QString &user, const QString &password);

    // Serves HTTPS with this certificate and key from now on, as receivers do that have it on.
    void serveTls(const QSslCertificate &certificate, const QSslKey &key);

    // A request line longer than this (0: no limit) is not read: the connection is dropped
    // without an answer, as the web server of second-generation receivers does past 16 KiB.
    void setMaxLine(qsizetype bytes) { m_maxLine = bytes; }

    // How the person at the TV answers the yes/no questions of the second generation: Yes, No
    // or not at all, after a while. A question with a time-out of its own answers itself with
    // Yes when that runs out, as a receiver's box does.
    enum class Reply { Yes, No, None };
    void scriptAnswer(Reply reply, std::chrono::milliseconds after = {});

    // The texts the answers are given in: English unless told.
    void setAnswerTexts(const QString &yes, const QString &no, const QString &noneYet);

    // An answer left from an earlier question. The maker's interface keeps one until it is read,
    // whoever asked; OpenWebif forgets it at the next question.
    void leaveAnswer(Reply reply);

    // In standby the second generation goes on taking messages, on a dark screen, and wakes
    // wakeAfter after it is told to (/web/powerstate?newstate=4).
    void setStandby(bool standby, std::chrono::milliseconds wakeAfter = {});
    bool inStandby() const { return m_standby; }
    // The newstate of every /web/powerstate asked, empty for a question of the state alone.
    const QStringList &powerRequests() const { return m_powerRequests; }

    // What /web/about says the hardware address is.
    void setHardwareAddress(const QString &address) { m_hardwareAddress = address; }

    // Session ids handed out so far stop being valid, as after the receiver's session expired.
    void expireSessions() { m_sessions.clear(); }

    // Every request that arrived, head and body as raw bytes, oldest first.
    const QList<QByteArray> &requests() const { return m_requests; }

    // The value of the named header in a request head, or nothing.
    static QByteArray header(const QByteArray &request, const QByteArray &name);

    // A query or form decoded as the receiver does: pairs split at '&' and '=', "%XX" to bytes,
    // '+' to a space, the bytes read as UTF-8.
    static QHash<QString, QString> decodeQuery(const QByteArray &query);

signals:
    // A first-generation message, as the request gave it.
    void messageReceived(const QString &timeout, const QString &caption, const QString &body);
    // A second-generation message box: its type, how long it stays and its text.
    void boxShown(const QString &type, const QString &timeout, const QString &text);
    // The question on the screen was answered: "yes" or "no", and how.
    void questionAnswered(const QString &answer, const QString &how);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

    // Answers one whole request (head and body) on its connection.
    virtual void reply(QTcpSocket *socket, const QByteArray &request);

    // The whole HTTP answer to one request; an empty one leaves the request unanswered.
    virtual QByteArray answer(const QByteArray &request);

    static QByteArray response(int status,
                               const QByteArray &reason,
                               const QByteArray &body,
                               const QByteArray &headers = {});

private:
    QByteArray webMessage(const QByteArray &form);
    QByteArray about() const;
    QByteArray powerState(const QString &newState);
    QByteArray lastAnswer();
    void ask(const QString &timeout);
    void answerQuestion(int question, Reply reply, const QString &how);
    static QByteArray stateAnswer(bool state, const QByteArray &text);

    Firmware m_firmware;
    QSslCertificate m_certificate; // with its key, served over TLS; null for plain HTTP
    QSslKey m_key;
    QByteArray m_login;       // "user:password", or empty when none is needed
    QSet<QString> m_sessions; // ids handed out and still valid
    int m_sessionCount = 0;
    qsizetype m_maxLine = 0;
    Reply m_script = Reply::None;
    std::chrono::milliseconds m_scriptAfter{0};
    QString m_yes = QStringLiteral("Answer is YES!");
    QString m_no = QStringLiteral("Answer is NO!");
    QString m_noneYet = QStringLiteral("No answer in time");
    std::optional<bool> m_lastReply; // the one last answer, whoever asked
    int m_questions = 0;             // questions asked; the last one is on the screen
    bool m_questionOpen = false;
    QList<QByteArray> m_requests;
    bool m_standby = false;
    std::chrono::milliseconds m_wakeAfter{0};
    QStringList m_powerRequests;
    QString m_hardwareAddress = QStringLiteral("00:09:34:12:34:56");
};
