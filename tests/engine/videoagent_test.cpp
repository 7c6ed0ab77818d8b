// The picture scheduler with a settable clock: dropping, holding and advancing, and the guards
// against re-entry and destruction while its drop loop processes events.
#include "engine/pixelpacket.h"
#include "engine/playbackclock.h"
#include "engine/videoagent.h"

#include <QCoreApplication>
#include <QPointer>

#include <gtest/gtest.h>

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

// Pushes a picture whose bytes are all its index, at the given time.
void push(VideoAgent &agent, int index, double time)
{
    PixelPacket *picture = agent.blankPicture();
    picture->plane(0)[0] = static_cast<uint8_t>(index);
    picture->m_Time = time;
    agent.queuePicture(picture);
}

// A clock that the sound drives, with time standing still (so the sound never goes quiet).
struct SoundClock : PlaybackClock {
    SoundClock() : PlaybackClock([] { return 0.0; }) { sound(0.0, 0.0, generation()); }
    SoundClock &operator=(double seconds)
    {
        store(seconds);
        return *this;
    }
};

int indexOf(const PixelPacket *picture)
{
    return picture ? picture->m_Buffer[0] : -1;
}

struct Request {
    double clock;
    std::vector<double> push;   // times of pictures queued first, indexed on from the last
    int shown;                  // index handed out; -1 null
    int left;                   // pictures still queued
};

TEST(VideoAgent, DropsLateHoldsEarlyAndShowsTheRest)
{
    const std::vector<double> thirtyOne(31, 0.0);
    const struct {
        const char *name;
        std::vector<Request> requests;
    } scripts[] = {
        {"an empty queue hands out the shown picture again",
         {{0.0, {}, -1, 0}, {0.0, {0.0}, 0, 0}, {0.0, {}, 0, 0}}},
        {"late pictures are dropped at most thirty at a time, the shown one stays",
         {{0.0, {0.0}, 0, 0}, {50.0, thirtyOne, -1, 1}, {50.0, {1.0, 1.04, 1.08}, -1, 0}}},
        {"the drop loop ends with the first picture on time, dropped too",
         {{0.32, {0.0, 0.1, 0.2, 0.3, 0.4}, -1, 1}, {0.32, {}, 4, 0}}},
        {"early pictures are held until near the end",
         {{1.0, {1.0, 1.5}, 0, 1}, {1.0, {}, 0, 1}, {9.0, {}, -1, 0}, {9.0, {9.5}, 2, 0}}},
    };
    for (const auto &script : scripts) {
        SCOPED_TRACE(script.name);
        SoundClock clock;
        VideoAgent agent(&clock, W, H, tenSeconds, quiet());
        int pushed = 0;
        int lastShown = -1;
        for (size_t r = 0; r < script.requests.size(); ++r) {
            SCOPED_TRACE(testing::Message() << "request " << r);
            const Request &request = script.requests[r];
            for (double time : request.push)
                push(agent, pushed++, time);
            clock = request.clock;
            EXPECT_EQ(indexOf(agent.nextPicture()), request.shown);
            EXPECT_EQ(agent.pictures().count(), request.left);
            if (request.shown >= 0)
                lastShown = request.shown;
            EXPECT_EQ(indexOf(agent.current()), lastShown);
        }
        agent.flush();   // keeps the shown picture
        EXPECT_EQ(indexOf(agent.current()), lastShown);
    }
}

// The drop loop processes events between drops. From them, a nested request returns the shown
// picture without dropping anything, and dispose() defers the deletion until the request returns.
TEST(VideoAgent, NestedRequestsAndDisposalFromTheDropLoopsEvents)
{
    SoundClock clock;
    auto *agent = new VideoAgent(&clock, W, H, tenSeconds, quiet());
    QPointer<VideoAgent> watch(agent);
    for (int i = 0; i < 20; ++i)
        push(*agent, i, 0.04 * i);
    PixelPacket *shown = agent->nextPicture();
    clock = 50.0;

    PixelPacket *nested = nullptr;
    int droppedByNested = -1;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&] {
        droppedByNested = agent->pictures().count();
        nested = agent->nextPicture();
        droppedByNested -= agent->pictures().count();
    }, Qt::QueuedConnection);
    EXPECT_EQ(agent->nextPicture(), nullptr);
    EXPECT_EQ(nested, shown);
    EXPECT_EQ(droppedByNested, 0);

    for (int i = 0; i < 10; ++i)
        push(*agent, i, 1.0);
    bool stillThereAfterDispose = false;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&] {
        agent->dispose();
        stillThereAfterDispose = !watch.isNull();
    }, Qt::QueuedConnection);
    EXPECT_EQ(agent->nextPicture(), nullptr);
    EXPECT_TRUE(stillThereAfterDispose);   // not under the running loop
    EXPECT_TRUE(watch.isNull());           // but as soon as the request returned
}

} // namespace
