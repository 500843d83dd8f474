#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A named pipe for a test, with a watchdog: when something is still stuck opening or reading it
// after a few seconds, the watchdog opens and closes its other end, which lets the reader go on
// to an empty file. The test then fails instead of hanging the suite.
class FifoWatchdog
{
public:
    explicit FifoWatchdog(const QString &path)
        : m_path(path.toLocal8Bit())
    {
        m_made = ::mkfifo(m_path.constData(), 0600) == 0;
        m_thread = std::thread([this] {
            std::unique_lock lock(m_mutex);
            if (m_stopped.wait_for(lock, std::chrono::seconds(3), [this] { return m_stop; }))
                return;
            m_fired = true;
            while (!m_stopped.wait_for(
                lock, std::chrono::milliseconds(50), [this] { return m_stop; })) {
                for (int flags : {O_WRONLY | O_NONBLOCK, O_RDONLY | O_NONBLOCK})
                    if (const int fd = ::open(m_path.constData(), flags); fd >= 0)
                        ::close(fd);
            }
        });
    }

    ~FifoWatchdog() { stop(); }

    bool made() const { return m_made; }

    // Ends the watch; true when nothing ever had to be let go.
    bool stop()
    {
        if (m_thread.joinable()) {
            {
                std::lock_guard lock(m_mutex);
                m_stop = true;
            }
            m_stopped.notify_all();
            m_thread.join();
        }
        return !m_fired;
    }

private:
    QByteArray m_path;
    bool m_made = false;
    bool m_stop = false;
    bool m_fired = false;
    std::mutex m_mutex;
    std::condition_variable m_stopped;
    std::thread m_thread;
};
