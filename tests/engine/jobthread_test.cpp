#include "engine/jobthread.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <atomic>

namespace {

// Counts its steps; can be told to stop itself after a number of them, as the decoder does at the
// end of its input.
class CountingThread : public JobThread {
public:
    explicit CountingThread(bool result = true) : m_Result(result) { setSleeps(1, 0, 1, 5); }
    ~CountingThread() override { stop(); }

    std::atomic<int> steps{0};
    std::atomic<int> stopAfter{-1};

protected:
    bool step() override
    {
        const int n = ++steps;
        if (stopAfter.load() >= 0 && n >= stopAfter.load())
            requestStop();
        return m_Result;
    }

private:
    bool m_Result;
};

// Polls until the condition holds or 10 s pass; CI machines are slow, so nothing here is tight.
template <typename F>
bool eventually(F condition)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 10000)
            return false;
        QThread::msleep(2);
    }
    return true;
}

} // namespace

TEST(JobThread, StartPauseResumeStop)
{
    CountingThread worker;
    EXPECT_TRUE(worker.isStopped());
    EXPECT_FALSE(worker.isRunning());
    worker.stop();                                   // never started: returns at once
    EXPECT_TRUE(worker.isStopped());

    EXPECT_TRUE(worker.start());
    EXPECT_FALSE(worker.isStopped());
    ASSERT_TRUE(eventually([&] { return worker.steps.load() > 3; }));

    worker.pause();
    EXPECT_TRUE(worker.isPaused());
    QThread::msleep(30);                             // let a step in flight finish
    const int paused = worker.steps.load();
    QThread::msleep(60);
    EXPECT_EQ(worker.steps.load(), paused);          // paused: no work
    EXPECT_TRUE(worker.isRunning());                 // but the thread is alive

    EXPECT_FALSE(worker.start());                    // already wanted running: only un-pauses
    EXPECT_FALSE(worker.isPaused());
    ASSERT_TRUE(eventually([&] { return worker.steps.load() > paused + 3; }));

    worker.stop();
    EXPECT_TRUE(worker.isStopped());
    EXPECT_FALSE(worker.isRunning());
    const int stopped = worker.steps.load();
    QThread::msleep(30);
    EXPECT_EQ(worker.steps.load(), stopped);
}

TEST(JobThread, PauseStopStartRunsAgainButStaysPaused)
{
    CountingThread worker;
    worker.start();
    ASSERT_TRUE(eventually([&] { return worker.steps.load() > 0; }));
    worker.pause();
    worker.stop();
    EXPECT_TRUE(worker.start());                     // a new run of the loop...
    EXPECT_TRUE(worker.isRunning());
    EXPECT_TRUE(worker.isPaused());                  // ...that keeps the pause
    QThread::msleep(30);
    const int before = worker.steps.load();
    QThread::msleep(60);
    EXPECT_EQ(worker.steps.load(), before);
    worker.start();
    ASSERT_TRUE(eventually([&] { return worker.steps.load() > before; }));
}

TEST(JobThread, WorkerThatStopsItselfCanBeStartedAgain)
{
    CountingThread worker;
    worker.stopAfter = 5;
    worker.start();
    ASSERT_TRUE(eventually([&] { return !worker.isRunning() && worker.steps.load() >= 5; }));
    EXPECT_TRUE(worker.isStopped());
    EXPECT_EQ(worker.steps.load(), 5);

    // Restarting right after the worker flagged its own stop must give a live worker, even if
    // the old run has not quite ended yet.
    for (int round = 0; round < 20; ++round) {
        worker.stopAfter = worker.steps.load() + 2;
        EXPECT_TRUE(worker.start());
        ASSERT_TRUE(eventually([&] { return worker.steps.load() >= worker.stopAfter.load(); })) << round;
    }
    worker.stopAfter = -1;
    worker.start();
    const int now = worker.steps.load();
    ASSERT_TRUE(eventually([&] { return worker.steps.load() > now + 3; }));
}

TEST(JobThread, SleepsComeFromTheOptionsAndIdleStepsWaitLonger)
{
    // An idle step followed by a long sleep cannot come round again soon, while a busy worker with
    // no sleeps steps freely. Loose by design: only orders of magnitude are compared.
    CountingThread idle(false);
    idle.setSleeps(0, 0, 1500, 100);
    CountingThread busy(true);
    busy.setSleeps(0, 1500, 1500, 100);
    idle.start();
    busy.start();
    ASSERT_TRUE(eventually([&] { return idle.steps.load() >= 1 && busy.steps.load() > 1000; }));
    EXPECT_EQ(idle.steps.load(), 1);
}

// A worker that is told to skip its rest after work, as the decoder does while it catches up.
class CatchingUpThread : public CountingThread {
public:
    // Stopped here, not only in ~CountingThread: by then this class's part is gone, while the
    // worker may still be calling restAfterWork() (ThreadSanitizer reports the race on the vtable).
    ~CatchingUpThread() override { stop(); }

    std::atomic<bool> behind{true};

protected:
    bool restAfterWork() override { return !behind.load(); }
};

TEST(JobThread, SkippingTheRestAfterWorkStepsFreelyUntilCaughtUp)
{
    // With a 1.5 s rest after every step, a thousand steps would take 25 minutes: they can only
    // come from skipped rests. Once caught up the long rest applies again.
    CatchingUpThread worker;
    worker.setSleeps(1500, 0, 1500, 100);
    worker.start();
    ASSERT_TRUE(eventually([&] { return worker.steps.load() > 1000; }));
    worker.behind.store(false);
    QThread::msleep(50);   // the step in flight may still have skipped its rest
    const int settled = worker.steps.load();
    QThread::msleep(300);
    EXPECT_LE(worker.steps.load(), settled + 1);
}

TEST(JobThread, DestroyingARunningWorkerStopsItFirst)
{
    auto *worker = new CountingThread;
    worker->start();
    ASSERT_TRUE(eventually([&] { return worker->steps.load() > 2; }));
    delete worker;                                   // must not hang, crash or leave a thread behind
    SUCCEED();
}
