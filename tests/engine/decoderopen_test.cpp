// Opening every corpus clip by path and through a byte source, and what an open decoder reports.
#include "enginetestsupport.h"

#include "engine/audioagent.h"
#include "engine/decoderagent.h"
#include "engine/videoagent.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

using enginetest::FileByteSource;
using enginetest::MessageCapture;

namespace {

TEST(DecoderOpen, EveryCorpusClipByPathAndThroughAByteSource)
{
    const struct {
        const char *name;
        bool opens;
        int width, height;
        double rate;
        qint64 duration;   // whole seconds
        bool audio, bFrames;
    } clips[] = {
        {"h264_aac.mp4", true, 320, 240, 25, 8, true, true},
        {"h264_nobframes.mkv", true, 320, 240, 25, 8, true, false},
        {"mpeg2_mp2.mpg", true, 320, 240, 25, 8, true, true},
        {"vp9_opus.mkv", true, 320, 240, 25, 8, true, false},
        {"h264_noaudio.mp4", true, 320, 240, 25, 8, false, true},
        {"surround51.mp4", true, 320, 240, 25, 8, true, true},   // to a two-channel device
        {"odd_321x241.mkv", true, 321, 241, 25, 8, true, false},
        {"subtitles.mkv", true, 320, 240, 25, 8, true, true},
        {"ts_offset10.ts", true, 320, 240, 25, 8, true, true},
        {"h264_60fps.mp4", true, 320, 240, 60, 4, true, true},
        {"vfr.mkv", true, 320, 240, 25, 5, true, true},
        {"h264_long.mp4", true, 320, 240, 25, 40, true, true},
        {"no_audio_decoder.mkv", true, 320, 240, 25, 8, false, false},   // the picture plays alone
        {"audio_only.m4a", false, 0, 0, 0, 0, false, false},
        {"no_decoder.mkv", false, 0, 0, 0, 0, false, false},
        {"no_such_clip.mp4", false, 0, 0, 0, 0, false, false},
    };
    for (bool byteSource : {true, false}) {
        for (const auto &c : clips) {
            SCOPED_TRACE(testing::Message() << c.name << (byteSource ? " through a byte source" : " by path"));
            MessageCapture warnings;
            FileByteSource source(testsupport::clipPath(c.name));
            DecoderAgent decoder(byteSource ? &source : nullptr,
                                 byteSource ? EngineOptions::seekmark() : EngineOptions::framewise());
            ASSERT_EQ(byteSource ? decoder.open() : decoder.open(testsupport::clipPath(c.name)), c.opens);
            if (!c.opens) {
                EXPECT_EQ(decoder.videoWidth(), 0);
                EXPECT_EQ(decoder.frameRate(), 0.0);
                EXPECT_EQ(decoder.nextPicture(), nullptr);
                continue;
            }
            EXPECT_EQ(decoder.videoWidth(), c.width);
            EXPECT_EQ(decoder.videoHeight(), c.height);
            EXPECT_DOUBLE_EQ(decoder.frameRate(), c.rate);
            EXPECT_EQ(decoder.duration(), c.duration);
            EXPECT_EQ(decoder.durationMs() / 1000, c.duration);
            // The silent form (framewise) opens neither an audio decoder nor a device.
            EXPECT_EQ(decoder.hasAudio(), c.audio && byteSource);
            EXPECT_EQ(warnings.lines.filter("playing the picture without sound").size(),
                      QString(c.name).startsWith("no_audio") && byteSource ? 1 : 0);
            EXPECT_EQ(decoder.hasBFrames(), c.bFrames);
            EXPECT_FLOAT_EQ(decoder.aspectRatio(), 0.0f);
            ASSERT_NE(decoder.videoAgent(), nullptr);
            // Planar 4:2:0: 1.5 bytes a pixel, the odd size's chroma rounded up.
            EXPECT_EQ(decoder.videoAgent()->pictures().bufferSize(),
                      c.width * c.height + 2 * ((c.width + 1) / 2) * ((c.height + 1) / 2) + VideoAgent::pictureSlack);
            EXPECT_EQ(decoder.videoAgent()->noAudio(), decoder.options().noAudioClock);
            EXPECT_TRUE(decoder.isStopped());
            ASSERT_EQ(decoder.audioAgent() != nullptr, c.audio && byteSource);
            if (decoder.audioAgent()) {
                EXPECT_EQ(decoder.audioAgent()->channels(), 2);
                EXPECT_EQ(decoder.audioAgent()->sampleRate(), 48000);
                EXPECT_TRUE(decoder.audioAgent()->isDeviceOpen());
            }
        }
    }
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

// A stopped clip's position climbs 40 ms a call and stops at the duration, also when the duration
// is not a multiple of 40 ms (the step that crossed it once reported 8040 for 8021).
TEST(DecoderOpen, StoppedPositionClimbsFortyMillisecondsACallUpToTheDuration)
{
    for (const char *clip : {"h264_noaudio.mp4", "odd_321x241.mkv"}) {
        DecoderAgent decoder(nullptr, EngineOptions::seekmark());
        ASSERT_TRUE(decoder.open(testsupport::clipPath(clip))) << clip;
        const qint64 end = decoder.durationMs();
        EXPECT_EQ(decoder.positionMs(), 40) << clip;
        qint64 last = 40;
        for (int i = 0; i < 300; ++i) {
            const qint64 now = decoder.positionMs();
            EXPECT_LE(now, end) << clip;
            EXPECT_EQ(now, std::min(last + 40, end)) << clip;
            last = now;
        }
        EXPECT_EQ(last, end) << clip;
    }
}

} // namespace
