// The picture scheduler's decision at its boundaries: late, on time, early, near the end, without
// a known duration and without audio.
#include "engine/schedulerdecision.h"

extern "C" {
#include <libavutil/avutil.h>
}

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(SchedulerDecision, DecidesAtTheBoundariesOfTheClockDifferenceAndTheDuration)
{
    constexpr int64_t ten = 10000000;   // a duration of ten seconds
    constexpr auto drop = PictureAction::Drop, show = PictureAction::Show, hold = PictureAction::Hold;
    const struct {
        int diffMs;   // the picture's time less the clock
        double clock;
        int64_t durationUs;
        bool noAudio;
        PictureAction expected;
    } cases[] = {
        {-51, 1.0, ten, false, drop}, {-50, 1.0, ten, false, show},  {100, 1.0, ten, false, show},
        {101, 1.0, ten, false, hold}, {1000, 1.0, ten, false, show}, {500, 8.4, ten, false, hold},
        {500, 8.5, ten, false, show}, {500, 1.0, AV_NOPTS_VALUE, false, show},
        {-5000, 9.0, ten, true, show}, {500, 1.0, ten, true, show},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SchedulerDecision::decide(c.diffMs, c.clock, c.durationUs, c.noAudio), c.expected) << c.diffMs << " " << c.clock;
    // The difference truncates toward zero, the duration to whole seconds; a clock far off does
    // not overflow into nonsense.
    EXPECT_EQ(SchedulerDecision::clockDifferenceMs(1.0, 1.0509), -50);   // 50.9 ms late: shown
    EXPECT_EQ(SchedulerDecision::clockDifferenceMs(1.0, 1.0511), -51);
    EXPECT_EQ(SchedulerDecision::clockDifferenceMs(0.0, 1e300), std::numeric_limits<int>::min());
    EXPECT_EQ(SchedulerDecision::wholeSeconds(100900000), 100);
    EXPECT_LT(SchedulerDecision::wholeSeconds(AV_NOPTS_VALUE), -1000000000000LL);
}

} // namespace
