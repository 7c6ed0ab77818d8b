// The audio callback's body over a real queue of blocks, and the device's rate on SDL's dummy driver.
#include "engine/audioagent.h"
#include "engine/audiofeed.h"
#include "engine/audiopacket.h"
#include "engine/dataqueue.h"
#include "engine/playbackclock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A block's bytes, the value of every sample (so each output sample tells which block it came
// from) and its stamp in milliseconds.
struct Block {
    int bytes;
    int16_t value;
    int64_t pts;
};

// A callback: whether a resume dropped the part-played block first, the bytes asked for, the
// volume, the expected samples (count x value, in order), and the offset into the current block and
// the clock afterwards (-1: unchecked).
struct Fill {
    bool discardFirst;
    int bytes, volume;
    std::vector<std::pair<int, int16_t>> runs;
    int offset;
    double clock;
};

TEST(AudioFeed, FillsFromTheQueueInOrder)
{
    constexpr int full = SDL_MIX_MAXVOLUME;
    const struct {
        const char *name;
        std::vector<Block> blocks;
        std::vector<Fill> fills;
    } cases[] = {
        {"a block spanning two callbacks continues where it stopped",
         {{3000, 100, 1000}, {3000, 200, 2000}, {3000, 300, 3000}},
         {{false, 4096, full, {{1500, 100}, {548, 200}}, 1096, 2.0},
          {false, 4096, full, {{952, 200}, {1096, 300}}, -1, 3.0}}},
        {"an empty queue leaves the rest silent and the clock alone",
         {{1000, 100, 500}},
         {{false, 4096, full, {{500, 100}, {1548, 0}}, 0, 0.5}, {false, 4096, full, {{2048, 0}}, 0, 0.5}}},
        {"resume discards the part block and plays one silent buffer",
         {{6000, 100, 1}, {6000, 200, 2}},
         {{false, 4096, full, {{2048, 100}}, 4096, -1}, {true, 4096, full, {{2048, 0}}, 0, -1},
          {false, 4096, full, {{2048, 200}}, -1, -1}}},
        {"mixes at the given volume",
         {{2048, 1000, 0}, {2048, -1000, 0}}, {{false, 2048, 64, {{1024, 500}}, -1, -1}, {false, 2048, 0, {{1024, 0}}, -1, -1}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        DataQueue queue;
        queue.init(288000, 31);
        for (const Block &b : c.blocks) {
            std::vector<int16_t> samples(b.bytes / 2, b.value);
            queue.put(new AudioPacket(&queue, reinterpret_cast<const uint8_t *>(samples.data()), b.bytes, b.pts));
        }
        AudioFeed feed([&queue] { return static_cast<AudioPacket *>(queue.take()); });
        std::atomic<double> clock{-1.0};
        for (const Fill &fill : c.fills) {
            if (fill.discardFirst)
                feed.discardCurrent();
            std::vector<int16_t> samples(fill.bytes / 2, 0x5555);   // SDL2 hands over the previous call's bytes
            feed.fill(reinterpret_cast<uint8_t *>(samples.data()), fill.bytes, fill.volume, 1.0 / 1000, &clock);
            std::vector<int16_t> expected;
            for (const auto &[count, value] : fill.runs)
                expected.insert(expected.end(), count, value);
            EXPECT_EQ(samples, expected);
            EXPECT_TRUE(fill.offset < 0 || feed.offset() == fill.offset) << feed.offset();
            EXPECT_TRUE(fill.clock < 0 || clock.load() == fill.clock) << clock.load();
        }
    }
}

// A damaged file may declare 2 Hz (the fuzz target found one): one device buffer would last over
// eight minutes, and closing the device waits for the buffer in flight.
TEST(AudioOutput, ADeclaredRateNoDevicePlaysIsHeldToTheNearestPlayableOne)
{
    const int cases[][2] = {{2, AudioAgent::minSampleRate},      {0, AudioAgent::minSampleRate},
                            {-44100, AudioAgent::minSampleRate}, {48000, 48000},
                            {100000000, AudioAgent::maxSampleRate}};
    for (const auto &c : cases) {
        PlaybackClock clock;
        AudioAgent agent([] { return static_cast<AudioPacket *>(nullptr); }, &clock, c[0], 2, 1.0 / 48000, false);
        EXPECT_TRUE(agent.sampleRate() == c[1] && agent.isDeviceOpen()) << c[0];
        agent.resume();   // running, so closing has a buffer in flight to wait for
    }
}

} // namespace
