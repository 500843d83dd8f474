#include "ReceiverDialogue.h"
#include "MessageUrl.h"
#include "WireUrl.h"

#include <QCoreApplication>
#include <QUrl>
#include <QXmlStreamReader>

#include <algorithm>
#include <optional>
#include <variant>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Inet", text);
}

QString statusFailure(const HttpAnswer &answer, const HttpRequest &request)
{
    if (answer.status == 401 && request.authorization.isEmpty())
        return tr("the receiver wants a login, so type the address as user:password@%1")
            .arg(QString::fromUtf8(request.hostHeader));
    if (answer.status == 401)
        return tr("the receiver refused the login");
    return tr("the receiver answered HTTP %1 %2")
        .arg(answer.status)
        .arg(QString::fromUtf8(answer.reason))
        .trimmed();
}

QByteArray formValue(const QString &text)
{
    return QUrl::toPercentEncoding(text);
}

// The text of each element of an XML answer, the first of each name; nothing when the answer is
// not well-formed XML, since a reader stopped by an error has read only part of it.
std::optional<QHash<QString, QString>> xmlElements(const QByteArray &xml)
{
    QXmlStreamReader reader(xml);
    QHash<QString, QString> elements;
    QList<std::pair<QString, QString>> open; // names and texts of the elements being read
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            open.append({reader.name().toString(), QString()});
            break;
        case QXmlStreamReader::Characters:
            for (auto &element : open)
                element.second += reader.text();
            break;
        case QXmlStreamReader::EndElement:
            if (!open.isEmpty()) {
                const auto [name, text] = open.takeLast();
                if (!elements.contains(name))
                    elements.insert(name, text.trimmed());
            }
            break;
        default:
            break;
        }
    }
    if (reader.hasError())
        return std::nullopt;
    return elements;
}

// A first-generation request this long may be more than a second-generation receiver's web server
// reads; it then answers with an error or drops the connection instead of saying 404.
constexpr qsizetype LongRequestLine = 8 * 1024;

bool refusesLongRequests(int status)
{
    return status == 400 || status == 414 || status == 431;
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
    // Spaces around the address are a slip of the keyboard, not part of it.
    const QString address = m_message.address.trimmed();
    if (const QString problem = AddressProblem(address);
        !problem.isEmpty() && !address.contains(QLatin1String("://")))
        return finish(problem);
    auto request = RequestForUrl(
        ComposeMessageUrl(address, m_message.timeout, m_message.caption, m_message.body));
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
    const QString peer = QString::fromUtf8(request.hostHeader);
    trace(QStringLiteral("> %1 (to %2)")
              .arg(QString::fromUtf8(HttpExchange::requestLine(request)), peer));
    m_exchange = new HttpExchange(
        request,
        [this, next, peer](const HttpOutcome &outcome) {
            m_exchange->deleteLater();
            m_exchange = nullptr;
            if (!outcome.failure.isEmpty()) {
                trace(QStringLiteral("< %1 (from %2)").arg(outcome.failure, peer));
                if (next == &ReceiverDialogue::judgeFirstGeneration && outcome.unanswered
                    && isLongRequest())
                    return askForSession();
                return finish(outcome.failure);
            }
            trace(QStringLiteral("< %1 (from %2)")
                      .arg(QString::fromUtf8(outcome.answer.statusLine), peer));
            (this->*next)(outcome.answer);
        },
        this);
}

void ReceiverDialogue::sendFirstGeneration()
{
    send(m_first.method, m_first.target, {}, &ReceiverDialogue::judgeFirstGeneration);
}

void ReceiverDialogue::judgeFirstGeneration(const HttpAnswer &answer)
{
    if (answer.status == 404 // no such call: a second-generation receiver
        || (refusesLongRequests(answer.status) && isLongRequest()))
        return askForSession();
    if (answer.status < 200 || answer.status > 299)
        return finish(statusFailure(answer, m_first));
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
    m_session = answer.status == 200 ? xmlElements(answer.body)
                                           .value_or(QHash<QString, QString>{})
                                           .value(QStringLiteral("e2sessionid"))
                                     : QString();
    postMessage();
}

void ReceiverDialogue::postMessage()
{
    const QString text = m_message.caption.isEmpty()
                             ? m_message.body
                             : m_message.caption + QLatin1Char('\n') + m_message.body;
    // type 0 would wait for a yes or no on the TV, so it is never sent.
    const int type = std::clamp(m_message.type, 1, 3);
    QByteArray form = "text=" + formValue(text) + "&type=" + QByteArray::number(type)
                      + "&timeout=" + formValue(m_message.timeout);
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
    if (answer.status < 200 || answer.status > 299)
        return finish(statusFailure(answer, m_first));
    const auto elements = answer.status == 200 ? xmlElements(answer.body) : std::nullopt;
    if (!elements || !elements->contains(QStringLiteral("e2state")))
        return finish(tr("the receiver's answer to the message is not understood"));
    const QString state = elements->value(QStringLiteral("e2state"));
    trace(
        QStringLiteral("< e2state %1 (from %2)").arg(state, QString::fromUtf8(m_first.hostHeader)));
    m_known.insert(m_message.address, m_session);
    // Judged by the state alone: the text that goes with it is translated on the receiver.
    if (state.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return finish({});
    const QString why = elements->value(QStringLiteral("e2statetext"));
    finish(why.isEmpty() ? tr("the receiver refused the message") : why);
}

bool ReceiverDialogue::isLongRequest() const
{
    return HttpExchange::requestLine(m_first).size() > LongRequestLine;
}

void ReceiverDialogue::trace(const QString &line) const
{
    if (m_trace)
        m_trace(line);
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
