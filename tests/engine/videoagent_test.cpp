// The picture scheduler with a settable clock: dropping, holding and advancing, and the guard
// against re-entry while its drop loop processes events.
#include "engine/pixelpacket.h"
#include "engine/playbackclock.h"
#include "engine/videoagent.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int W = 8, H = 4;
constexpr int64_t tenSeconds = 10000000;

EngineOptions quiet()
{
    EngineOptions options = EngineOptions::seekmark();
    return options.logChannels = false, options;
}

// Pushes a picture whose bytes are all its index, at the given time.
void push(VideoAgent &agent, int index, double time)
{
    std::vector<uint8_t> luma(W * H, static_cast<uint8_t>(index));
    agent.pushPicture(luma.data(), W, static_cast<int64_t>(time * 1000), 0.001);
}

// A clock that the sound drives, with time standing still (so the sound never goes quiet).
struct SoundClock : PlaybackClock {
    SoundClock() : PlaybackClock([] { return 0.0; }) { sound(0.0, 0.0, generation()); }
};

int indexOf(const PixelPacket *picture)
{
    return picture ? picture->m_Buffer[0] : -1;
}

// A request: the clock, the times of pictures queued first (indexed on from the last), the index
// handed out (-1 null) and the pictures still queued.
struct Request {
    double clock;
    std::vector<double> push;
    int shown, left;
};

TEST(VideoAgent, DropsLateHoldsEarlyAndShowsTheRest)
{
    const std::vector<double> thirtyOne(31, 0.0);
    const std::pair<const char *, std::vector<Request>> scripts[] = {
        {"an empty queue hands out the shown picture again",
         {{0.0, {}, -1, 0}, {0.0, {0.0}, 0, 0}, {0.0, {}, 0, 0}}},
        {"late pictures are dropped at most thirty at a time, the shown one stays",
         {{0.0, {0.0}, 0, 0}, {50.0, thirtyOne, -1, 1}, {50.0, {1.0, 1.04, 1.08}, -1, 0}}},
        {"the drop loop ends with the first picture on time, dropped too",
         {{0.32, {0.0, 0.1, 0.2, 0.3, 0.4}, -1, 1}, {0.32, {}, 4, 0}}},
        {"early pictures are held until near the end",
         {{1.0, {1.0, 1.5}, 0, 1}, {1.0, {}, 0, 1}, {9.0, {}, -1, 0}, {9.0, {9.5}, 2, 0}}},
    };
    for (const auto &[name, requests] : scripts) {
        SCOPED_TRACE(name);
        SoundClock clock;
        VideoAgent agent(&clock, W, H, tenSeconds, quiet());
        int pushed = 0, lastShown = -1;
        for (size_t r = 0; r < requests.size(); ++r) {
            SCOPED_TRACE(testing::Message() << "request " << r);
            const Request &request = requests[r];
            for (double time : request.push)
                push(agent, pushed++, time);
            clock.store(request.clock);
            EXPECT_EQ(indexOf(agent.nextPicture()), request.shown);
            EXPECT_EQ(agent.pictures().count(), request.left);
            lastShown = std::max(lastShown, request.shown);
            EXPECT_EQ(indexOf(agent.current()), lastShown);
        }
        agent.flush();   // keeps the shown picture
        EXPECT_EQ(indexOf(agent.current()), lastShown);
    }
    // A picture larger than the buffers (H rows of this linesize overrun one) is refused.
    SoundClock clock;
    VideoAgent agent(&clock, W, H, tenSeconds, quiet());
    std::vector<uint8_t> luma((W * 3 + VideoAgent::pictureSlack) * H, 0);
    agent.pushPicture(luma.data(), W * 3 + VideoAgent::pictureSlack, 0, 0.001);
    EXPECT_TRUE(agent.pictures().isEmpty());
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
}

} // namespace
