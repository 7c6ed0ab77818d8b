// Batch statistics of the seek test and the choice of seek targets.
#include "seekmark/seekstats.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(SeekStats, BatchOfTwentyOneWritesOneLineAndRestarts)
{
    SeekStats stats;
    // Twenty seeks that land on their target, then one 21 s off.
    for (int i = 0; i < 20; ++i) {
        const SeekStats::Landing l = stats.record(100 + i, 100 + i);
        EXPECT_FALSE(l.batchComplete) << "seek " << i + 1;
        EXPECT_TRUE(l.reportLine.isEmpty());
    }
    EXPECT_EQ(stats.seekCount(), 20);
    const SeekStats::Landing last = stats.record(61, 40);
    ASSERT_TRUE(last.batchComplete);
    EXPECT_EQ(last.reportLine, QStringLiteral("Average 1 MAX DIFF 21 MIN DIFF 0"));
    EXPECT_EQ(last.average, 1);
    EXPECT_EQ(last.maxDiff, 21);
    EXPECT_EQ(last.minDiff, 0);

    // Restarted: the next seek alone sets both extremes.
    EXPECT_EQ(stats.seekCount(), 0);
    EXPECT_EQ(stats.diffSum(), 0);
    EXPECT_EQ(stats.minDiff(), SeekStats::NoSeekYet);
    const SeekStats::Landing next = stats.record(10, 13);
    EXPECT_EQ(next.maxDiff, 3);
    EXPECT_EQ(next.minDiff, 3);
    EXPECT_FALSE(next.batchComplete);
}

TEST(SeekStats, AverageDropsTheFraction)
{
    // The example of the report format: 21 differences summing to 47, largest 6, smallest 0.
    std::vector<int> diffs = {6, 0, 5};
    diffs.insert(diffs.end(), 18, 2);
    SeekStats stats;
    SeekStats::Landing l;
    for (int d : diffs)
        l = stats.record(1000 + d, 1000);
    ASSERT_TRUE(l.batchComplete);
    EXPECT_EQ(l.reportLine, QStringLiteral("Average 2 MAX DIFF 6 MIN DIFF 0"));
}

TEST(SeekStats, DirectionOfLanding)
{
    struct Row {
        qint64 position, target;
        int absDiff;
        bool forward;
    };
    const Row rows[] = {
        {50, 50, 0, false},
        {48, 50, 2, false},  // early
        {52, 50, 2, true},   // late
        {0, 7, 7, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << row.position << " for " << row.target);
        SeekStats stats;
        const SeekStats::Landing l = stats.record(row.position, row.target);
        EXPECT_EQ(l.absDiff, row.absDiff);
        EXPECT_EQ(l.forward, row.forward);
        EXPECT_EQ(stats.diffSum(), row.absDiff);
    }
    // Early and late count alike in the batch.
    SeekStats both;
    both.record(48, 50);
    const SeekStats::Landing l = both.record(52, 50);
    EXPECT_EQ(l.average, 2);
    EXPECT_EQ(l.maxDiff, 2);
    EXPECT_EQ(l.minDiff, 2);
}

TEST(SeekStats, RandomTarget)
{
    struct Row {
        int random;
        qint64 duration;
        bool valid;
        int seconds;
    };
    const Row rows[] = {
        {41, 100, true, 41},   {70, 100, true, 0},    {69, 100, true, 69},
        {12345, 31, true, 0},  {5, 30, false, 0},     {5, 0, false, 0},
        {5, -1, false, 0},     {0, 1000, true, 0},    {-3, 100, true, 67},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << row.random << " in " << row.duration);
        const SeekStats::Target t = SeekStats::randomTarget(row.random, row.duration);
        EXPECT_EQ(t.valid, row.valid);
        if (row.valid) {
            EXPECT_EQ(t.seconds, row.seconds);
            EXPECT_TRUE(t.reason.isEmpty());
        } else {
            EXPECT_FALSE(t.reason.isEmpty());
            EXPECT_FALSE(t.reason.contains(QLatin1Char('\n')));
        }
    }
}

TEST(SeekStats, ClickTarget)
{
    struct Row {
        qint64 duration;
        int x, width;
        qint64 seconds;
    };
    const Row rows[] = {
        {100, 0, 640, 0},
        {100, 320, 640, 50},
        {100, 639, 640, 99},    // last column: never the duration itself
        {90, 448, 640, 63},     // 90 * 0.7 is 62.99999... in doubles
        {3600, 599, 600, 3594},
        {100, 700, 640, 99},    // outside the window: the nearest edge
        {100, -5, 640, 0},
        {100, 10, 0, 0},        // no width
        {0, 300, 640, 0},       // no duration
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << row.duration << " s, x " << row.x << " of " << row.width);
        EXPECT_EQ(SeekStats::clickTarget(row.duration, row.x, row.width), row.seconds);
    }
}

} // namespace
