// The seek-test run's sequencing: when the next seek is due, when a run gives up, what the title
// says; the time given by the test.
#include "seekmark/seektestrun.h"

#include <gtest/gtest.h>

namespace {

TEST(SeekTestRun, SeeksFollowLandingsAfterAPauseAndProgressCounts)
{
    SeekTestRun run;
    EXPECT_FALSE(run.seekDue(0));   // not started
    run.start(1000);
    EXPECT_TRUE(run.seekDue(1000));
    EXPECT_EQ(run.progress(0), QStringLiteral("seek test: batch 1, seek 1/21"));
    run.seekAsked();
    EXPECT_FALSE(run.seekDue(999999));   // waiting for the landing, however long
    run.landed(2000, true);              // closed the first batch
    EXPECT_FALSE(run.seekDue(2000 + SeekTestRun::NextSeekDelayMs - 1));
    EXPECT_TRUE(run.seekDue(2000 + SeekTestRun::NextSeekDelayMs));
    EXPECT_EQ(run.progress(0), QStringLiteral("seek test: batch 2, seek 1/21"));
    run.seekAsked();
    run.failed(3000);
    EXPECT_EQ(run.progress(6), QStringLiteral("seek test: batch 2, seek 7/21, 1 failed"));
    // An abandoned seek is neither a landing nor a failure.
    run.seekAsked();
    run.seekAbandoned();
    EXPECT_FALSE(run.isWaiting());
    EXPECT_EQ(run.failedSeeks(), 1);
    EXPECT_EQ(run.failuresInARow(), 1);
    run.stop();
    EXPECT_FALSE(run.seekDue(999999));
    EXPECT_FALSE(run.isActive());
}

TEST(SeekTestRun, GivesUpAfterFailuresInARowOnly)
{
    // Failures separated by a landing never add up to giving up; three in a row do.
    const bool lands[] = {false, false, true, false, false, true, false, false, false};
    SeekTestRun run;
    run.start(0);
    qint64 now = 0;
    for (int n = 0; n < 9; ++n) {
        ASSERT_TRUE(run.isActive()) << "step " << n;
        run.seekAsked();
        now += 1000;
        if (lands[n])
            run.landed(now, false);
        else
            EXPECT_EQ(run.failed(now), n == 8) << "step " << n;
    }
    EXPECT_FALSE(run.isActive());
    EXPECT_EQ(run.failedSeeks(), 7);
    EXPECT_EQ(run.stopReason(), QStringLiteral("seek test stopped: 3 seeks in a row did not land"));
    // A new run starts afresh for giving up, but keeps the counts.
    run.start(now);
    EXPECT_TRUE(run.stopReason().isEmpty());
    run.seekAsked();
    EXPECT_FALSE(run.failed(now + 1));
    EXPECT_EQ(run.failedSeeks(), 8);
}

} // namespace
