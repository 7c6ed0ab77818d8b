// The seek-test run's sequencing: when the next seek is due, when a run gives up, and what the
// title says, with the time given by the test.
#include "seekmark/seektestrun.h"

#include <gtest/gtest.h>

namespace {

TEST(SeekTestRun, SeeksFollowLandingsAfterAPause)
{
    SeekTestRun run;
    EXPECT_FALSE(run.seekDue(0));   // not started

    run.start(1000);
    EXPECT_TRUE(run.seekDue(1000));
    run.seekAsked();
    EXPECT_FALSE(run.seekDue(999999));   // waiting for the landing, however long

    run.landed(2000, false);
    EXPECT_FALSE(run.seekDue(2000 + SeekTestRun::NextSeekDelayMs - 1));
    EXPECT_TRUE(run.seekDue(2000 + SeekTestRun::NextSeekDelayMs));

    run.stop();
    EXPECT_FALSE(run.seekDue(999999));
    EXPECT_FALSE(run.isActive());
}

TEST(SeekTestRun, GivesUpAfterFailuresInARowOnly)
{
    struct Step {
        bool lands;
        bool givesUp;
    };
    // Failures separated by a landing never add up to giving up; three in a row do.
    const Step steps[] = {{false, false}, {false, false}, {true, false},  {false, false},
                          {false, false}, {true, false},  {false, false}, {false, false},
                          {false, true}};
    SeekTestRun run;
    run.start(0);
    qint64 now = 0;
    int n = 0;
    for (const Step &s : steps) {
        ++n;
        ASSERT_TRUE(run.isActive()) << "step " << n;
        run.seekAsked();
        now += 1000;
        if (s.lands) {
            run.landed(now, false);
        } else {
            EXPECT_EQ(run.failed(now), s.givesUp) << "step " << n;
        }
    }
    EXPECT_FALSE(run.isActive());
    EXPECT_EQ(run.failedSeeks(), 7);
    EXPECT_EQ(run.stopReason(), QStringLiteral("seek test stopped: 3 seeks in a row did not land"));

    // A new run starts with a clean slate for giving up, but keeps the counts.
    run.start(now);
    EXPECT_TRUE(run.stopReason().isEmpty());
    run.seekAsked();
    EXPECT_FALSE(run.failed(now + 1));
    EXPECT_EQ(run.failedSeeks(), 8);
}

TEST(SeekTestRun, ProgressCountsBatchesAndFailures)
{
    SeekTestRun run;
    run.start(0);
    EXPECT_EQ(run.progress(0), QStringLiteral("seek test: batch 1, seek 1/21"));
    EXPECT_EQ(run.progress(20), QStringLiteral("seek test: batch 1, seek 21/21"));

    run.seekAsked();
    run.landed(10, true);   // closed the first batch
    EXPECT_EQ(run.batchesDone(), 1);
    EXPECT_EQ(run.progress(0), QStringLiteral("seek test: batch 2, seek 1/21"));

    run.seekAsked();
    run.failed(20);
    EXPECT_EQ(run.progress(6), QStringLiteral("seek test: batch 2, seek 7/21, 1 failed"));

    // An abandoned seek is neither a landing nor a failure.
    run.seekAsked();
    run.seekAbandoned();
    EXPECT_FALSE(run.isWaiting());
    EXPECT_EQ(run.failedSeeks(), 1);
    EXPECT_EQ(run.failuresInARow(), 1);
}

} // namespace
