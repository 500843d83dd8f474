#include "ReceiverDialogue.h"
#include "MessageUrl.h"
#include "WireUrl.h"

#include <QCoreApplication>
#include <QUrl>
#include <QXmlStreamReader>

#include <optional>
#include <variant>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Inet", text);
}

QString statusFailure(const HttpAnswer &answer)
{
    return tr("the receiver answered HTTP %1 %2")
        .arg(answer.status)
        .arg(QString::fromUtf8(answer.reason))
        .trimmed();
}

QByteArray formValue(const QString &text)
{
    return QUrl::toPercentEncoding(text);
}

// The text of the first element of that name in an XML answer, if there is one.
std::optional<QString> xmlElement(const QByteArray &xml, QStringView name)
{
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == name)
            return reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
    }
    return std::nullopt;
}

} // namespace

ReceiverDialogue::ReceiverDialogue(const Message &message,
                                   SecondGenerationReceivers &known,
                                   std::chrono::milliseconds timeout,
                                   QObject *parent)
    : QObject(parent)
    , m_message(message)
    , m_known(known)
    , m_timeout(timeout)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        finish(tr("no answer from the receiver within %1 seconds")
                   .arg(QString::number(static_cast<double>(m_timeout.count()) / 1000.0)));
    });
}

void ReceiverDialogue::start(Done done)
{
    m_done = std::move(done);
    auto request = RequestForUrl(
        ComposeMessageUrl(m_message.address, m_message.timeout, m_message.caption, m_message.body));
    if (const QString *invalid = std::get_if<QString>(&request))
        return finish(*invalid);
    m_first = std::get<HttpRequest>(std::move(request));
    m_timer.start(m_timeout);
    const auto known = m_known.constFind(m_message.address);
    if (known == m_known.cend())
        return sendFirstGeneration();
    m_remembered = true;
    m_session = *known;
    postMessage();
}

void ReceiverDialogue::send(const QByteArray &method,
                            const QByteArray &target,
                            const QByteArray &form,
                            Next next)
{
    HttpRequest request = m_first;
    request.method = method;
    request.target = target;
    request.body = form;
    if (!form.isEmpty())
        request.contentType = "application/x-www-form-urlencoded";
    m_exchange = new HttpExchange(
        request,
        [this, next](const QString &failure, const HttpAnswer &answer) {
            m_exchange->deleteLater();
            m_exchange = nullptr;
            if (!failure.isEmpty())
                return finish(failure);
            (this->*next)(answer);
        },
        this);
}

void ReceiverDialogue::sendFirstGeneration()
{
    send(m_first.method, m_first.target, {}, &ReceiverDialogue::judgeFirstGeneration);
}

void ReceiverDialogue::judgeFirstGeneration(const HttpAnswer &answer)
{
    if (answer.status == 404) // no such call: a second-generation receiver
        return askForSession();
    if (answer.status < 200 || answer.status > 299)
        return finish(statusFailure(answer));
    // A receiver that refuses a message still answers 200, with a text that starts "E:".
    if (answer.body.startsWith("E:"))
        return finish(QString::fromUtf8(answer.body).trimmed());
    finish({});
}

void ReceiverDialogue::askForSession()
{
    send("GET", "/web/session", {}, &ReceiverDialogue::takeSession);
}

void ReceiverDialogue::takeSession(const HttpAnswer &answer)
{
    // Web interfaces without sessions answer 404; the message then goes without one.
    m_session = answer.status == 200 ? xmlElement(answer.body, u"e2sessionid").value_or(QString())
                                     : QString();
    postMessage();
}

void ReceiverDialogue::postMessage()
{
    const QString text = m_message.caption.isEmpty()
                             ? m_message.body
                             : m_message.caption + QLatin1Char('\n') + m_message.body;
    // type 1 is an information box; 0 would wait for a yes or no on the TV.
    QByteArray form = "text=" + formValue(text) + "&type=1&timeout=" + formValue(m_message.timeout);
    if (!m_session.isEmpty())
        form += "&sessionid=" + formValue(m_session);
    send("POST", "/web/message", form, &ReceiverDialogue::judgeSecondGeneration);
}

void ReceiverDialogue::judgeSecondGeneration(const HttpAnswer &answer)
{
    if (answer.status == 412 && !m_sessionRenewed) { // the session is missing or has expired
        m_sessionRenewed = true;
        return askForSession();
    }
    if (answer.status == 404 && m_remembered) { // not the receiver it was: start afresh, once
        m_known.remove(m_message.address);
        m_remembered = false;
        m_session.clear();
        return sendFirstGeneration();
    }
    const auto state = answer.status == 200 ? xmlElement(answer.body, u"e2state") : std::nullopt;
    if (!state) {
        if (answer.status < 200 || answer.status > 299)
            return finish(statusFailure(answer));
        return finish(tr("the receiver's answer to the message is not understood"));
    }
    m_known.insert(m_message.address, m_session);
    // Judged by the state alone: the text that goes with it is translated on the receiver.
    if (state->compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return finish({});
    const QString why = xmlElement(answer.body, u"e2statetext").value_or(QString());
    finish(why.isEmpty() ? tr("the receiver refused the message") : why);
}

void ReceiverDialogue::finish(const QString &failure)
{
    if (!m_done)
        return;
    m_timer.stop();
    delete m_exchange;
    m_exchange = nullptr;
    const Done done = std::move(m_done);
    m_done = nullptr;
    done(failure);
}
