#pragma once

#include "Message.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>
#include <variant>

// quillora-send's command line, read without reading or sending anything: what it asks for.
namespace CommandLine {

// Send a message to one or more receivers, or ask one of them a question.
struct SendJob
{
    QStringList addresses;          // as given with -a; none: the settings file's
    std::optional<QString> timeout; // -t; none: the settings file's
    QString caption;
    std::optional<BoxType> box; // none: a question
    std::chrono::milliseconds maxTime{60000};
    QList<QByteArray> fingerprints; // trusted for this run
    bool verbose = false;
    std::optional<QString> settings; // --settings; none: the settings file of this program
    QStringList words;               // the body's words; none, or "-": standard input
    InStandby standby = InStandby::Refuse;
    std::optional<QByteArray> hardwareAddress; // --mac; none: the settings file's
    bool status = false;      // --status: nothing is shown, the power state is asked
    bool json = false;        // --json, with --status: the states as one JSON array
    bool printAnswer = false; // --print-answer: a question's answer on standard output too

    bool isQuestion() const { return !box && !status; }
};

// List the receivers on the local network.
struct FindJob
{
    bool verbose = false;
    bool json = false; // the receivers as one JSON array
};

// Print this and end: --help. --help-all and --version are printed by Qt's own parser.
struct PrintJob
{
    QString text;
    bool byQt = false;
};

// A command line that is wrong, and what is wrong with it.
struct UsageError
{
    QString problem;
};

using Job = std::variant<SendJob, FindJob, PrintJob, UsageError>;

// arguments: the program's, its name first.
Job Read(const QStringList &arguments);

// Prints what a PrintJob by Qt asks for, as Qt's parser does, and ends the program.
void PrintByQt(const QStringList &arguments);

// The messages a send job makes, one per receiver, each address read and given once, with the
// settings file's address and timeout where the command line gave none; or what is wrong. Their
// body is still to come.
// keptHardwareAddress: what the settings file keeps for a receiver (by its trust key).
std::variant<QList<Message>, UsageError>
Messages(const SendJob &job,
         const QString &storedAddress,
         const QString &storedTimeout,
         const std::function<QString(const QString &receiverKey)> &keptHardwareAddress = {});

// How quillora-send ends.
enum ExitStatus {
    Success = 0,      // every receiver took the message; a person answered Yes; or it informed
    NotDelivered = 1, // a receiver did not take it, or the answer could not be read
    Usage = 2,        // the command line or an address was wrong, and nothing was sent
    AnsweredNo = 3,   // a person answered the question No
    NotAnswered = 4,  // nobody answered the question within the wait
    InStandby = 5,    // the receiver is in standby: nothing was shown
};

ExitStatus StatusOf(const SendOutcome &outcome);

// The status of several receivers together: the worst, 1 before 5 before the rest.
ExitStatus Worse(ExitStatus a, ExitStatus b);

} // namespace CommandLine
