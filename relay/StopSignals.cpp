#include "StopSignals.h"

#include <QCoreApplication>
#include <QObject>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

std::function<void()> stopping;

#ifdef Q_OS_WIN
BOOL WINAPI consoleEvent(DWORD)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { stopping(); }, Qt::QueuedConnection);
    return TRUE;
}
#else
int wakeUp[2] = {-1, -1}; // the handler writes a byte; the event loop reads it

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeUp[0], &byte, 1);
}
#endif

} // namespace

void OnStopSignal(std::function<void()> stop)
{
    stopping = std::move(stop);
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(consoleEvent, TRUE);
#else
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, wakeUp) != 0)
        return;
    auto *notifier
        = new QSocketNotifier(wakeUp[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(wakeUp[1], &byte, 1);
        notifier->setEnabled(false);
        stopping();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
#endif
}
