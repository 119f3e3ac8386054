#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <mutex>

class QThread;

namespace korvane {

// Runs the export off the window's thread, one run at a time, each on a thread of its own: the
// database handles a run makes are used and freed on that thread alone.
//
// What ending the program mid-run means is decided here, in the destructor: a run may be
// waiting on the database (up to the 30-second login and command time-outs) and cannot be
// interrupted or waited for, and a QThread destroyed while it runs aborts. So when the owner
// ends with a run still going, the process ends on the spot with status 0, without waiting and
// without running further destructors. Nothing is lost by that: the run writes the file at the
// path only in its save, which replaces it in one step, so the file is either as it was or the
// complete new one.
class RunThread final : public QObject {
    Q_OBJECT
public:
    explicit RunThread(QObject* parent = nullptr);
    ~RunThread() override;

    // True from start() until finished() is emitted.
    bool isRunning() const;

    // Starts `work` on a new thread; does nothing and answers false while a run is going.
    bool start(std::function<void()> work);

signals:
    // On the owner's thread, once `work` has returned (or thrown) and its thread has ended.
    void finished();

private:
    void reap();

    std::unique_ptr<QThread> m_thread;
    // Set by the run's thread as its last act, read by the owner's: the lock orders everything
    // the run did before its end against what the owner does after finished().
    mutable std::mutex m_mutex;
    bool m_workDone = false;
};

} // namespace korvane
