#pragma once

#include <QObject>

#include <functional>
#include <mutex>
#include <thread>

namespace korvane {

// Runs the export off the window's thread, one run at a time, each on a thread of its own: the
// database handles a run makes are used and freed on that thread alone. A plain std::thread: the
// run needs no event loop of its own, and joining it orders everything the run did before
// whatever the window does next, in a way ThreadSanitizer sees too (it cannot see into Qt's
// uninstrumented QThread).
//
// What ending the program mid-run means is decided here, in the destructor: a run may be
// waiting on the database (up to the 30-second login and command time-outs) and can be neither
// interrupted nor waited for, and a thread object destroyed while its thread runs would end
// the program with an abort. So when the owner ends with a run still going, the process ends on
// the spot with status 0, without waiting and without running further destructors. Nothing is
// lost by that: the run writes the file at the path only in its save, which replaces it in one
// step, so the file is either as it was or the complete new one.
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

private slots:
    void reap();

private:
    bool workDone() const;

    std::thread m_thread;
    mutable std::mutex m_mutex;
    bool m_workDone = false;   // set by the run's thread as its last act
};

} // namespace korvane
