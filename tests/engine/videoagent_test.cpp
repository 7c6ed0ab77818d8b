// The picture scheduler with a settable clock: dropping, holding, advancing without audio, and the
// guards against re-entry and destruction while its drop loop processes events.
#include "engine/pixelpacket.h"
#include "engine/videoagent.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

constexpr int W = 8;
constexpr int H = 4;
constexpr int64_t tenSeconds = 10000000;

EngineOptions quiet()
{
    EngineOptions options = EngineOptions::seekmark();
    options.logChannels = false;
    return options;
}

// Pushes a picture whose first byte is its index, at the given time.
void push(VideoAgent &agent, int index, double time)
{
    std::vector<uint8_t> rgb(W * H * 3, static_cast<uint8_t>(index));
    agent.pushPicture(rgb.data(), W * 3, static_cast<int64_t>(time * 1000), 0.001);
}

int indexOf(const PixelPacket *picture)
{
    return picture ? picture->m_Buffer[0] : -1;
}

// Runs f from the event loop that the drop loop pumps.
template <typename F>
void postToEventLoop(F f)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), f, Qt::QueuedConnection);
}

TEST(VideoAgent, EmptyQueueReturnsTheShownPicture)
{
    std::atomic<double> clock{0.0};
    VideoAgent agent(&clock, W, H, tenSeconds, quiet());
    EXPECT_EQ(agent.nextPicture(), nullptr);
    push(agent, 1, 0.0);
    PixelPacket *shown = agent.nextPicture();
    EXPECT_EQ(indexOf(shown), 1);
    EXPECT_EQ(agent.nextPicture(), shown);
    agent.flush();   // keeps the shown picture
    EXPECT_EQ(agent.nextPicture(), shown);
}

TEST(VideoAgent, RefusesAPictureLargerThanItsBuffers)
{
    std::atomic<double> clock{0.0};
    VideoAgent agent(&clock, W, H, tenSeconds, quiet());
    std::vector<uint8_t> rgb(W * H * 3 + H, 0);
    agent.pushPicture(rgb.data(), W * 3 + 1, 0, 0.001);
    EXPECT_TRUE(agent.pictures().isEmpty());
}

TEST(VideoAgent, WithoutAudioEveryRequestAdvancesOnePictureAndSetsTheClock)
{
    std::atomic<double> clock{100.0};   // far ahead: would drop everything with an audio clock
    VideoAgent agent(&clock, W, H, tenSeconds, quiet());
    agent.setNoAudio(true);
    for (int i = 0; i < 5; ++i)
        push(agent, i, i * 0.04);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(indexOf(agent.nextPicture()), i);
        EXPECT_DOUBLE_EQ(clock.load(), i * 0.04);
    }
}

TEST(VideoAgent, LatePicturesAreDroppedAtMostThirtyAtATime)
{
    std::atomic<double> clock{0.0};
    VideoAgent agent(&clock, W, H, tenSeconds, quiet());
    push(agent, 99, 0.0);
    PixelPacket *shown = agent.nextPicture();
    for (int i = 0; i < 31; ++i)
        push(agent, i, 0.04 * i);
    clock = 50.0;
    EXPECT_EQ(agent.nextPicture(), nullptr);
    EXPECT_EQ(agent.pictures().count(), 1);   // 30 dropped, one left
    EXPECT_EQ(agent.current(), shown);        // the shown picture stays

    // When every queued picture is late the loop ends with the queue.
    for (int i = 0; i < 4; ++i)
        push(agent, i, 1.0 + 0.04 * i);
    EXPECT_EQ(agent.nextPicture(), nullptr);
    EXPECT_TRUE(agent.pictures().isEmpty());
}

TEST(VideoAgent, TheDropLoopEndsWithTheFirstPictureOnTimeDroppedToo)
{
    std::atomic<double> clock{0.32};
    VideoAgent agent(&clock, W, H, tenSeconds, quiet());
    const double times[] = {0.0, 0.1, 0.2, 0.3, 0.4};
    for (int i = 0; i < 5; ++i)
        push(agent, i, times[i]);
    EXPECT_EQ(agent.nextPicture(), nullptr);
    EXPECT_EQ(agent.pictures().count(), 1);
    EXPECT_EQ(indexOf(agent.nextPicture()), 4);   // 80 ms early: shown
}

TEST(VideoAgent, EarlyPicturesAreHeldUntilNearTheEnd)
{
    std::atomic<double> clock{1.0};
    VideoAgent agent(&clock, W, H, tenSeconds, quiet());
    push(agent, 1, 1.0);
    push(agent, 2, 1.5);
    EXPECT_EQ(indexOf(agent.nextPicture()), 1);
    EXPECT_EQ(indexOf(agent.nextPicture()), 1);   // 500 ms early: held
    clock = 9.0;
    EXPECT_EQ(agent.nextPicture(), nullptr);       // picture 2, now late: dropped
    push(agent, 3, 9.5);                           // as early as 2 was, but near the end: shown
    EXPECT_EQ(indexOf(agent.nextPicture()), 3);
}

TEST(VideoAgent, ANestedRequestFromTheDropLoopsEventsReturnsTheShownPicture)
{
    std::atomic<double> clock{0.0};
    VideoAgent agent(&clock, W, H, tenSeconds, quiet());
    push(agent, 99, 0.0);
    PixelPacket *shown = agent.nextPicture();
    for (int i = 0; i < 10; ++i)
        push(agent, i, 0.04 * i);
    clock = 50.0;

    PixelPacket *nested = nullptr;
    int nestedQueue = -1;
    bool wasInside = false;
    postToEventLoop([&] {
        wasInside = agent.isInsideNextPicture();
        nestedQueue = agent.pictures().count();
        nested = agent.nextPicture();
        nestedQueue -= agent.pictures().count();
    });
    EXPECT_EQ(agent.nextPicture(), nullptr);
    EXPECT_TRUE(wasInside);
    EXPECT_EQ(nested, shown);
    EXPECT_EQ(nestedQueue, 0);   // the nested call dropped nothing
    EXPECT_TRUE(agent.pictures().isEmpty());
    EXPECT_FALSE(agent.isInsideNextPicture());
}

TEST(VideoAgent, DisposedFromTheDropLoopsEventsItGoesWhenTheRequestReturns)
{
    std::atomic<double> clock{0.0};
    auto *agent = new VideoAgent(&clock, W, H, tenSeconds, quiet());
    QPointer<VideoAgent> watch(agent);
    for (int i = 0; i < 10; ++i)
        push(*agent, i, 0.04 * i);
    agent->nextPicture();
    clock = 50.0;

    bool stillThereAfterDispose = false;
    postToEventLoop([&] {
        agent->dispose();
        stillThereAfterDispose = !watch.isNull();
    });
    EXPECT_EQ(agent->nextPicture(), nullptr);
    EXPECT_TRUE(stillThereAfterDispose);   // not under the running loop
    EXPECT_TRUE(watch.isNull());           // but as soon as the request returned
}

} // namespace
