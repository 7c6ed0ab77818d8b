#pragma once

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

// A polling worker: the thread calls step() over and over with a pause between calls, and another
// thread starts, pauses, resumes and stops it through two flags.
//
// Threads: start(), pause(), stop() and the destructor run on the controlling (GUI) thread; run()
// and step() on the worker. m_Stopped and m_Paused are atomics written by both sides (the worker
// sets m_Stopped itself at the end of its input) and read without a lock; a change is seen at the
// next pass. m_Mutex guards the timed wait on m_Idle and m_Woken; only wake() signals m_Idle, and
// every rest of the worker is such a wait, so wake() (a seek, stop()) ends any of them.
//
// Subclasses must stop the thread in their own destructor: by the time ~JobThread runs, step() is
// already gone.
class JobThread : public QThread {
    Q_OBJECT
public:
    explicit JobThread(QObject *parent = nullptr);
    ~JobThread() override;

    // Starts a stopped thread (returns true; a pause left set stays set), or clears the pause of a
    // thread that is already wanted running (returns false).
    virtual bool start();
    // Asks the thread to end, wakes it from any rest and waits until it has ended. Never call it
    // from the worker itself.
    virtual void stop();
    virtual void pause();
    virtual bool isRunning() const;
    virtual bool isPaused() const;
    virtual bool isStopped() const;

    // The loop's sleeps (see EngineOptions for the programs' values).
    void setSleeps(int afterWorkMs, int idleWaitMs, int afterIdleMs, int pausedMs);
    // Ends the idle wait the worker is in (or its next one) at once: there is work again (a seek
    // emptied the queues), and up to 20 ms of waiting would go straight into its latency.
    void wake();

protected:
    void run() override;
    // One unit of work on the worker thread; true when it did something.
    virtual bool step() = 0;
    // Asked on the worker after a step that did work: false skips the sleep that follows it.
    virtual bool restAfterWork() { return true; }
    // A timed wait on m_Idle: a sleep of ms milliseconds, unless wake() ends it.
    void sleepFor(int ms);
    // For the worker: end the loop after this pass.
    void requestStop() { m_Stopped.store(true); }

    std::atomic<bool> m_Stopped{true};
    std::atomic<bool> m_Paused{false};

private:
    QMutex m_Mutex;
    QWaitCondition m_Idle;
    bool m_Woken = false;   // guarded by m_Mutex: wake() came while no wait was running
    std::atomic<int> m_AfterWorkMs{10};
    std::atomic<int> m_IdleWaitMs{10};
    std::atomic<int> m_AfterIdleMs{10};
    std::atomic<int> m_PausedMs{100};
};
