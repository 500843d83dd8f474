#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>

class QAuthenticator;
class QNetworkAccessManager;
class QNetworkReply;

// The window's transfer component: sends one HTTP GET per message URL and tells whether the
// receiver took the message. Sends never block; any number may be under way at once.
class Inet : public QObject
{
    Q_OBJECT

public:
    // Called once per send: an empty text when the receiver took the message, else why not.
    using Done = std::function<void(const QString &failure)>;

    Inet(QNetworkAccessManager *network,
         std::chrono::milliseconds timeout,
         QObject *parent = nullptr);
    ~Inet() override;

    // Sends the message URL as typed (encoded for the wire). A "user:password@" in front of the
    // host logs in with HTTP Basic authentication. done is skipped if context is gone by then.
    void OpenUrl(const QString &url, QObject *context, Done done);

    int pendingCount() const { return static_cast<int>(m_pending.size()); }

signals:
    void pendingCountChanged(int count);

private:
    struct Transfer
    {
        QString user;
        QString password;
        bool timedOut = false;
        bool challengeAnswered = false;
        QPointer<QObject> context;
        Done done;
    };

    void answerChallenge(QNetworkReply *reply, QAuthenticator *authenticator);
    void finish(QNetworkReply *reply);
    QString failureOf(QNetworkReply *reply, const Transfer &transfer) const;

    QNetworkAccessManager *m_network;
    std::chrono::milliseconds m_timeout;
    QHash<QNetworkReply *, Transfer> m_pending;
};
