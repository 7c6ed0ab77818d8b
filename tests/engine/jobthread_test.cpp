#include "engine/jobthread.h"
#include "tests/common/enginerun.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

// Counts its steps; can stop itself after a number of them, as the decoder does at the end of its
// input, and skip its rest after work while `behind`, as the decoder does while catching up.
class CountingThread : public JobThread {
public:
    explicit CountingThread(bool result = true) : m_Result(result) { setSleeps(1, 0, 1, 5); }
    // Stopped here, not only in ~JobThread: by then this class's part is gone while the worker may
    // still call step() or restAfterWork() (ThreadSanitizer reports the race on the vtable).
    ~CountingThread() override { stop(); }

    std::atomic<int> steps{0};
    std::atomic<int> stopAfter{-1};
    std::atomic<bool> behind{false};

protected:
    bool step() override
    {
        const int n = ++steps;
        if (stopAfter.load() >= 0 && n >= stopAfter.load())
            requestStop();
        return m_Result;
    }
    bool restAfterWork() override { return !behind.load(); }

private:
    bool m_Result;
};

// Polls for up to 10 s; CI machines are slow, so nothing here is tight.
bool eventually(const std::function<bool()> &condition)
{
    return testsupport::waitFor(condition, 10000);
}

// Whether the worker rests: at most the one step that may have been under way (a loaded machine
// can hold a worker between its pause check and its step), where a working one takes dozens.
bool rests(const CountingThread &worker)
{
    const int before = worker.steps.load();
    QThread::msleep(100);
    return worker.steps.load() - before <= 1;
}

TEST(JobThread, StartPauseResumeStop)
{
    CountingThread worker;
    worker.stop();   // never started: returns at once
    EXPECT_TRUE(worker.start());
    ASSERT_TRUE(eventually([&] { return worker.steps.load() > 3; }));
    worker.pause();
    EXPECT_TRUE(rests(worker));
    EXPECT_TRUE(worker.isRunning() && worker.isPaused());
    EXPECT_FALSE(worker.start());   // already wanted running: only un-pauses
    int now = worker.steps.load();
    ASSERT_TRUE(eventually([&] { return worker.steps.load() > now + 3; }));

    // Paused, stopped and started again: a new run of the loop that keeps the pause.
    worker.pause();
    worker.stop();
    EXPECT_TRUE(worker.isStopped() && !worker.isRunning());
    EXPECT_TRUE(worker.start());
    EXPECT_TRUE(worker.isRunning() && worker.isPaused());
    EXPECT_TRUE(rests(worker));
    worker.start();
    now = worker.steps.load();
    ASSERT_TRUE(eventually([&] { return worker.steps.load() > now; }));
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

TEST(JobThread, LongRestsHoldTheWorkerUnlessItIsBehind)
{
    // With a 1.5 s rest after every step, a thousand steps would take 25 minutes: they can only
    // come from skipped rests. An idle step is followed by the long idle rest even so.
    CountingThread catchingUp;
    catchingUp.setSleeps(1500, 0, 1500, 100);
    catchingUp.behind = true;
    CountingThread idle(false);
    idle.setSleeps(0, 0, 1500, 100);
    catchingUp.start();
    idle.start();
    ASSERT_TRUE(eventually([&] { return catchingUp.steps.load() > 1000 && idle.steps.load() >= 1; }));
    EXPECT_EQ(idle.steps.load(), 1);

    catchingUp.behind = false;
    QThread::msleep(50);   // the step in flight may still have skipped its rest
    const int settled = catchingUp.steps.load();
    QThread::msleep(300);
    EXPECT_LE(catchingUp.steps.load(), settled + 1);
}

} // namespace
