#pragma once

#include <QThread>

#include <atomic>
#include <functional>

// A piece of framewise's work that must not hold up the window: measuring the pair on screen,
// the pass over both clips for the worst pairs, the search for the offset. The work runs once on
// a thread of its own and keeps its results in what it captured; QThread's finished() (queued to
// the GUI thread) says when they are there. The work reports progress through progress() and
// looks at cancelled() to stop early.
//
// Threads: created, cancelled and destroyed on the GUI thread; the work runs on the job's thread.
// The destructor cancels and waits for the work to end.
class BackgroundJob : public QThread {
    Q_OBJECT
public:
    using Work = std::function<void(BackgroundJob &job)>;

    explicit BackgroundJob(Work work, QObject *parent = nullptr);
    ~BackgroundJob() override;

    void cancel() { m_Cancelled.store(true); }
    bool cancelled() const { return m_Cancelled.load(); }
    const std::atomic<bool> *cancelFlag() const { return &m_Cancelled; }
    // From the work: the share done, 0 to 1.
    void progress(double fraction) { emit progressed(fraction); }

signals:
    void progressed(double fraction);

protected:
    void run() override;

private:
    Work m_Work;
    std::atomic<bool> m_Cancelled{false};
};
