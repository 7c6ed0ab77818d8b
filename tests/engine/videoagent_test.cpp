// The picture scheduler: its decision at the boundaries (late, on time, early, near the end,
// without a known duration and without audio), and with a settable clock the guard against
// re-entry while its drop loop processes events. (Dropping and holding end to end are the
// players' tests.)
#include "engine/pixelpacket.h"
#include "engine/playbackclock.h"
#include "engine/schedulerdecision.h"
#include "engine/videoagent.h"

#include <QCoreApplication>

extern "C" {
#include <libavutil/avutil.h>
}

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

constexpr int W = 8, H = 4;
constexpr int64_t tenSeconds = 10000000;

EngineOptions quiet()
{
    EngineOptions options = EngineOptions::seekmark();
    return options.logChannels = false, options;
}

// Pushes a picture whose bytes are all its index, at the given time, of the given seek.
void push(VideoAgent &agent, int index, double time, int serial = 0)
{
    PixelPacket *picture = agent.blankPicture();
    picture->plane(0)[0] = static_cast<uint8_t>(index);
    picture->m_Time = time;
    picture->m_Serial = serial;
    agent.queuePicture(picture);
}

// A clock that the sound drives, with time standing still (so the sound never goes quiet).
struct SoundClock : PlaybackClock {
    SoundClock() : PlaybackClock([] { return 0.0; }) { sound(0.0, 0.0, generation()); }
};

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

// The drop loop processes events between drops. From them, a nested request returns the shown
// picture without dropping anything. (Deleting from them is the decoder control test's.)
TEST(VideoAgent, ANestedRequestFromTheDropLoopsEventsDropsNothing)
{
    SoundClock clock;
    VideoAgent agent(&clock, W, H, tenSeconds, quiet());
    for (int i = 0; i < 20; ++i)
        push(agent, i, 0.04 * i);
    PixelPacket *shown = agent.nextPicture();
    clock.store(50.0);
    PixelPacket *nested = nullptr;
    int droppedByNested = -1;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&] {
        droppedByNested = agent.pictures().count();
        nested = agent.nextPicture();
        droppedByNested -= agent.pictures().count();
    }, Qt::QueuedConnection);
    EXPECT_EQ(agent.nextPicture(), nullptr);
    EXPECT_TRUE(nested == shown && droppedByNested == 0);
    EXPECT_EQ(agent.current(), shown);
}

// Once a seek is asked for, nothing of the old position comes out, neither a picture the worker
// queued before it took the request nor the shown one again (null: ask again next tick); the new
// position's first picture does, at once.
TEST(VideoAgent, HandsOutNoPictureOfAPositionLeftBehind)
{
    SoundClock clock;
    VideoAgent agent(&clock, W, H, tenSeconds, quiet());
    push(agent, 0, 0.0);
    ASSERT_NE(agent.nextPicture(), nullptr);
    agent.setSerial(1);
    push(agent, 1, 0.04);
    EXPECT_EQ(agent.nextPicture(), nullptr);
    double time = 0.0;
    EXPECT_FALSE(agent.nextTime(&time));
    push(agent, 2, 0.04, 1);
    PixelPacket *landed = agent.nextPicture();
    ASSERT_NE(landed, nullptr);
    EXPECT_EQ(landed->plane(0)[0], 2);
}

} // namespace
