// Batch statistics of the seek test and the choice of seek targets.
#include "seekmark/seekstats.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(SeekStats, BatchOfTwentyOneWritesOneLineAndRestarts)
{
    struct Case {
        const char *name;
        std::vector<int> diffs;   // landing minus target; the batch is padded with 2s to 21
        const char *line;
    };
    const Case cases[] = {
        {"twenty on target, one 21 s late", {21, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         "Average 1 MAX DIFF 21 MIN DIFF 0"},
        // The report format's example: the average drops the fraction (47 / 21).
        {"sum 47", {6, 0, 5}, "Average 2 MAX DIFF 6 MIN DIFF 0"},
        {"early and late count alike", {-2, 2}, "Average 2 MAX DIFF 2 MIN DIFF 2"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> diffs = c.diffs;
        diffs.resize(21, 2);
        SeekStats stats;
        SeekStats::Landing l;
        for (size_t i = 0; i < diffs.size(); ++i) {
            l = stats.record(100 + diffs[i], 100);
            EXPECT_EQ(l.absDiff, std::abs(diffs[i]));
            EXPECT_EQ(l.forward, diffs[i] > 0);
            EXPECT_EQ(l.batchComplete, i == 20) << "seek " << i + 1;
            EXPECT_EQ(l.reportLine.isEmpty(), i < 20);
        }
        EXPECT_EQ(l.reportLine, QString::fromLatin1(c.line));
        EXPECT_EQ(l.reportLine, SeekStats::reportLine(l.average, l.maxDiff, l.minDiff));
        // Restarted: the next seek alone sets both extremes.
        EXPECT_EQ(stats.seekCount(), 0);
        const SeekStats::Landing next = stats.record(10, 13);
        EXPECT_EQ(next.maxDiff, 3);
        EXPECT_EQ(next.minDiff, 3);
    }
}

TEST(SeekStats, Targets)
{
    // Random seconds leave out the last 30 of the clip; clips of 30 s or less have none.
    struct Random {
        int random;
        qint64 duration;
        bool valid;
        int seconds;
    };
    const Random randoms[] = {{41, 100, true, 41}, {70, 100, true, 0},  {69, 100, true, 69},
                              {12345, 31, true, 0}, {5, 30, false, 0},   {5, 0, false, 0},
                              {5, -1, false, 0},    {0, 1000, true, 0},  {-3, 100, true, 67}};
    for (const Random &r : randoms) {
        SCOPED_TRACE(testing::Message() << r.random << " in " << r.duration);
        const SeekStats::Target t = SeekStats::randomTarget(r.random, r.duration);
        EXPECT_EQ(t.valid, r.valid);
        EXPECT_EQ(t.valid ? t.seconds : 0, r.seconds);
        EXPECT_EQ(t.reason.isEmpty(), r.valid);
        EXPECT_FALSE(t.reason.contains(QLatin1Char('\n')));
    }

    struct Click {
        qint64 duration;
        int x, width;
        qint64 seconds;
    };
    const Click clicks[] = {
        {100, 320, 640, 50}, {100, 639, 640, 99},   // the last column is never the duration itself
        {90, 448, 640, 63},                         // 90 * 0.7 is 62.99999... in doubles
        {3600, 599, 600, 3594}, {100, 700, 640, 99}, {100, -5, 640, 0},   // outside: the nearest edge
        {100, 10, 0, 0}, {0, 300, 640, 0},          // no width, no duration
    };
    for (const Click &c : clicks)
        EXPECT_EQ(SeekStats::clickTarget(c.duration, c.x, c.width), c.seconds)
            << c.duration << " s, x " << c.x << " of " << c.width;
}

} // namespace
