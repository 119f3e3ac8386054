#include "RunThread.h"

#include <QThread>

#include <cstdio>
#include <cstdlib>

namespace korvane {

RunThread::RunThread(QObject* parent)
    : QObject(parent)
{
}

RunThread::~RunThread()
{
    if (!m_thread)
        return;
    bool workDone = false;
    {
        const std::lock_guard lock(m_mutex);
        workDone = m_workDone;
    }
    if (!workDone) {
        std::fflush(nullptr);
        std::quick_exit(EXIT_SUCCESS);
    }
    m_thread->wait();
}

bool RunThread::isRunning() const
{
    return m_thread != nullptr;
}

bool RunThread::start(std::function<void()> work)
{
    if (m_thread)
        return false;
    {
        const std::lock_guard lock(m_mutex);
        m_workDone = false;
    }
    m_thread.reset(QThread::create([this, work = std::move(work)] {
        try {
            work();
        } catch (...) {
            // The run shows its own failures; nothing may leave the thread.
        }
        const std::lock_guard lock(m_mutex);
        m_workDone = true;
    }));
    m_thread->setObjectName(QStringLiteral("korvane-export-run"));
    connect(m_thread.get(), &QThread::finished, this, &RunThread::reap);
    m_thread->start();
    return true;
}

// On the owner's thread: QThread::finished comes from the run's thread just before it ends.
void RunThread::reap()
{
    m_thread->wait();
    {
        const std::lock_guard lock(m_mutex);
        Q_ASSERT(m_workDone);
    }
    m_thread.reset();
    emit finished();
}

} // namespace korvane
