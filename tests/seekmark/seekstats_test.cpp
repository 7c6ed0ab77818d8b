// The choice of seek targets (the batch statistics are rows of the session's table).
#include "seektest/seekstats.h"

#include <gtest/gtest.h>

namespace {

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
