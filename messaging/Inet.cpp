#include "Inet.h"
#include "WireUrl.h"

#include <QAuthenticator>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>
#include <QUrl>

Inet::Inet(QNetworkAccessManager *network, std::chrono::milliseconds timeout, QObject *parent)
    : QObject(parent)
    , m_network(network)
    , m_timeout(timeout)
{
    connect(
        m_network, &QNetworkAccessManager::authenticationRequired, this, &Inet::answerChallenge);
}

Inet::~Inet()
{
    // Closing the window abandons whatever is still under way, without telling anybody.
    const auto replies = m_pending.keys();
    m_pending.clear();
    for (QNetworkReply *reply : replies) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void Inet::OpenUrl(const QString &text, QObject *context, Done done)
{
    const QUrl url = QUrl::fromEncoded(EncodeUrlForWire(text), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) {
        done(tr("invalid receiver address"));
        return;
    }

    Transfer transfer{.user = url.userName(QUrl::FullyDecoded),
                      .password = url.password(QUrl::FullyDecoded),
                      .context = context,
                      .done = std::move(done)};
    QNetworkRequest request(url.adjusted(QUrl::RemoveUserInfo));
    // A redirect is an answer the receiver would not give to a message it took.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    if (!url.userInfo().isEmpty()) {
        const QByteArray login = (transfer.user + QLatin1Char(':') + transfer.password).toUtf8();
        request.setRawHeader("Authorization", "Basic " + login.toBase64());
    } else {
        // A login goes only where the address names it, never from an earlier send's cache.
        request.setAttribute(QNetworkRequest::AuthenticationReuseAttribute,
                             QNetworkRequest::Manual);
    }

    QNetworkReply *reply = m_network->get(request);
    m_pending.insert(reply, std::move(transfer));
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finish(reply); });
    QTimer::singleShot(m_timeout, reply, [this, reply] {
        const auto transfer = m_pending.find(reply);
        if (transfer == m_pending.end())
            return;
        transfer->timedOut = true;
        reply->abort();
    });
    emit pendingCountChanged(pendingCount());
}

void Inet::answerChallenge(QNetworkReply *reply, QAuthenticator *authenticator)
{
    auto transfer = m_pending.find(reply);
    // Answer once, and only with what the address holds: wrong credentials end as HTTP 401.
    if (transfer == m_pending.end() || transfer->challengeAnswered
        || (transfer->user.isEmpty() && transfer->password.isEmpty()))
        return;
    transfer->challengeAnswered = true;
    authenticator->setUser(transfer->user);
    authenticator->setPassword(transfer->password);
}

void Inet::finish(QNetworkReply *reply)
{
    const Transfer transfer = m_pending.take(reply);
    reply->deleteLater();
    const QString failure = failureOf(reply, transfer);
    emit pendingCountChanged(pendingCount());
    if (transfer.context)
        transfer.done(failure);
}

QString Inet::failureOf(QNetworkReply *reply, const Transfer &transfer) const
{
    if (transfer.timedOut)
        return tr("no answer from the receiver within %1 seconds")
            .arg(QString::number(static_cast<double>(m_timeout.count()) / 1000.0));
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299))
        return tr("the receiver answered HTTP %1 %2")
            .arg(status.toInt())
            .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
    if (reply->error() != QNetworkReply::NoError)
        return reply->errorString();
    // A receiver that refuses a message still answers 200, with a text that starts "E:".
    const QByteArray answer = reply->readAll();
    if (answer.startsWith("E:"))
        return QString::fromUtf8(answer).trimmed();
    return {};
}
