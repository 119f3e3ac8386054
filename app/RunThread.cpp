#include "app/RunThread.h"

#include <cstdio>
#include <cstdlib>

namespace korvane {

RunThread::RunThread(QObject* parent)
    : QObject(parent)
{
}

RunThread::~RunThread()
{
    if (!m_thread.joinable())
        return;
    if (!workDone()) {
        std::fflush(nullptr);
        std::quick_exit(EXIT_SUCCESS);
    }
    m_thread.join();
}

bool RunThread::isRunning() const
{
    return m_thread.joinable();
}

bool RunThread::workDone() const
{
    const std::lock_guard lock(m_mutex);
    return m_workDone;
}

bool RunThread::start(std::function<void()> work)
{
    if (m_thread.joinable())
        return false;
    m_workDone = false;
    m_thread = std::thread([this, work = std::move(work)] {
        try {
            work();
        } catch (...) {
            // The run shows its own failures; nothing may leave the thread.
        }
        {
            const std::lock_guard lock(m_mutex);
            m_workDone = true;
        }
        // By name, without arguments: the event carries nothing the two threads share.
        QMetaObject::invokeMethod(this, "reap", Qt::QueuedConnection);
    });
    return true;
}

// On the owner's thread, once the run has posted its end: the thread is about to return, so
// the join is at once.
void RunThread::reap()
{
    if (!m_thread.joinable())
        return;
    m_thread.join();
    emit finished();
}

} // namespace korvane
