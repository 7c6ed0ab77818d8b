// The audio callback's body over a real queue of blocks, and the volume rule.
#include "engine/audioagent.h"
#include "engine/audiofeed.h"
#include "engine/audiopacket.h"
#include "engine/dataqueue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// Blocks of constant 16-bit samples, so every output byte tells which block it came from.
class Blocks {
public:
    Blocks() { m_Queue.init(288000, 31); }
    void add(int bytes, int16_t value, int64_t pts)
    {
        std::vector<int16_t> samples(bytes / 2, value);
        m_Queue.put(new AudioPacket(&m_Queue, reinterpret_cast<const uint8_t *>(samples.data()), bytes, pts));
    }
    AudioFeed::Source source()
    {
        return [this] { return static_cast<AudioPacket *>(m_Queue.take()); };
    }
    DataQueue m_Queue;
};

// The 16-bit sample values of a filled buffer.
std::vector<int16_t> samplesOf(const std::vector<uint8_t> &buffer)
{
    std::vector<int16_t> samples(buffer.size() / 2);
    std::memcpy(samples.data(), buffer.data(), samples.size() * 2);
    return samples;
}

// Counts samples equal to value in [from, to) (in samples).
int countOf(const std::vector<int16_t> &samples, int from, int to, int16_t value)
{
    int n = 0;
    for (int i = from; i < to; ++i)
        n += samples[i] == value;
    return n;
}

constexpr int full = SDL_MIX_MAXVOLUME;
constexpr double timeBase = 1.0 / 1000;

TEST(AudioFeed, ABlockSpanningTwoCallbacksContinuesWhereItStopped)
{
    Blocks blocks;
    blocks.add(3000, 100, 1000);
    blocks.add(3000, 200, 2000);
    blocks.add(3000, 300, 3000);
    AudioFeed feed(blocks.source());
    std::atomic<double> clock{0.0};

    std::vector<uint8_t> buffer(4096, 0x55);   // SDL2 hands over the previous call's bytes
    feed.fill(buffer.data(), 4096, full, timeBase, &clock);
    auto samples = samplesOf(buffer);
    EXPECT_EQ(countOf(samples, 0, 1500, 100), 1500);
    EXPECT_EQ(countOf(samples, 1500, 2048, 200), 548);   // 1096 bytes of the second block
    EXPECT_EQ(feed.offset(), 1096);
    EXPECT_DOUBLE_EQ(clock.load(), 2.0);

    clock = 0.0;
    feed.fill(buffer.data(), 4096, full, timeBase, &clock);
    samples = samplesOf(buffer);
    EXPECT_EQ(countOf(samples, 0, 952, 200), 952);       // the 1904 bytes left of the second block
    EXPECT_EQ(countOf(samples, 952, 2048, 300), 1096);
    EXPECT_DOUBLE_EQ(clock.load(), 3.0);
}

TEST(AudioFeed, ABlockEndingWithTheBufferIsFollowedByAFreshOne)
{
    Blocks blocks;
    blocks.add(2048, 100, 10);
    blocks.add(2048, 200, 20);
    blocks.add(2048, 300, 30);
    AudioFeed feed(blocks.source());
    std::atomic<double> clock{0.0};
    std::vector<uint8_t> buffer(4096);
    feed.fill(buffer.data(), 4096, full, timeBase, &clock);
    EXPECT_EQ(feed.offset(), 0);
    feed.fill(buffer.data(), 2048, full, timeBase, &clock);
    EXPECT_EQ(countOf(samplesOf(buffer), 0, 1024, 300), 1024);
    EXPECT_DOUBLE_EQ(clock.load(), 0.03);
}

TEST(AudioFeed, AnEmptyQueueLeavesTheRestSilentAndTheClockAlone)
{
    Blocks blocks;
    blocks.add(1000, 100, 500);
    AudioFeed feed(blocks.source());
    std::atomic<double> clock{0.0};
    std::vector<uint8_t> buffer(4096, 0x55);
    feed.fill(buffer.data(), 4096, full, timeBase, &clock);
    const auto samples = samplesOf(buffer);
    EXPECT_EQ(countOf(samples, 0, 500, 100), 500);
    EXPECT_EQ(countOf(samples, 500, 2048, 0), 1548);
    EXPECT_EQ(feed.offset(), 0);
    EXPECT_DOUBLE_EQ(clock.load(), 0.5);

    std::fill(buffer.begin(), buffer.end(), 0x55);
    feed.fill(buffer.data(), 4096, full, timeBase, &clock);
    EXPECT_EQ(countOf(samplesOf(buffer), 0, 2048, 0), 2048);
    EXPECT_DOUBLE_EQ(clock.load(), 0.5);
}

TEST(AudioFeed, ResumeDiscardsThePartBlockAndPlaysOneSilentBuffer)
{
    Blocks blocks;
    blocks.add(6000, 100, 1);
    blocks.add(6000, 200, 2);
    AudioFeed feed(blocks.source());
    std::atomic<double> clock{0.0};
    std::vector<uint8_t> buffer(4096);
    feed.fill(buffer.data(), 4096, full, timeBase, &clock);
    ASSERT_EQ(feed.offset(), 4096);

    feed.discardCurrent();
    feed.fill(buffer.data(), 4096, full, timeBase, &clock);
    EXPECT_EQ(countOf(samplesOf(buffer), 0, 2048, 0), 2048);
    EXPECT_EQ(feed.offset(), 0);

    feed.fill(buffer.data(), 4096, full, timeBase, &clock);
    EXPECT_EQ(countOf(samplesOf(buffer), 0, 2048, 200), 2048);
}

TEST(AudioFeed, MixesAtTheGivenVolume)
{
    Blocks blocks;
    blocks.add(2048, 1000, 0);
    blocks.add(2048, -1000, 0);
    blocks.add(2048, 1000, 0);
    AudioFeed feed(blocks.source());
    std::vector<uint8_t> buffer(2048);
    feed.fill(buffer.data(), 2048, 64, timeBase, nullptr);
    EXPECT_EQ(countOf(samplesOf(buffer), 0, 1024, 500), 1024);
    feed.fill(buffer.data(), 2048, 32, timeBase, nullptr);
    EXPECT_EQ(countOf(samplesOf(buffer), 0, 1024, -250), 1024);
    feed.fill(buffer.data(), 2048, 0, timeBase, nullptr);
    EXPECT_EQ(countOf(samplesOf(buffer), 0, 1024, 0), 1024);
}

TEST(AudioVolume, ClampsAndScalesToTheMixRange)
{
    struct Case {
        int percent;
        int volume;
        int mix;
    };
    const Case cases[] = {{150, 100, 128}, {100, 100, 128}, {0, 0, 0}, {-5, 0, 0},
                          {1, 1, 1},       {99, 99, 126},   {50, 50, 64}};
    for (const Case &c : cases) {
        EXPECT_EQ(AudioAgent::clampVolume(c.percent), c.volume) << c.percent;
        EXPECT_EQ(AudioAgent::mixVolumeFor(c.percent), c.mix) << c.percent;
    }
}

} // namespace
