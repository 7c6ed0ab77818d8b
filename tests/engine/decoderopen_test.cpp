// Opening every corpus clip by path and through a byte source, and what an open decoder reports.
#include "enginetestsupport.h"

#include "engine/audioagent.h"
#include "engine/decoderagent.h"
#include "engine/videoagent.h"
#include "tests/common/testclips.h"

#include <QFile>

#include <gtest/gtest.h>

using enginetest::FileByteSource;

namespace {

struct ClipFacts {
    const char *name;
    bool opens;
    int width;
    int height;
    double rate;
    qint64 duration;    // whole seconds
    bool audio;
    bool bFrames;
};

const ClipFacts clips[] = {
    {"h264_aac.mp4", true, 320, 240, 25, 8, true, true},
    {"h264_nobframes.mkv", true, 320, 240, 25, 8, true, false},
    {"mpeg2_mp2.mpg", true, 320, 240, 25, 8, true, true},
    {"vp9_opus.mkv", true, 320, 240, 25, 8, true, false},
    {"h264_noaudio.mp4", true, 320, 240, 25, 8, false, true},
    {"surround51.mp4", true, 320, 240, 25, 8, true, true},
    {"odd_321x241.mkv", true, 321, 241, 25, 8, true, false},
    {"subtitles.mkv", true, 320, 240, 25, 8, true, true},
    {"ts_offset10.ts", true, 320, 240, 25, 8, true, true},
    {"h264_60fps.mp4", true, 320, 240, 60, 4, true, true},
    {"vfr.mkv", true, 320, 240, 25, 5, true, true},
    {"h264_long.mp4", true, 320, 240, 25, 40, true, true},
    {"audio_only.m4a", false, 0, 0, 0, 0, false, false},
    {"no_decoder.mkv", false, 0, 0, 0, 0, false, false},
};

void expectFacts(DecoderAgent &decoder, const ClipFacts &c, bool opened)
{
    ASSERT_EQ(opened, c.opens) << c.name;
    if (!c.opens)
        return;
    EXPECT_EQ(decoder.videoWidth(), c.width) << c.name;
    EXPECT_EQ(decoder.videoHeight(), c.height) << c.name;
    EXPECT_DOUBLE_EQ(decoder.frameRate(), c.rate) << c.name;
    EXPECT_EQ(decoder.duration(), c.duration) << c.name;
    EXPECT_EQ(decoder.durationMs() / 1000, c.duration) << c.name;
    EXPECT_EQ(decoder.hasAudio(), c.audio) << c.name;
    EXPECT_EQ(decoder.audioAgent() != nullptr, c.audio) << c.name;
    EXPECT_EQ(decoder.hasBFrames(), c.bFrames) << c.name;
    EXPECT_FLOAT_EQ(decoder.aspectRatio(), 0.0f) << c.name;
    ASSERT_NE(decoder.videoAgent(), nullptr) << c.name;
    EXPECT_EQ(decoder.videoAgent()->pictures().bufferSize(), c.width * c.height * 3 + VideoAgent::pictureSlack) << c.name;
    EXPECT_EQ(decoder.videoAgent()->noAudio(), !c.audio || decoder.options().noAudioClock) << c.name;
    EXPECT_TRUE(decoder.isStopped()) << c.name;
}

TEST(DecoderOpen, EveryCorpusClipThroughABytesource)
{
    for (const ClipFacts &c : clips) {
        FileByteSource source(testsupport::clipPath(c.name));
        DecoderAgent decoder(&source, EngineOptions::seekmark());
        expectFacts(decoder, c, decoder.open());
    }
}

TEST(DecoderOpen, EveryCorpusClipByPath)
{
    for (const ClipFacts &c : clips) {
        DecoderAgent decoder(nullptr, EngineOptions::framewise());
        expectFacts(decoder, c, decoder.open(testsupport::clipPath(c.name)));
    }
    DecoderAgent missing(nullptr, EngineOptions::framewise());
    EXPECT_FALSE(missing.open(testsupport::clipPath("no_such_clip.mp4")));
    EXPECT_EQ(missing.videoWidth(), 0);
    EXPECT_EQ(missing.frameRate(), 0.0);
    EXPECT_EQ(missing.nextPicture(), nullptr);
}

TEST(DecoderOpen, DataOffsetIsWhereTheFirstPacketLies)
{
    FileByteSource source(testsupport::clipPath("h264_aac.mp4"));
    DecoderAgent decoder(&source);
    ASSERT_TRUE(decoder.open());
    // The clip is written with its index first: the first packet starts the media data box.
    QFile file(testsupport::clipPath("h264_aac.mp4"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const qint64 offset = decoder.dataOffset();
    ASSERT_GT(offset, 8);
    file.seek(offset - 4);
    EXPECT_EQ(file.read(4), QByteArray("mdat"));
}

TEST(DecoderOpen, AnInputStartingLateCountsFromItsStart)
{
    DecoderAgent decoder(nullptr, EngineOptions::framewise());
    ASSERT_TRUE(decoder.open(testsupport::clipPath("ts_offset10.ts")));
    EXPECT_GT(decoder.startTimeUs(), 11000000);
    EXPECT_LT(decoder.startTimeUs(), 12000000);
}

TEST(DecoderOpen, SurroundSoundGoesToATwoChannelDevice)
{
    DecoderAgent decoder(nullptr, EngineOptions::seekmark());
    ASSERT_TRUE(decoder.open(testsupport::clipPath("surround51.mp4")));
    ASSERT_NE(decoder.audioAgent(), nullptr);
    EXPECT_EQ(decoder.audioAgent()->channels(), 2);
    EXPECT_EQ(decoder.audioAgent()->sampleRate(), 48000);
    EXPECT_TRUE(decoder.audioAgent()->isDeviceOpen());
}

TEST(DecoderOpen, StoppedPositionClimbsFortyMillisecondsAPerCallUpToTheDuration)
{
    DecoderAgent decoder(nullptr, EngineOptions::seekmark());
    ASSERT_TRUE(decoder.open(testsupport::clipPath("h264_noaudio.mp4")));
    EXPECT_EQ(decoder.positionMs(), 40);
    EXPECT_EQ(decoder.positionMs(), 80);
    qint64 last = 0;
    for (int i = 0; i < 300; ++i)
        last = decoder.positionMs();
    EXPECT_EQ(last, 8000);
    EXPECT_EQ(decoder.position(), 8);
}

TEST(DecoderOpen, AFailedOpenKeepsNoAudioDevice)
{
    // SDL's dummy driver takes one device at a time: the second decoder gets it only if the
    // failed one let go of its own.
    DecoderAgent failed(nullptr, EngineOptions::seekmark());
    ASSERT_FALSE(failed.open(testsupport::clipPath("audio_only.m4a")));
    EXPECT_EQ(failed.audioAgent(), nullptr);
    EXPECT_EQ(failed.videoAgent(), nullptr);
    DecoderAgent other(nullptr, EngineOptions::seekmark());
    ASSERT_TRUE(other.open(testsupport::clipPath("h264_aac.mp4")));
    EXPECT_TRUE(other.audioAgent()->isDeviceOpen());
}

} // namespace
