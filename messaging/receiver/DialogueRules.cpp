#include "DialogueRules.h"
#include "AnswerMeaning.h"
#include "MessageUrl.h"
#include "PlainText.h"
#include "WakeOnLan.h"
#include "WireUrl.h"
#include "XmlAnswer.h"

#include <QUrl>

#include <algorithm>
#include <utility>

namespace DialogueRules {

namespace {

using Kind = SendFailure::Kind;

QByteArray formValue(const QString &text)
{
    return QUrl::toPercentEncoding(text);
}

// A first-generation request this long may be more than a second-generation receiver's web server
// reads; it then answers with an error or drops the connection instead of saying 404.
constexpr qsizetype LongRequestLine = 8 * 1024;

bool isLongRequest(const Message &message, const State &state)
{
    return HttpExchange::requestLine(RequestFor(message, state, Step::FirstGeneration)).size()
           > LongRequestLine;
}

bool refusesLongRequests(int status)
{
    return status == 400 || status == 414 || status == 431;
}

bool isSuccess(const HttpAnswer &answer)
{
    return answer.status >= 200 && answer.status <= 299;
}

Next finish(const SendOutcome &outcome)
{
    Next next;
    next.outcome = outcome;
    return next;
}

Next fail(Kind kind, QStringList details = {})
{
    return finish(SendOutcome::failed(SendFailure::of(kind, std::move(details))));
}

// An answer that is an HTTP error, as its status line says it; when asked for the answer, so.
Next httpError(const HttpAnswer &answer, bool askingForAnswer = false)
{
    return fail(Kind::HttpError,
                {QString::number(answer.status),
                 PlainText::from(answer.reason),
                 askingForAnswer ? QStringLiteral("answer") : QString()});
}

// Whether an answer's e2state says True, in any case.
bool stateIsTrue(const QHash<QString, QString> &elements)
{
    return elements.value(QStringLiteral("e2state"))
               .compare(QLatin1String("True"), Qt::CaseInsensitive)
           == 0;
}

// Every element of the receivers' answers that the dialogue reads.
const QStringList Elements{QStringLiteral("e2state"),
                           QStringLiteral("e2statetext"),
                           QStringLiteral("e2sessionid"),
                           QStringLiteral("e2instandby"),
                           QStringLiteral("e2lanmac")};

std::optional<QHash<QString, QString>> elementsOf(const HttpAnswer &answer)
{
    return answer.status == 200 ? XmlElements(answer.body, Elements) : std::nullopt;
}

// One element's text of an answer, empty where it has none or can't be read.
QString elementOf(const HttpAnswer &answer, const char *name)
{
    return elementsOf(answer).value_or(QHash<QString, QString>{}).value(QLatin1String(name));
}

// The step that shows something on a second-generation receiver, after its power state where
// standby matters.
Next showing(const Message &message, State &state, Step step)
{
    if (message.standby == InStandby::SendAnyway || state.powerAsked)
        return Next::send(step);
    state.afterPower = step;
    return Next::send(Step::PowerState);
}

// What follows a session once it is had: before a question, the answer left from an earlier
// one; else the message.
Step afterSession(const Message &message, const State &state)
{
    return message.isQuestion() && !state.sessionRenewed ? Step::EarlierAnswer : Step::Message;
}

// The step after the power state: a session had for the power state serves the message too.
Next goOnAfterPower(const Message &message, const State &state)
{
    if (state.afterPower == Step::Session && !state.session.isEmpty())
        return Next::send(afterSession(message, state));
    return Next::send(state.afterPower);
}

// A receiver whose web interface wants a session on every call (HTTP 412) is asked for one, and
// the same request goes once more with it; a second 412 is final.
std::optional<Next> sessionFirst(State &state, Step step, const HttpAnswer &answer)
{
    if (answer.status != 412 || state.sessionForPower)
        return std::nullopt;
    state.sessionForPower = true;
    state.afterSession = step;
    return Next::send(Step::Session);
}

// Asked again while the receiver wakes up: as often as the rules allow, then it stays asleep.
Next askAgain(State &state, Step step, std::chrono::milliseconds after)
{
    if (++state.askedAgain > MaxAskedAgain)
        return finish(SendOutcome::failed(SendFailure::of(Kind::NotAwake, {state.timeoutSeconds})));
    return Next::sendAfter(step, after);
}

Next cancelled()
{
    return fail(Kind::Cancelled);
}

Next ask(Pause pause, Step step, const SendOutcome &why)
{
    Next next;
    next.action = Next::Action::Ask;
    next.pause = pause;
    next.step = step;
    next.outcome = why;
    return next;
}

Next firstGeneration(const Message &message, State &state, const HttpAnswer &answer)
{
    if (answer.status == 404 // no such call: a second-generation receiver
        || (refusesLongRequests(answer.status) && isLongRequest(message, state)))
        return showing(message, state, Step::Session);
    if (!isSuccess(answer))
        return httpError(answer);
    // It says "+ok" when the message is on the screen, and an error after "E:" (still with 200)
    // when it is not; nothing else means shown.
    QByteArray said = answer.body;
    while (!said.isEmpty() && QChar::isSpace(static_cast<uchar>(said.back())))
        said.chop(1);
    if (said == "+ok")
        return finish({});
    if (const qsizetype error = said.indexOf("E:"); error >= 0)
        return fail(Kind::RefusedByReceiver, {PlainText::from(said.mid(error).trimmed())});
    return fail(Kind::NotUnderstood, {SendFailure::Message});
}

Next takeSession(const Message &message, State &state, const HttpAnswer &answer)
{
    // Web interfaces without sessions answer 404; the message then goes without one.
    state.session = elementOf(answer, "e2sessionid");
    if (state.answerSessionRenewed) // the question is on the screen already
        return Next::send(Step::Answer);
    if (const std::optional<Step> then = std::exchange(state.afterSession, std::nullopt))
        return Next::send(*then);
    return Next::send(afterSession(message, state));
}

Next messageTaken(const Message &message, State &state, const HttpAnswer &answer)
{
    if (answer.status == 412 && !state.sessionRenewed) { // the session is missing or expired
        state.sessionRenewed = true;
        return Next::send(Step::Session);
    }
    if (answer.status == 404 && message.isQuestion())
        return fail(Kind::CantAsk);
    if (answer.status == 404 && state.remembered) { // not the receiver it was: afresh, once
        state.remembered = false;
        state.session.clear();
        Next next = Next::send(Step::FirstGeneration);
        next.forget = true;
        return next;
    }
    if (!isSuccess(answer))
        return httpError(answer);
    const auto elements = elementsOf(answer);
    if (!elements || !elements->contains(QStringLiteral("e2state")))
        return fail(Kind::NotUnderstood, {SendFailure::Message});
    const QString said
        = QStringLiteral("e2state ") + PlainText::from(elements->value(QStringLiteral("e2state")));
    // Judged by the state alone: the text that goes with it is translated on the receiver.
    Next next = !stateIsTrue(*elements)
                    ? fail(Kind::RefusedByReceiver,
                           {PlainText::from(elements->value(QStringLiteral("e2statetext")))})
                : message.isQuestion() ? Next::sendAfter(Step::Answer, AskAgainAfter)
                                       : finish({});
    // Its hardware address is asked once the message is reported: the message was taken,
    // whatever comes of that.
    next.learn = next.action == Next::Action::Finish && !next.outcome.failure
                 && message.learnHardwareAddress;
    next.remember = true;
    next.said = {said};
    return next;
}

// The receiver keeps one last answer. Its state and text say whether a person has answered and
// what; only a text known for that state is taken.
Next answerRead(State &state, const HttpAnswer &answer, std::chrono::milliseconds waitLeft)
{
    // A session may run out while a person thinks: a new one, and the wait goes on. Once in a
    // row, so that a receiver that refuses every session can't keep the dialogue going.
    if (answer.status == 412 && !state.session.isEmpty() && !state.answerSessionRenewed) {
        state.answerSessionRenewed = true;
        return Next::send(Step::Session);
    }
    state.answerSessionRenewed = false;
    const auto elements = elementsOf(answer);
    if (!elements || !elements->contains(QStringLiteral("e2state")))
        return isSuccess(answer) ? fail(Kind::NotUnderstood, {SendFailure::Question})
                                 : httpError(answer, true);
    const bool answered = stateIsTrue(*elements);
    const QString text = elements->value(QStringLiteral("e2statetext"));
    const QStringList said{QStringLiteral("e2state %1: %2")
                               .arg(PlainText::from(elements->value(QStringLiteral("e2state"))),
                                    PlainText::from(text))};
    const std::optional<AnswerText> meaning = RecognizeAnswerText(text);
    Next next;
    if (!meaning || (meaning == AnswerText::NoneYet) == answered)
        next = fail(Kind::NotUnderstood, {SendFailure::AnswerText, PlainText::from(text)});
    else if (meaning == AnswerText::Yes)
        next.outcome.answer = SendOutcome::Answer::Yes;
    else if (meaning == AnswerText::No)
        next.outcome.answer = SendOutcome::Answer::No;
    else if (waitLeft <= std::chrono::milliseconds::zero())
        next.outcome.answer = SendOutcome::Answer::NotInTime;
    else
        next = Next::sendAfter(Step::Answer, std::min(AskAgainAfter, waitLeft));
    next.said = said;
    return next;
}

// Whether the receiver is in standby: only "true" or "false" in its e2instandby counts.
std::optional<bool> inStandby(const HttpAnswer &answer)
{
    const QString said = elementOf(answer, "e2instandby");
    if (said == QLatin1String("true") || said == QLatin1String("false"))
        return said == QLatin1String("true");
    return std::nullopt;
}

Next powerState(const Message &message, State &state, const HttpAnswer &answer)
{
    if (auto session = sessionFirst(state, Step::PowerState, answer))
        return *session;
    state.powerAsked = true;
    const std::optional<bool> standby = inStandby(answer);
    const bool query = std::holds_alternative<PowerQuery>(message.kind);
    Next next;
    if (query && standby && *standby && std::get<PowerQuery>(message.kind).wake) {
        // Asked to wake it: the power state is told once the screen is on, or it stays asleep.
        next = state.woken ? askAgain(state, Step::PowerState, AskAgainAfter)
                           : Next::send(Step::Wake);
    } else if (query) {
        next.outcome.power = !standby   ? SendOutcome::Power::Unknown
                             : *standby ? SendOutcome::Power::Standby
                                        : SendOutcome::Power::On;
    } else if (!standby || !*standby) {
        next = goOnAfterPower(message, state);
    } else if (state.woken) { // on its way out of standby
        next = askAgain(state, Step::PowerState, AskAgainAfter);
    } else {
        switch (state.standby) {
        case InStandby::Wake:
            next = Next::send(Step::Wake);
            break;
        case InStandby::Refuse:
            next = fail(Kind::InStandby);
            break;
        case InStandby::Ask:
            next = state.canAsk ? ask(Pause::Standby,
                                      Step::PowerState,
                                      SendOutcome::failed(SendFailure::of(Kind::InStandby)))
                                : fail(Kind::InStandby);
            break;
        case InStandby::SendAnyway:
            next = goOnAfterPower(message, state);
            break;
        }
    }
    next.said = {!standby   ? QStringLiteral("power state unknown")
                 : *standby ? QStringLiteral("in standby")
                            : QStringLiteral("switched on")};
    return next;
}

Next woken(State &state, const HttpAnswer &answer)
{
    if (auto session = sessionFirst(state, Step::Wake, answer))
        return *session;
    if (!isSuccess(answer))
        return httpError(answer);
    state.woken = true;
    return askAgain(state, Step::PowerState, AskAgainAfter);
}

// What the receiver says its hardware address is; the message was taken whatever it says.
Next hardwareAddress(State &state, const HttpAnswer &answer)
{
    if (auto session = sessionFirst(state, Step::About, answer))
        return *session;
    Next next;
    const QString said = elementOf(answer, "e2lanmac");
    if (const auto bytes = ParseHardwareAddress(said); bytes && IsWakeable(*bytes))
        next.outcome.hardwareAddress = FormatHardwareAddress(*bytes);
    return next;
}

// The magic packet, once, then the step again every 2 seconds until the receiver answers.
Next wakeOnLan(State &state, Step step)
{
    Next next = askAgain(state, step, AskBootingAfter);
    if (next.action == Next::Action::SendAfter && !std::exchange(state.wakeOnLanSent, true))
        next.action = Next::Action::WakeOnLan;
    return next;
}

// Nothing answered before anything was shown: a receiver in deep standby, perhaps. One whose
// hardware address is known is woken by it, or the person sending is asked; a power query
// wakes only when it is told to wake, and a question on the screen is past waking.
std::optional<Next>
nothingAnswers(const Message &message, State &state, Step step, const SendOutcome &failed)
{
    const auto *query = std::get_if<PowerQuery>(&message.kind);
    if (message.hardwareAddress.isEmpty() || (query && !query->wake) || step == Step::Answer
        || step == Step::About)
        return std::nullopt;
    if (query)
        return wakeOnLan(state, step);
    switch (state.standby) {
    case InStandby::Wake:
        return wakeOnLan(state, step);
    case InStandby::Ask:
        if (state.canAsk && !state.wakeOnLanSent)
            return ask(Pause::NothingAnswers, step, failed);
        return std::nullopt;
    case InStandby::Refuse:
    case InStandby::SendAnyway:
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

Step FirstStep(const Message &message, State &state, const std::optional<QString> &knownSession)
{
    state.standby = message.standby;
    if (std::holds_alternative<PowerQuery>(message.kind))
        return Step::PowerState;
    if (knownSession && !message.isQuestion()) {
        state.remembered = true;
        state.session = *knownSession;
    }
    if (!message.isQuestion() && !knownSession)
        return Step::FirstGeneration;
    const Next first
        = showing(message, state, message.isQuestion() ? Step::Session : Step::Message);
    return first.step;
}

HttpRequest RequestFor(const Message &message, const State &state, Step step)
{
    const ReceiverAddress &address = message.address;
    HttpRequest request;
    request.host = address.host;
    request.zone = address.zone;
    request.port = address.port;
    request.tls = address.tls;
    request.hostHeader = address.hostHeader;
    request.authorization = address.authorization();
    QByteArray form;
    switch (step) {
    case Step::FirstGeneration:
        request.target = EncodeUrlForWire(
            ComposeMessageUrl(address.hostAndPort, message.timeout(), message.caption, message.body)
                .target);
        break;
    case Step::Session:
        request.target = "/web/session";
        break;
    case Step::Message: {
        const QString text = message.caption.isEmpty()
                                 ? message.body
                                 : message.caption + QLatin1Char('\n') + message.body;
        // A question goes without a time-out: a box that runs out closes with its preselected
        // Yes, which would read as an answer that nobody gave.
        const Notice *notice = std::get_if<Notice>(&message.kind);
        request.method = "POST";
        request.target = "/web/message";
        form = "text=" + formValue(text)
               + "&type=" + QByteArray::number(notice ? int(notice->box) : 0)
               + "&timeout=" + formValue(notice ? notice->timeout : QStringLiteral("0"));
        break;
    }
    case Step::PowerState:
    case Step::Wake: // 4 wakes it up and does nothing else; 0 would toggle
        // With a session it takes its arguments by POST only.
        request.method = state.session.isEmpty() ? "GET" : "POST";
        form = step == Step::Wake ? "newstate=4" : "";
        request.target = "/web/powerstate";
        if (request.method == "GET" && !form.isEmpty())
            request.target += "?" + form;
        break;
    case Step::About:
        request.target = "/web/about";
        if (!state.session.isEmpty())
            request.target += "?sessionid=" + formValue(state.session);
        break;
    case Step::EarlierAnswer:
    case Step::Answer:
        // A receiver that hands out sessions wants them on every call, and by POST.
        if (state.session.isEmpty()) {
            request.target = "/web/messageanswer?getanswer=now";
        } else {
            request.method = "POST";
            request.target = "/web/messageanswer";
            form = "getanswer=now";
        }
        break;
    }
    if (!state.session.isEmpty() && request.method == "POST")
        form += (form.isEmpty() ? "sessionid=" : "&sessionid=") + formValue(state.session);
    if (request.method == "POST") {
        request.body = form;
        request.contentType = "application/x-www-form-urlencoded";
    }
    return request;
}

Next Decide(const Message &message,
            State &state,
            Step step,
            const HttpOutcome &outcome,
            std::chrono::milliseconds waitLeft)
{
    const ReceiverAddress &address = message.address;
    if (step == Step::About) // the message was taken, whatever comes of this
        return outcome.failure ? finish({}) : hardwareAddress(state, outcome.answer);
    if (outcome.failure) {
        // A second-generation receiver's web server may drop a long request line unanswered.
        if (step == Step::FirstGeneration && outcome.connected && outcome.unanswered
            && isLongRequest(message, state))
            return showing(message, state, Step::Session);
        const SendOutcome failed
            = SendOutcome::failed(SendFailure::ofExchange(*outcome.failure, address));
        // Only where no connection was made: a receiver that took the request and then broke
        // off may have shown the message.
        const auto kind = outcome.failure->kind;
        if (!outcome.connected
            && (kind == HttpFailure::Kind::Refused || kind == HttpFailure::Kind::Network))
            if (auto woken = nothingAnswers(message, state, step, failed))
                return *woken;
        return finish(failed);
    }
    const HttpAnswer &answer = outcome.answer;
    if (answer.status == 401)
        return address.hasLogin ? fail(Kind::LoginRefused)
                                : fail(Kind::LoginWanted,
                                       {address.tls ? QStringLiteral("https://") : QString(),
                                        address.hostAndPort});
    switch (step) {
    case Step::FirstGeneration:
        return firstGeneration(message, state, answer);
    case Step::Session:
        return takeSession(message, state, answer);
    case Step::EarlierAnswer:
        if (answer.status == 404) // it keeps no answers, so it can't tell this one
            return fail(Kind::CantAsk);
        return isSuccess(answer) ? Next::send(Step::Message) : httpError(answer);
    case Step::Message:
        return messageTaken(message, state, answer);
    case Step::Answer:
        return answerRead(state, answer, waitLeft);
    case Step::PowerState:
        return powerState(message, state, answer);
    case Step::Wake:
        return woken(state, answer);
    case Step::About:
        break;
    }
    return finish({});
}

Next Resume(const Message &message, State &state, Step step, Pause pause, Choice choice)
{
    if (choice == Choice::Cancel)
        return cancelled();
    switch (pause) {
    case Pause::Certificate: // nothing went over the connection: the same request, trusted
        return Next::send(step);
    case Pause::Standby:
        if (choice == Choice::Wake) {
            state.standby = InStandby::Wake;
            return Next::send(Step::Wake);
        }
        state.standby = InStandby::SendAnyway;
        return goOnAfterPower(message, state);
    case Pause::NothingAnswers: // sending anyway can't reach what does not answer
        if (choice != Choice::Wake)
            return cancelled();
        state.standby = InStandby::Wake;
        return wakeOnLan(state, step);
    }
    return cancelled();
}

Next CertificateRefused(State &state, Step step, const SendOutcome &refused)
{
    return state.canAsk ? ask(Pause::Certificate, step, refused) : finish(refused);
}

} // namespace DialogueRules
