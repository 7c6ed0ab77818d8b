// Every corpus clip opened and decoded through the engine in both programs' forms (seekmark through
// its byte path, framewise by path): what the open decoder reports, the position of the stopped
// clip, every picture once, in order, with its own presentation time counted from the input's
// start, and every audio frame as 16-bit sound of at most two channels with its own time stamp.
#include "enginetestsupport.h"

#include "engine/audioagent.h"
#include "engine/videoagent.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace enginetest;

namespace {

// Clips only these tests need, made once with the ffmpeg tool from corpus clips and kept in the
// build folder: two video streams (the second 321x241) and two audio streams (the second 5.1);
// video that starts 0.3 s after its sound.
QString generatedClip(const QString &name)
{
    const QString dir = QCoreApplication::applicationDirPath() + "/engine-clips", path = dir + "/" + name;
    const QString recipe = name == "two_of_each.mkv"
        ? QString("-i '%1' -i '%2' -i '%3' -map 0:v -map 1:v -map 0:a -map 2:a")
              .arg(clipPath("h264_nobframes.mkv"), clipPath("odd_321x241.mkv"), clipPath("surround51.mp4"))
        : QString("-i '%1' -itsoffset 0.3 -i '%1' -map 1:v -map 0:a -t 3").arg(clipPath("h264_long.mp4"));
    QDir().mkpath(dir);
    if (!QFileInfo::exists(path)) {
        QProcess::execute("bash", {"-c", QString("ffmpeg -nostdin -loglevel error -y %1 -c copy -f matroska '%2.partial'"
                                                 " && mv -f '%2.partial' '%2'").arg(recipe, path)});
    }
    return path;
}

TEST(DecoderDecode, EveryClipOpensOrIsRefusedAndDecodesEveryPictureAndSoundBlockInBothForms)
{
    const struct {
        const char *name;
        int width, height;   // 0: refused
        double rate;
        qint64 durationMs;
        bool audio, bFrames;
        int pictures;        // 0: not decoded
        int timeBase;        // the sound's stream time base is 1/timeBase; 0: sound not checked
    } clips[] = {
        // Refused first: a failed open must let go of its audio device (SDL's dummy driver takes
        // one at a time), or the clips after it would open without one.
        {"audio_only.m4a", 0, 0, 0, 0, false, false, 0, 0},
        {"no_decoder.mkv", 0, 0, 0, 0, false, false, 0, 0},
        {"no_such_clip.mp4", 0, 0, 0, 0, false, false, 0, 0},
        {"h264_aac.mp4", 320, 240, 25, 8000, true, true, 200, 48000},
        {"h264_nobframes.mkv", 320, 240, 25, 8000, true, false, 200, 1000},
        {"mpeg2_mp2.mpg", 320, 240, 25, 8016, true, true, 200, 90000},
        {"vp9_opus.mkv", 320, 240, 25, 8008, true, false, 200, 1000},
        {"h264_noaudio.mp4", 320, 240, 25, 8000, false, true, 200, 0},
        {"surround51.mp4", 320, 240, 25, 8000, true, true, 200, 48000},   // to a two-channel device
        {"odd_321x241.mkv", 321, 241, 25, 8021, true, false, 200, 1000},
        {"subtitles.mkv", 320, 240, 25, 8021, true, true, 200, 0},
        {"ts_offset10.ts", 320, 240, 25, 8021, true, true, 200, 90000},
        {"h264_60fps.mp4", 320, 240, 60, 4000, true, true, 240, 0},
        {"vfr.mkv", 320, 240, 25, 5981, true, true, 100, 0},   // gaps alternating 40 and 80 ms
        {"h264_long.mp4", 320, 240, 25, 40000, true, true, 0, 0},
        {"no_audio_decoder.mkv", 320, 240, 25, 8021, false, false, 0, 0},   // the picture plays alone
        // Only the first stream of each kind is driven: the same pictures and the stereo tone.
        {"two_of_each.mkv", 320, 240, 25, 8042, true, false, 200, 1000},
    };
    for (const EngineOptions &options : {fast(EngineOptions::seekmark()), fast(EngineOptions::framewise())}) {
        const bool seekmark = options.logChannels;
        std::vector<std::unique_ptr<DecoderAgent>> refused;   // alive while the others open
        for (const auto &c : clips) {
            SCOPED_TRACE(testing::Message() << c.name << (seekmark ? " seekmark" : " framewise"));
            const QString path = QString(c.name).startsWith("two_") ? generatedClip(c.name) : clipPath(c.name);
            MessageLog log;
            FileByteSource source(path);
            auto owned = std::make_unique<DecoderAgent>(seekmark ? &source : nullptr, options);
            DecoderAgent &decoder = *owned;
            ASSERT_EQ(seekmark ? decoder.open() : decoder.open(path), c.width > 0);
            if (c.width == 0) {
                EXPECT_TRUE(decoder.videoWidth() == 0 && decoder.frameRate() == 0.0 && !decoder.nextPicture());
                EXPECT_TRUE(!decoder.audioAgent() && !decoder.videoAgent());
                refused.push_back(std::move(owned));
                continue;
            }
            EXPECT_EQ(source.firstOffset.load(), seekmark ? 0 : -1);
            EXPECT_TRUE(decoder.videoWidth() == c.width && decoder.videoHeight() == c.height) << decoder.videoWidth();
            EXPECT_DOUBLE_EQ(decoder.frameRate(), c.rate);
            EXPECT_EQ(decoder.duration(), c.durationMs / 1000);
            EXPECT_EQ(decoder.hasBFrames(), c.bFrames);
            EXPECT_FLOAT_EQ(decoder.aspectRatio(), 0.0f);
            // Planar 4:2:0: 1.5 bytes a pixel, the odd size's chroma rounded up.
            EXPECT_EQ(decoder.videoAgent()->pictures().bufferSize(),
                      c.width * c.height + 2 * ((c.width + 1) / 2) * ((c.height + 1) / 2) + VideoAgent::pictureSlack);
            EXPECT_EQ(decoder.videoAgent()->noAudio(), !seekmark);
            // The silent form (framewise) opens neither an audio decoder nor a device.
            EXPECT_EQ(decoder.hasAudio(), c.audio && seekmark);
            EXPECT_EQ(log.lines().filter("playing the picture without sound").size(),
                      QString(c.name).startsWith("no_audio") && seekmark ? 1 : 0);
            ASSERT_EQ(decoder.audioAgent() != nullptr, c.audio && seekmark);
            if (decoder.audioAgent()) {
                EXPECT_EQ(decoder.audioAgent()->channels(), 2);
                EXPECT_EQ(decoder.audioAgent()->sampleRate(), 48000);
                EXPECT_TRUE(decoder.audioAgent()->isDeviceOpen());
            }
            // Stopped, the position climbs 40 ms a call and stops at the duration, also where that is
            // not a multiple of 40 ms (the step that crossed it once reported 8040 for 8021).
            EXPECT_TRUE(decoder.isStopped());
            EXPECT_EQ(decoder.durationMs(), c.durationMs);
            for (qint64 last = 0, now; last < c.durationMs; last = now)
                ASSERT_EQ(now = decoder.positionMs(), std::min(last + 40, c.durationMs));
            EXPECT_EQ(decoder.positionMs(), c.durationMs);
            if (c.pictures == 0)
                continue;

            const Decoded decoded = decodeAll(decoder, c.pictures);
            // Every number once and in order, each at its time (up to one constant offset below
            // 50 ms: the containers place the first picture a little after the first sound).
            ASSERT_EQ(static_cast<int>(decoded.pictures.size()), c.pictures);
            const double offset = decoded.pictures[0].time;
            EXPECT_TRUE(offset >= -0.001 && offset < 0.05) << offset;
            const bool variable = QString(c.name).startsWith("vfr");
            for (int i = 0; i < c.pictures; ++i) {
                const double due = variable ? std::floor(i / 2) * 0.12 + (i % 2) * 0.04 : i / c.rate;
                ASSERT_EQ(decoded.pictures[i].number, i) << "picture " << i;
                ASSERT_NEAR(decoded.pictures[i].time, due + offset, 0.002) << "picture " << i;
            }
            if (!seekmark) {
                EXPECT_TRUE(decoded.audio.empty());   // framewise plays no sound
                EXPECT_TRUE(log.lines().filter("WARNING").isEmpty()) << log.lines().join('\n').toStdString();
                // It keeps polling at the end, and a seek wakes it.
                settle(100);
                EXPECT_TRUE(decoder.isRunning() && !decoder.isEof() && decoded.videoEnds == 0);
                if (!variable) {
                    decoder.seek(2);
                    EXPECT_EQ(nextNumber(decoder), std::lround(2 * c.rate));
                }
                continue;
            }
            const bool stoppedAtTheEnd = decoder.isStopped();
            decoder.stop();   // the worker is done with the log lines
            EXPECT_EQ(decoded.videoEnds, 1);
            EXPECT_TRUE(stoppedAtTheEnd);
            EXPECT_GT(source.bytesRead.load(), QFileInfo(path).size() / 2);
            // Log lines go through the channels, with their location: one per subtitle cue.
            if (QString(c.name).startsWith("subtitles")) {
                EXPECT_EQ(log.lines().filter("bad free packet").size(), 4);
                EXPECT_FALSE(log.lines().filter("./decoderagent").isEmpty());
            }
            if (!c.timeBase)
                continue;
            // 8 s of stereo 48 kHz sound, none of it lost to packets holding several frames; each
            // block's stamp follows the previous block's end, the first at the start.
            EXPECT_NEAR(decoded.audioSamples / 2.0 / 48000.0, 8.0, 0.1);
            EXPECT_NEAR(decoded.audio.front().first / c.timeBase, 0.0, 0.03);
            for (size_t i = 1; i < decoded.audio.size(); ++i) {
                const auto &[pts, bytes] = decoded.audio[i - 1];
                ASSERT_NEAR(decoded.audio[i].first / c.timeBase, pts / c.timeBase + bytes / 4 / 48000.0, 0.002) << i;
            }
            // The tone (1/8 of full scale) survives, also downmixed from 5.1 (about -7.7 dB).
            const double rms = std::sqrt(decoded.audioSumSquares / decoded.audioSamples);
            const bool surround = QString(c.name).startsWith("surround");
            EXPECT_TRUE(rms > (surround ? 800 : 2000) && rms < (surround ? 1700 : 3500)) << rms;
        }
    }
}

// The sound waits for the pictures: in a clip whose video starts 0.3 s after its sound, the clock
// moves only once a few pictures are queued (nothing takes them here). Started by the sound alone,
// the clock ran ahead of the first 1080p pictures and the scheduler dropped them.
TEST(DecoderDecode, TheClockWaitsForTheFirstPictures)
{
    DecoderAgent decoder(nullptr, EngineOptions::seekmark());
    ASSERT_TRUE(decoder.open(generatedClip("late_video.mkv")));
    ASSERT_TRUE(decoder.hasAudio());
    decoder.start();
    ASSERT_TRUE(waitFor([&] { return decoder.m_Clock.load() > 0.0; }));
    EXPECT_GE(decoder.videoAgent()->pictures().count(), DecoderAgent::soundWaitsForPictures);
}

} // namespace
