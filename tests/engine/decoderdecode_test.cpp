// Whole clips decoded through the engine in both programs' forms: every picture comes out once, in
// order, with its own presentation time counted from the input's start; every audio frame comes
// out as 16-bit sound of at most two channels with its own time stamp.
#include "enginetestsupport.h"

#include "engine/decoderagent.h"
#include "tests/common/testclips.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace enginetest;

namespace {

struct ClipCase {
    const char *name;
    int pictures;
    double rate;   // 0: variable, gaps alternating 40 and 80 ms
};

// Every number once and in order, each at its time (up to one constant offset below 50 ms: the
// containers place the first picture a little after the first sound).
void expectCompleteAndTimed(const Decoded &decoded, const ClipCase &c)
{
    const auto &pictures = decoded.pictures;
    ASSERT_EQ(static_cast<int>(pictures.size()), c.pictures);
    auto due = [&c](int n) { return c.rate > 0 ? n / c.rate : std::floor(n / 2) * 0.12 + (n % 2) * 0.04; };
    const double offset = pictures[0].time;
    EXPECT_GE(offset, -0.001);
    EXPECT_LT(offset, 0.05);
    for (int i = 0; i < c.pictures; ++i) {
        ASSERT_EQ(pictures[i].number, i) << "picture " << i;
        ASSERT_NEAR(pictures[i].time, due(i) + offset, 0.002) << "picture " << i;
    }
}

TEST(DecoderDecode, EveryPictureOnceInOrderAtItsTimeInBothForms)
{
    const ClipCase clips[] = {
        {"h264_aac.mp4", 200, 25},    {"h264_nobframes.mkv", 200, 25}, {"mpeg2_mp2.mpg", 200, 25},
        {"vp9_opus.mkv", 200, 25},    {"h264_noaudio.mp4", 200, 25},   {"surround51.mp4", 200, 25},
        {"odd_321x241.mkv", 200, 25}, {"subtitles.mkv", 200, 25},      {"ts_offset10.ts", 200, 25},
        {"h264_60fps.mp4", 240, 60},  {"vfr.mkv", 100, 0},
    };
    for (const EngineOptions &options : {fast(EngineOptions::seekmark()), fast(EngineOptions::framewise())}) {
        const bool seekmark = options.logChannels;
        for (const ClipCase &c : clips) {
            SCOPED_TRACE(testing::Message() << c.name << (seekmark ? " seekmark" : " framewise"));
            const QString path = testsupport::clipPath(c.name);
            // The seekmark form reads through its byte path, framewise by path.
            MessageCapture warnings;
            FileByteSource source(path);
            DecoderAgent decoder(seekmark ? &source : nullptr, options);
            ASSERT_TRUE(seekmark ? decoder.open() : decoder.open(path));
            const Decoded decoded = decodeAll(decoder, c.pictures);
            const bool stoppedAtTheEnd = decoder.isStopped();
            decoder.stop();   // the worker is done with the lines
            expectCompleteAndTimed(decoded, c);
            if (HasFatalFailure())
                return;
            if (seekmark) {
                EXPECT_EQ(decoded.videoEnds, 1);
                EXPECT_TRUE(stoppedAtTheEnd);
                EXPECT_GT(source.bytesRead.load(), QFileInfo(path).size() / 2);
                // Log lines go through the channels, with their location: one per subtitle cue.
                if (QString(c.name).startsWith("subtitles")) {
                    EXPECT_EQ(warnings.lines.filter("bad free packet").size(), 4);
                    EXPECT_FALSE(warnings.lines.filter("./decoderagent").isEmpty());
                }
            } else {
                EXPECT_EQ(decoded.videoEnds, 0);
                EXPECT_TRUE(decoded.audio.empty());   // framewise plays no sound
                EXPECT_TRUE(warnings.lines.isEmpty()) << warnings.lines.join('\n').toStdString();
            }
        }
    }
}

TEST(DecoderDecode, EveryAudioFrameIsQueuedWithItsOwnTimeStamp)
{
    // Stream time bases: 1/48000 in MP4, 1/1000 in Matroska, 1/90000 in MPEG streams.
    const std::pair<const char *, double> cases[] = {{"h264_aac.mp4", 1.0 / 48000}, {"vp9_opus.mkv", 1.0 / 1000},
                                                     {"mpeg2_mp2.mpg", 1.0 / 90000}, {"ts_offset10.ts", 1.0 / 90000},
                                                     {"surround51.mp4", 1.0 / 48000}};
    for (const auto &[name, timeBase] : cases) {
        SCOPED_TRACE(name);
        DecoderAgent decoder(nullptr, fast(EngineOptions::seekmark()));
        ASSERT_TRUE(decoder.open(testsupport::clipPath(name)));
        const Decoded decoded = decodeAll(decoder, 200);
        ASSERT_GT(decoded.audio.size(), 100u);
        // About 8 s of stereo 48 kHz sound, none of it lost to packets holding several frames.
        EXPECT_NEAR(decoded.audioSamples / 2.0 / 48000.0, 8.0, 0.1);
        // Each block's stamp follows the previous block's end; the first is at the start.
        EXPECT_NEAR(decoded.audio.front().pts * timeBase, 0.0, 0.03);
        for (size_t i = 1; i < decoded.audio.size(); ++i) {
            const double previousEnd = decoded.audio[i - 1].pts * timeBase + decoded.audio[i - 1].bytes / 4 / 48000.0;
            ASSERT_NEAR(decoded.audio[i].pts * timeBase, previousEnd, 0.002) << "block " << i;
        }
        // The tone (1/8 of full scale) survives, also downmixed from 5.1 (about -7.7 dB).
        const double rms = std::sqrt(decoded.audioSumSquares / decoded.audioSamples);
        const bool surround = QString(name).startsWith("surround");
        EXPECT_GT(rms, surround ? 800 : 2000);
        EXPECT_LT(rms, surround ? 1700 : 3500);
    }
}

// Clips only these tests need, made once with the ffmpeg tool and kept in the build folder.
QString generatedClip(const QString &name, const QStringList &steps)
{
    const QString dir = QCoreApplication::applicationDirPath() + "/engine-clips";
    const QString path = dir + "/" + name;
    if (QFileInfo::exists(path))
        return path;
    QDir().mkpath(dir);
    QProcess process;
    process.start("bash", {"-c", QString("set -e; cd '%1'; %2; mv -f .partial-%3 %3").arg(dir, steps.join("; "), name)});
    return process.waitForFinished(120000) && process.exitCode() == 0 ? path : QString();
}

TEST(DecoderDecode, APictureOfAnotherSizeIsScaledToTheOpenedSize)
{
    // 50 pictures at 320x240, then 50 at 160x120 numbered on from 50.
    const QString part = "ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=black:s=12x2:r=25:d=2 -vf "
                         "\"scale=12:2:flags=neighbor,geq=lum='if(mod(floor((N+%1)/pow(2\\,X))\\,2)\\,235\\,96)'"
                         ":cb=128:cr=128,scale=%2:flags=neighbor\" -c:v mpeg2video -q:v 4 -g 25 -bf 0 -f mpegts %3";
    const QString path = generatedClip(
        "resolution_change.ts",
        {part.arg(0).arg("320:240", "rc_a.ts"), part.arg(50).arg("160:120", "rc_b.ts"),
         "printf \"file 'rc_a.ts'\\nfile 'rc_b.ts'\\n\" > rc_list.txt",
         "ffmpeg -nostdin -loglevel error -y -f concat -safe 0 -i rc_list.txt -c copy -f mpegts .partial-resolution_change.ts",
         "rm -f rc_a.ts rc_b.ts rc_list.txt"});
    ASSERT_FALSE(path.isEmpty());
    DecoderAgent decoder(nullptr, fast(EngineOptions::seekmark()));
    ASSERT_TRUE(decoder.open(path));
    ASSERT_EQ(decoder.videoWidth(), 320);
    int small = 0;
    int last = -1;
    for (const Decoded::Picture &p : decodeAll(decoder, 100).pictures) {
        ASSERT_GT(p.number, last);   // readable after scaling, in order
        last = p.number;
        small += p.number >= 50;
    }
    EXPECT_GE(small, 45);
    EXPECT_EQ(last, 99);
}

TEST(DecoderDecode, OnlyTheFirstStreamOfEachKindIsDriven)
{
    // Two video streams (the second 321x241) and two audio streams (the second 5.1).
    const QString path = generatedClip(
        "two_of_each.mkv",
        {QString("ffmpeg -nostdin -loglevel error -y -i '%1' -i '%2' -i '%3' -map 0:v -map 1:v -map 0:a -map 2:a"
                 " -c copy -f matroska .partial-two_of_each.mkv")
             .arg(testsupport::clipPath("h264_nobframes.mkv"), testsupport::clipPath("odd_321x241.mkv"),
                  testsupport::clipPath("surround51.mp4"))});
    ASSERT_FALSE(path.isEmpty());
    DecoderAgent decoder(nullptr, fast(EngineOptions::seekmark()));
    ASSERT_TRUE(decoder.open(path));
    EXPECT_EQ(decoder.videoStreamIndex(), 0);
    EXPECT_EQ(decoder.audioStreamIndex(), 2);
    EXPECT_EQ(decoder.videoWidth(), 320);
    const Decoded decoded = decodeAll(decoder, 200);
    expectCompleteAndTimed(decoded, {"two_of_each.mkv", 200, 25});
    EXPECT_NEAR(decoded.audioSamples / 2.0 / 48000.0, 8.0, 0.1);
}

// The sound waits for the pictures: in a clip whose video starts 0.3 s after its sound (the file
// holds that much sound before the first picture), the clock moves only once a few pictures are
// queued (nothing takes pictures here, so they are still queued when the clock moves). Started by the sound
// alone, the clock ran ahead of the first 1080p pictures and the scheduler dropped them.
TEST(DecoderDecode, TheClockWaitsForTheFirstPicture)
{
    const QString path = generatedClip(
        "late_video.mkv",
        {QString("ffmpeg -nostdin -loglevel error -y -i '%1' -itsoffset 0.3 -i '%1' -map 1:v -map 0:a -t 3"
                 " -c copy -f matroska .partial-late_video.mkv")
             .arg(testsupport::clipPath("h264_long.mp4"))});
    ASSERT_FALSE(path.isEmpty());
    DecoderAgent decoder(nullptr, EngineOptions::seekmark());
    ASSERT_TRUE(decoder.open(path));
    ASSERT_TRUE(decoder.hasAudio());
    decoder.start();
    ASSERT_TRUE(waitFor([&] { return decoder.m_Clock.load() > 0.0; }));
    EXPECT_GE(decoder.videoAgent()->pictures().count(), DecoderAgent::soundWaitsForPictures)
        << "the clock moved before the first pictures were queued";
}

} // namespace
