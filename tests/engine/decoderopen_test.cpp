// Opening every corpus clip by path and through a byte source, what an open decoder reports, and
// the position of a stopped clip.
#include "enginetestsupport.h"

#include "engine/audioagent.h"
#include "engine/videoagent.h"

#include <gtest/gtest.h>

#include <memory>

using namespace enginetest;

namespace {

TEST(DecoderOpen, EveryCorpusClipByPathAndThroughAByteSource)
{
    const struct {
        const char *name;
        int width, height;   // 0: refused
        double rate;
        qint64 durationMs;
        bool audio, bFrames;
    } clips[] = {
        // Refused first: a failed open must let go of its audio device (SDL's dummy driver takes
        // one at a time), or the clips after it would open without one.
        {"audio_only.m4a", 0, 0, 0, 0, false, false},
        {"no_decoder.mkv", 0, 0, 0, 0, false, false},
        {"no_such_clip.mp4", 0, 0, 0, 0, false, false},
        {"h264_aac.mp4", 320, 240, 25, 8000, true, true},
        {"h264_nobframes.mkv", 320, 240, 25, 8000, true, false},
        {"mpeg2_mp2.mpg", 320, 240, 25, 8016, true, true},
        {"vp9_opus.mkv", 320, 240, 25, 8008, true, false},
        {"h264_noaudio.mp4", 320, 240, 25, 8000, false, true},
        {"surround51.mp4", 320, 240, 25, 8000, true, true},   // to a two-channel device
        {"odd_321x241.mkv", 321, 241, 25, 8021, true, false},
        {"subtitles.mkv", 320, 240, 25, 8021, true, true},
        {"ts_offset10.ts", 320, 240, 25, 8021, true, true},
        {"h264_60fps.mp4", 320, 240, 60, 4000, true, true},
        {"vfr.mkv", 320, 240, 25, 5981, true, true},
        {"h264_long.mp4", 320, 240, 25, 40000, true, true},
        {"no_audio_decoder.mkv", 320, 240, 25, 8021, false, false},   // the picture plays alone
    };
    for (bool byteSource : {true, false}) {
        std::vector<std::unique_ptr<DecoderAgent>> refused;   // alive while the others open
        for (const auto &c : clips) {
            SCOPED_TRACE(testing::Message() << c.name << (byteSource ? " through a byte source" : " by path"));
            MessageLog log;
            FileByteSource source(clipPath(c.name));
            auto decoder = std::make_unique<DecoderAgent>(byteSource ? &source : nullptr,
                                                          byteSource ? EngineOptions::seekmark() : EngineOptions::framewise());
            ASSERT_EQ(byteSource ? decoder->open() : decoder->open(clipPath(c.name)), c.width > 0);
            if (c.width == 0) {
                EXPECT_TRUE(decoder->videoWidth() == 0 && decoder->frameRate() == 0.0 && !decoder->nextPicture());
                EXPECT_TRUE(!decoder->audioAgent() && !decoder->videoAgent());
                refused.push_back(std::move(decoder));
                continue;
            }
            EXPECT_EQ(source.firstOffset.load(), byteSource ? 0 : -1);
            EXPECT_EQ(decoder->videoWidth(), c.width);
            EXPECT_EQ(decoder->videoHeight(), c.height);
            EXPECT_DOUBLE_EQ(decoder->frameRate(), c.rate);
            EXPECT_EQ(decoder->duration(), c.durationMs / 1000);
            EXPECT_EQ(decoder->hasBFrames(), c.bFrames);
            EXPECT_FLOAT_EQ(decoder->aspectRatio(), 0.0f);
            // Planar 4:2:0: 1.5 bytes a pixel, the odd size's chroma rounded up.
            EXPECT_EQ(decoder->videoAgent()->pictures().bufferSize(),
                      c.width * c.height + 2 * ((c.width + 1) / 2) * ((c.height + 1) / 2) + VideoAgent::pictureSlack);
            EXPECT_EQ(decoder->videoAgent()->noAudio(), decoder->options().noAudioClock);
            // The silent form (framewise) opens neither an audio decoder nor a device.
            EXPECT_EQ(decoder->hasAudio(), c.audio && byteSource);
            EXPECT_EQ(log.lines().filter("playing the picture without sound").size(),
                      QString(c.name).startsWith("no_audio") && byteSource ? 1 : 0);
            ASSERT_EQ(decoder->audioAgent() != nullptr, c.audio && byteSource);
            if (decoder->audioAgent()) {
                EXPECT_EQ(decoder->audioAgent()->channels(), 2);
                EXPECT_EQ(decoder->audioAgent()->sampleRate(), 48000);
                EXPECT_TRUE(decoder->audioAgent()->isDeviceOpen());
            }
            // Stopped, the position climbs 40 ms a call and stops at the duration, also where that is
            // not a multiple of 40 ms (the step that crossed it once reported 8040 for 8021).
            EXPECT_TRUE(decoder->isStopped());
            EXPECT_EQ(decoder->durationMs(), c.durationMs);
            for (qint64 last = 0, now; last < c.durationMs; last = now)
                ASSERT_EQ(now = decoder->positionMs(), std::min(last + 40, c.durationMs));
            EXPECT_EQ(decoder->positionMs(), c.durationMs);
        }
    }
}

} // namespace
