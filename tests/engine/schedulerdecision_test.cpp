// The picture scheduler's decision at its boundaries: late, on time, early, near the end, without
// a known duration and without audio.
#include "engine/schedulerdecision.h"

extern "C" {
#include <libavutil/avutil.h>
}

#include <gtest/gtest.h>

#include <limits>

namespace {

struct Case {
    const char *what;
    int diffMs;
    double clock;
    int64_t durationUs;
    bool noAudio;
    PictureAction expected;
};

constexpr int64_t tenSeconds = 10000000;

const Case cases[] = {
    {"51 ms late is dropped", -51, 1.0, tenSeconds, false, PictureAction::Drop},
    {"50 ms late is shown", -50, 1.0, tenSeconds, false, PictureAction::Show},
    {"on time is shown", 0, 1.0, tenSeconds, false, PictureAction::Show},
    {"100 ms early is shown", 100, 1.0, tenSeconds, false, PictureAction::Show},
    {"101 ms early is held", 101, 1.0, tenSeconds, false, PictureAction::Hold},
    {"999 ms early is held", 999, 1.0, tenSeconds, false, PictureAction::Hold},
    {"a second early is shown at once", 1000, 1.0, tenSeconds, false, PictureAction::Show},
    {"clock 8.4 s of 10 s still holds", 500, 8.4, tenSeconds, false, PictureAction::Hold},
    {"clock 8.5 s of 10 s shows", 500, 8.5, tenSeconds, false, PictureAction::Show},
    {"unknown duration never holds", 500, 1.0, AV_NOPTS_VALUE, false, PictureAction::Show},
    {"without audio a late picture is shown", -5000, 9.0, tenSeconds, true, PictureAction::Show},
    {"without audio an early picture is shown", 500, 1.0, tenSeconds, true, PictureAction::Show},
};

TEST(SchedulerDecision, DecidesAtTheBoundariesOfTheClockDifferenceAndTheDuration)
{
    for (const Case &c : cases)
        EXPECT_EQ(SchedulerDecision::decide(c.diffMs, c.clock, c.durationUs, c.noAudio), c.expected) << c.what;
    // The difference truncates toward zero, the duration to whole seconds.
    EXPECT_EQ(SchedulerDecision::clockDifferenceMs(1.0, 1.0509), -50);   // 50.9 ms late: shown
    EXPECT_EQ(SchedulerDecision::clockDifferenceMs(1.0, 1.0511), -51);
    EXPECT_EQ(SchedulerDecision::clockDifferenceMs(1.1009, 1.0), 100);
    // A clock far off does not overflow into nonsense.
    EXPECT_EQ(SchedulerDecision::clockDifferenceMs(0.0, 1e300), std::numeric_limits<int>::min());
    EXPECT_EQ(SchedulerDecision::wholeSeconds(100900000), 100);
    EXPECT_LT(SchedulerDecision::wholeSeconds(AV_NOPTS_VALUE), -1000000000000LL);
}

} // namespace
