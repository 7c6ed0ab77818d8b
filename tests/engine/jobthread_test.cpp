#include "engine/jobthread.h"
#include "tests/common/enginerun.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// Counts its steps and stops itself after a number of them, as the decoder does at the end of its
// input.
class CountingThread : public JobThread {
public:
    CountingThread() { setSleeps(1, 0, 1, 5); }
    // Stopped here, not only in ~JobThread: by then this class's part is gone while the worker may
    // still call step() (ThreadSanitizer reports the race on the vtable).
    ~CountingThread() override { stop(); }

    std::atomic<int> steps{0}, stopAfter{-1};

    // Whether `more` steps follow within 10 s (CI machines are slow, so nothing here is tight).
    bool goesOn(int more = 3)
    {
        const int from = steps.load();
        return testsupport::waitFor([&] { return steps.load() >= from + more; }, 10000);
    }

protected:
    bool step() override
    {
        if (const int n = ++steps; stopAfter.load() >= 0 && n >= stopAfter.load())
            requestStop();
        return true;
    }
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
        // Counted from before the start: the worker may take its steps before a count taken after.
        ASSERT_TRUE(testsupport::waitFor([&] { return worker.steps.load() >= worker.stopAfter.load(); }, 10000)) << round;
    }
    // A worker in a minute-long paused rest is woken by stop(): it ends well before the rest would.
    ASSERT_TRUE(testsupport::waitFor([&] { return !worker.isRunning(); }, 10000));
    worker.setSleeps(1, 0, 1, 60000);
    worker.pause();
    worker.start();
    testsupport::waitFor([] { return false; }, 50);
    std::atomic<bool> stopped{false};
    std::thread stopper([&] { worker.stop(), stopped = true; });
    EXPECT_TRUE(testsupport::waitFor([&] { return stopped.load(); }, 10000));
    stopper.join();
}

} // namespace
