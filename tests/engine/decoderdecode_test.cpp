// Whole clips decoded through the engine in both programs' forms: every picture comes out once, in
// order, with its own presentation time counted from the input's start; every audio frame comes
// out as 16-bit sound of at most two channels with its own time stamp.
#include "enginetestsupport.h"

#include "engine/videoagent.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <cmath>

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

TEST(DecoderDecode, EveryPictureOnceInOrderAtItsTimeAndEverySoundBlockInBothForms)
{
    const struct {
        const char *name;
        int pictures;
        double rate;     // 0: variable, gaps alternating 40 and 80 ms
        int timeBase;    // the sound's stream time base is 1/timeBase; 0: sound not checked
    } clips[] = {
        {"h264_aac.mp4", 200, 25, 48000},     {"h264_nobframes.mkv", 200, 25, 1000}, {"mpeg2_mp2.mpg", 200, 25, 90000},
        {"vp9_opus.mkv", 200, 25, 1000},      {"h264_noaudio.mp4", 200, 25, 0},      {"surround51.mp4", 200, 25, 48000},
        {"odd_321x241.mkv", 200, 25, 1000},   {"subtitles.mkv", 200, 25, 0},         {"ts_offset10.ts", 200, 25, 90000},
        {"h264_60fps.mp4", 240, 60, 0},       {"vfr.mkv", 100, 0, 0},
        // Only the first stream of each kind is driven: the same pictures and the stereo tone.
        {"two_of_each.mkv", 200, 25, 1000},
    };
    for (const EngineOptions &options : {fast(EngineOptions::seekmark()), fast(EngineOptions::framewise())}) {
        const bool seekmark = options.logChannels;
        for (const auto &c : clips) {
            SCOPED_TRACE(testing::Message() << c.name << (seekmark ? " seekmark" : " framewise"));
            const QString path = QString(c.name).startsWith("two_") ? generatedClip(c.name) : clipPath(c.name);
            // The seekmark form reads through its byte path, framewise by path.
            MessageLog log;
            FileByteSource source(path);
            DecoderAgent decoder(seekmark ? &source : nullptr, options);
            ASSERT_TRUE(seekmark ? decoder.open() : decoder.open(path));
            ASSERT_EQ(decoder.videoWidth(), QString(c.name).startsWith("odd") ? 321 : 320);
            const Decoded decoded = decodeAll(decoder, c.pictures);
            // Every number once and in order, each at its time (up to one constant offset below
            // 50 ms: the containers place the first picture a little after the first sound).
            ASSERT_EQ(static_cast<int>(decoded.pictures.size()), c.pictures);
            const double offset = decoded.pictures[0].time;
            EXPECT_TRUE(offset >= -0.001 && offset < 0.05) << offset;
            for (int i = 0; i < c.pictures; ++i) {
                const double due = c.rate > 0 ? i / c.rate : std::floor(i / 2) * 0.12 + (i % 2) * 0.04;
                ASSERT_EQ(decoded.pictures[i].number, i) << "picture " << i;
                ASSERT_NEAR(decoded.pictures[i].time, due + offset, 0.002) << "picture " << i;
            }
            if (!seekmark) {
                EXPECT_TRUE(decoded.audio.empty());   // framewise plays no sound
                EXPECT_TRUE(log.lines().filter("WARNING").isEmpty()) << log.lines().join('\n').toStdString();
                // It keeps polling at the end, and a seek wakes it.
                settle(100);
                EXPECT_TRUE(decoder.isRunning() && !decoder.isEof() && decoded.videoEnds == 0);
                if (c.rate > 0) {
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
