// Every corpus clip opened and decoded through seekmark's byte path: what the open decoder reports,
// the position of the stopped clip, every picture once, in order, with its own presentation time
// counted from the input's start, and every audio frame as 16-bit sound of at most two channels
// with its own time stamp. (framewise's decoding is its program's test.)
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

// Video that starts 0.3 s after its sound, made once with the ffmpeg tool from a corpus clip and
// kept in the build folder.
QString lateVideoClip()
{
    const QString dir = QCoreApplication::applicationDirPath() + "/engine-clips", path = dir + "/late_video.mkv";
    QDir().mkpath(dir);
    if (!QFileInfo::exists(path)) {
        QProcess::execute("bash", {"-c", QString("ffmpeg -nostdin -loglevel error -y -i '%1' -itsoffset 0.3 -i '%1' -map 1:v"
                                                 " -map 0:a -t 3 -c copy -f matroska '%2.partial' && mv -f '%2.partial' '%2'")
                                             .arg(clipPath("h264_long.mp4"), path)});
    }
    return path;
}

TEST(DecoderDecode, EveryClipOpensOrIsRefusedAndDecodesEveryPictureAndSoundBlock)
{
    const struct {
        const char *name;
        int width, height;   // 0: refused
        qint64 durationMs;
        bool audio, bFrames;
        double timeBase;     // the sound's stream time base is 1/timeBase
    } clips[] = {
        // Refused first: a failed open must let go of its audio device (SDL's dummy driver takes
        // one at a time), or the clips after it would open without one.
        {"audio_only.m4a", 0, 0, 0, false, false, 0},
        {"no_decoder.mkv", 0, 0, 0, false, false, 0},
        {"no_such_clip.mp4", 0, 0, 0, false, false, 0},
        {"h264_aac.mp4", 320, 240, 8000, true, true, 48000},
        {"mpeg2_mp2.mpg", 320, 240, 8016, true, true, 90000},
        {"vp9_opus.mkv", 320, 240, 8008, true, false, 1000},
        {"h264_noaudio.mp4", 320, 240, 8000, false, true, 0},
        {"surround51.mp4", 320, 240, 8000, true, true, 48000},   // to a two-channel device
        {"odd_321x241.mkv", 321, 241, 8021, true, false, 1000},
        {"subtitles.mkv", 320, 240, 8021, true, true, 1000},
        {"ts_offset10.ts", 320, 240, 8021, true, true, 90000},
        {"no_audio_decoder.mkv", 320, 240, 8021, false, false, 0},   // the picture plays alone
    };
    std::vector<std::unique_ptr<DecoderAgent>> refused;   // alive while the others open
    for (const auto &c : clips) {
        SCOPED_TRACE(c.name);
        const QString path = clipPath(c.name);
        // The silent form (framewise) opens neither an audio decoder nor a device.
        DecoderAgent silent(nullptr, fast(EngineOptions::framewise()));
        EXPECT_TRUE(silent.open(path) == (c.width > 0) && !silent.audioAgent());
        FileByteSource source(path);
        auto owned = std::make_unique<DecoderAgent>(&source, fast(EngineOptions::seekmark()));
        DecoderAgent &decoder = *owned;
        ASSERT_EQ(decoder.open(), c.width > 0);
        if (c.width == 0) {
            EXPECT_TRUE(decoder.videoWidth() == 0 && !decoder.nextPicture() && !decoder.audioAgent());
            refused.push_back(std::move(owned));
            continue;
        }
        EXPECT_TRUE(decoder.videoWidth() == c.width && decoder.videoHeight() == c.height) << decoder.videoWidth();
        EXPECT_EQ(decoder.hasBFrames(), c.bFrames);
        // Planar 4:2:0: 1.5 bytes a pixel, the odd size's chroma rounded up.
        EXPECT_EQ(decoder.videoAgent()->pictures().bufferSize(),
                  c.width * c.height + 2 * ((c.width + 1) / 2) * ((c.height + 1) / 2) + VideoAgent::pictureSlack);
        ASSERT_EQ(decoder.audioAgent() != nullptr, c.audio);
        EXPECT_TRUE(!c.audio || (decoder.audioAgent()->channels() == 2 && decoder.audioAgent()->isDeviceOpen()));
        // Stopped, the position climbs 40 ms a call and stops at the duration, also where that is
        // not a multiple of 40 ms (the step that crossed it once reported 8040 for 8021).
        EXPECT_EQ(decoder.durationMs(), c.durationMs);
        for (qint64 last = 0, now; last < c.durationMs; last = now)
            ASSERT_EQ(now = decoder.positionMs(), std::min(last + 40, c.durationMs));

        // Only the worker runs (the device stays paused, so every sound block reaches the test),
        // until the decoder says it reached the end.
        bool ended = false;
        QObject context;
        QObject::connect(&decoder, &DecoderAgent::videoEnd, &context, [&ended] { ended = true; });
        std::vector<testsupport::Picture> pictures;
        qint64 bytes = 0;
        double sumSquares = 0.0;
        auto drain = [&] {
            while (auto *p = static_cast<PixelPacket *>(decoder.videoAgent()->pictures().take())) {
                pictures.push_back({testsupport::readFrameNumber(p->m_Buffer, c.width, c.height), p->m_Time});
                delete p;
            }
            while (auto *block = static_cast<AudioPacket *>(decoder.audioQueue().take())) {
                // Each block's stamp follows the previous block's end, the first at the start.
                EXPECT_NEAR(block->m_Pts / c.timeBase, bytes / 4 / 48000.0, 0.03) << bytes;
                const auto *samples = reinterpret_cast<const int16_t *>(block->m_Buffer);
                for (int i = 0; i < block->m_Size / 2; ++i)
                    sumSquares += static_cast<double>(samples[i]) * samples[i];
                bytes += block->m_Size;
                delete block;
            }
            return ended;
        };
        decoder.JobThread::start();
        ASSERT_TRUE(waitFor(drain, 20000));
        drain();
        // Every number once and in order, each at its time (up to one constant offset below
        // 50 ms: the containers place the first picture a little after the first sound).
        ASSERT_EQ(static_cast<int>(pictures.size()), 200);
        const double offset = pictures[0].time;
        EXPECT_TRUE(offset >= -0.001 && offset < 0.05) << offset;
        for (int i = 0; i < 200; ++i) {
            ASSERT_EQ(pictures[i].number, i) << "picture " << i;
            ASSERT_NEAR(pictures[i].time, i / 25.0 + offset, 0.002) << "picture " << i;
        }
        if (!c.audio)
            continue;
        // 8 s of stereo 48 kHz sound, none of it lost to packets holding several frames, and the
        // tone (1/8 of full scale) in it, also downmixed from 5.1 (about -7.7 dB).
        EXPECT_NEAR(bytes / 4 / 48000.0, 8.0, 0.1);
        const double rms = std::sqrt(sumSquares / (bytes / 2));
        const bool surround = QString(c.name).startsWith("surround");
        EXPECT_TRUE(rms > (surround ? 800 : 2000) && rms < (surround ? 1700 : 3500)) << rms;
    }
}

// The sound waits for the pictures: in a clip whose video starts 0.3 s after its sound, the clock
// moves only once a few pictures are queued (nothing takes them here). Started by the sound alone,
// the clock ran ahead of the first 1080p pictures and the scheduler dropped them.
TEST(DecoderDecode, TheClockWaitsForTheFirstPictures)
{
    DecoderAgent decoder(nullptr, EngineOptions::seekmark());
    ASSERT_TRUE(decoder.open(lateVideoClip()));
    decoder.start();
    ASSERT_TRUE(waitFor([&] { return decoder.m_Clock.load() > 0.0; }));
    EXPECT_GE(decoder.videoAgent()->pictures().count(), DecoderAgent::soundWaitsForPictures);
}

} // namespace
