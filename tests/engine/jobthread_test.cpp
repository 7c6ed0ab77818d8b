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

    std::atomic<int> steps{0}, stopAfter{-1};
    std::atomic<bool> behind{false};

    // Whether `more` steps follow within 10 s (CI machines are slow, so nothing here is tight).
    bool goesOn(int more = 3)
    {
        const int from = steps.load();
        return testsupport::waitFor([&] { return steps.load() >= from + more; }, 10000);
    }
    // Whether the worker rests: at most the one step that may have been under way (a loaded
    // machine can hold a worker between its pause check and its step), where a working one takes dozens.
    bool rests()
    {
        const int before = steps.load();
        QThread::msleep(100);
        return steps.load() - before <= 1;
    }

protected:
    bool step() override
    {
        if (const int n = ++steps; stopAfter.load() >= 0 && n >= stopAfter.load())
            requestStop();
        return m_Result;
    }
    bool restAfterWork() override { return !behind.load(); }

private:
    bool m_Result;
};

// (Pausing is seekmark's P, driven by the player's test.)
TEST(JobThread, StartStopAndRestartAfterStoppingItself)
{
    CountingThread worker;
    worker.stop();   // never started: returns at once
    EXPECT_TRUE(worker.start());
    ASSERT_TRUE(worker.goesOn());
    // It stops itself; restarting right after it flagged its own stop must give a live worker,
    // even if the old run has not quite ended yet.
    worker.stopAfter = worker.steps.load() + 2;
    ASSERT_TRUE(testsupport::waitFor([&] { return !worker.isRunning(); }, 10000));
    EXPECT_TRUE(worker.isStopped());
    EXPECT_EQ(worker.steps.load(), worker.stopAfter.load());
    for (int round = 0; round < 20; ++round) {
        worker.stopAfter = worker.steps.load() + 2;
        EXPECT_TRUE(worker.start());
        ASSERT_TRUE(worker.goesOn(2)) << round;
    }
    worker.stopAfter = -1;
    worker.start();
    ASSERT_TRUE(worker.goesOn());
}

TEST(JobThread, LongRestsHoldTheWorkerUnlessItIsBehind)
{
    // With a 1.5 s rest after every step, a thousand steps would take 25 minutes: they can only
    // come from skipped rests. An idle step is followed by the long idle rest even so.
    CountingThread catchingUp, idle(false);
    catchingUp.setSleeps(1500, 0, 1500, 100);
    catchingUp.behind = true;
    idle.setSleeps(0, 0, 1500, 100);
    catchingUp.start();
    idle.start();
    ASSERT_TRUE(testsupport::waitFor([&] { return catchingUp.steps.load() > 1000 && idle.steps.load() >= 1; }, 10000));
    EXPECT_EQ(idle.steps.load(), 1);
    catchingUp.behind = false;
    QThread::msleep(50);   // the step in flight may still have skipped its rest
    EXPECT_TRUE(catchingUp.rests());
}

} // namespace
