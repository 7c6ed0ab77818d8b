// The audio callback's body over a real queue of blocks, the device's rate on SDL's dummy driver,
// and the sound a decoder plays recorded through SDL's disk driver.
#include "enginetestsupport.h"

#include "engine/audioagent.h"
#include "engine/audiofeed.h"
#include "engine/audiopacket.h"
#include "engine/dataqueue.h"
#include "engine/playbackclock.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
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
// the clock afterwards (-1: unchecked). Callbacks come one buffer (4096 bytes, 40.96 ms at 10 µs a
// byte) apart, and the device's delay is two buffers: the clock is the end of the sound handed over,
// 81.92 ms earlier, plus the silence after it in the buffer.
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
         {{3000, 100, 1000}, {3000, 200, 1030}, {3000, 300, 1060}},
         {{false, 4096, full, {{1500, 100}, {548, 200}}, 1096, 0.95904},
          {false, 4096, full, {{952, 200}, {1096, 300}}, -1, 1.0}}},
        {"an empty queue leaves the rest silent; the clock runs on to the end of the sound",
         {{1000, 100, 500}},
         {{false, 4096, full, {{500, 100}, {1548, 0}}, 0, 0.45904}, {false, 4096, full, {{2048, 0}}, 0, 0.5}}},
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
        double now = 0.0;
        PlaybackClock clock([&now] { return now; });
        clock.setDevice(0.04096, 0.08192);
        for (const Fill &fill : c.fills) {
            if (fill.discardFirst)
                feed.discardCurrent();
            std::vector<int16_t> samples(fill.bytes / 2, 0x5555);   // SDL2 hands over the previous call's bytes
            feed.fill(reinterpret_cast<uint8_t *>(samples.data()), fill.bytes, fill.volume, 1.0 / 1000, &clock, 1e-5);
            std::vector<int16_t> expected;
            for (const auto &[count, value] : fill.runs)
                expected.insert(expected.end(), count, value);
            EXPECT_EQ(samples, expected);
            EXPECT_TRUE(fill.offset < 0 || feed.offset() == fill.offset) << feed.offset();
            EXPECT_TRUE(fill.clock < 0 || std::abs(clock.load() - fill.clock) < 1e-9) << clock.load();
            now += 0.04096;
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

// A clip with 5 s of pictures and 8 s of tone, played to its end through SDL's disk driver (21
// times faster than real time), once straight through and once paused at 1 s and resumed: all 8 s
// of tone are recorded. (The worker used to end with the pictures and leave the sound queued; a
// resume emptied both queues, losing the sound between the pause and where the reading had got.)
TEST(AudioOutput, TheSoundPlaysToItsEndAcrossAPauseAndPastTheLastPicture)
{
    const QString clip = enginetest::cachedClip("sound_long.mp4", "-f lavfi -i color=c=gray:s=64x48:r=25:d=5 -f lavfi -i "
                                                                "sine=frequency=440:sample_rate=48000:duration=8 -ac 2 "
                                                                "-c:v libx264 -preset veryfast -c:a aac -b:a 96k -f mp4 %1");
    QTemporaryDir dir;
    const QByteArray recording = dir.filePath("sound.raw").toLocal8Bit(), oldDriver = qgetenv("SDL_AUDIODRIVER");
    qputenv("SDL_DISKAUDIOFILE", recording);
    qputenv("SDL_DISKAUDIODELAY", "1");
    for (const bool pause : {false, true}) {
        SCOPED_TRACE(pause ? "paused and resumed" : "straight through");
        qputenv("SDL_AUDIODRIVER", "disk");
        {
            DecoderAgent decoder(nullptr, enginetest::fast(EngineOptions::seekmark()));
            ASSERT_TRUE(decoder.open(clip) && decoder.hasAudio());
            decoder.start();
            // A display that asks for pictures all along (the sound's clock drops most of them).
            const auto playsTo = [&](auto done) { return enginetest::waitFor([&] { return decoder.nextPicture(), done(); }, 20000); };
            if (pause) {
                ASSERT_TRUE(playsTo([&] { return decoder.m_Clock.load() >= 1.0; }));
                decoder.pause();
                enginetest::settle(100);
                decoder.start();
            }
            ASSERT_TRUE(playsTo([&] { return decoder.isStopped(); }));
            enginetest::settle(300);   // the device plays out what it holds
        }
        qputenv("SDL_AUDIODRIVER", oldDriver);
        QFile file(QString::fromLocal8Bit(recording));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        const auto *frames = reinterpret_cast<const int32_t *>(data.constData());   // both channels of a frame
        EXPECT_NEAR(std::count_if(frames, frames + data.size() / 4, [](int32_t f) { return f != 0; }) / 48000.0, 8.0, 0.01);
    }
}

} // namespace
