// Whole clips decoded through the engine, with both programs' options: every picture comes out
// once, in order, with its own presentation time counted from the input's start; every audio
// frame comes out as 16-bit sound of at most two channels with its own time stamp.
#include "enginetestsupport.h"

#include "engine/audioagent.h"
#include "engine/decoderagent.h"
#include "engine/videoagent.h"
#include "tests/common/testclips.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QtMessageHandler>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace enginetest;

namespace {

struct ClipCase {
    const char *name;
    int pictures;
    double rate;       // 0: variable (the generator's pattern)
};

const ClipCase frameNumbered[] = {
    {"h264_aac.mp4", 200, 25},    {"h264_nobframes.mkv", 200, 25}, {"mpeg2_mp2.mpg", 200, 25},
    {"vp9_opus.mkv", 200, 25},    {"h264_noaudio.mp4", 200, 25},   {"surround51.mp4", 200, 25},
    {"odd_321x241.mkv", 200, 25}, {"subtitles.mkv", 200, 25},      {"ts_offset10.ts", 200, 25},
    {"h264_60fps.mp4", 240, 60},  {"vfr.mkv", 100, 0},
};

// When frame N of the variable-rate clip is shown: gaps alternate 40 and 80 ms.
double vfrTime(int n)
{
    return std::floor(n / 2) * 0.12 + (n % 2) * 0.04;
}

std::unique_ptr<DecoderAgent> openClip(const QString &path, const EngineOptions &options,
                                       std::unique_ptr<FileByteSource> &source)
{
    std::unique_ptr<DecoderAgent> decoder;
    if (options.logChannels) {   // the seekmark form reads through its byte path
        source = std::make_unique<FileByteSource>(path);
        decoder = std::make_unique<DecoderAgent>(source.get(), options);
        if (!decoder->open())
            return nullptr;
    } else {
        decoder = std::make_unique<DecoderAgent>(nullptr, options);
        if (!decoder->open(path))
            return nullptr;
    }
    return decoder;
}

// Every number once and in order, each at its time (up to one constant offset below 50 ms: the
// containers place the first picture a little after the first sound).
void expectCompleteAndTimed(const Decoded &decoded, const ClipCase &c, const char *form)
{
    const auto &pictures = decoded.pictures;
    ASSERT_EQ(static_cast<int>(pictures.size()), c.pictures) << c.name << " " << form;
    const double offset = pictures[0].time - (c.rate > 0 ? 0.0 : vfrTime(0));
    EXPECT_GE(offset, -0.001) << c.name << " " << form;
    EXPECT_LT(offset, 0.05) << c.name << " " << form;
    for (int i = 0; i < c.pictures; ++i) {
        ASSERT_EQ(pictures[i].number, i) << c.name << " " << form << " picture " << i;
        const double expected = (c.rate > 0 ? i / c.rate : vfrTime(i)) + offset;
        ASSERT_NEAR(pictures[i].time, expected, 0.002) << c.name << " " << form << " picture " << i;
    }
}

TEST(DecoderDecode, EveryPictureOnceInOrderAtItsTimeInBothForms)
{
    const EngineOptions forms[] = {fast(EngineOptions::seekmark()), fast(EngineOptions::framewise())};
    for (const EngineOptions &options : forms) {
        const char *form = options.logChannels ? "seekmark" : "framewise";
        for (const ClipCase &c : frameNumbered) {
            std::unique_ptr<FileByteSource> source;
            auto decoder = openClip(testsupport::clipPath(c.name), options, source);
            ASSERT_TRUE(decoder) << c.name << " " << form;
            const Decoded decoded = decodeAll(*decoder, c.pictures);
            expectCompleteAndTimed(decoded, c, form);
            if (HasFatalFailure())
                return;
            if (options.stopAtEnd) {
                EXPECT_EQ(decoded.videoEnds, 1) << c.name;
                EXPECT_TRUE(decoder->isStopped()) << c.name;
                // Every byte the demultiplexer saw came through the byte source.
                EXPECT_GT(source->bytesRead.load(), QFileInfo(testsupport::clipPath(c.name)).size() / 2) << c.name;
            } else {
                EXPECT_EQ(decoded.videoEnds, 0) << c.name;
                EXPECT_TRUE(decoded.audio.empty()) << c.name;   // framewise plays no sound
            }
        }
    }
}

TEST(DecoderDecode, EveryAudioFrameIsQueuedWithItsOwnTimeStamp)
{
    struct AudioCase {
        const char *name;
        double timeBase;
    };
    // Stream time bases: 1/48000 in MP4, 1/1000 in Matroska, 1/90000 in MPEG streams.
    const AudioCase cases[] = {{"h264_aac.mp4", 1.0 / 48000}, {"vp9_opus.mkv", 1.0 / 1000},
                               {"mpeg2_mp2.mpg", 1.0 / 90000}, {"ts_offset10.ts", 1.0 / 90000},
                               {"surround51.mp4", 1.0 / 48000}};
    for (const AudioCase &c : cases) {
        DecoderAgent decoder(nullptr, fast(EngineOptions::seekmark()));
        ASSERT_TRUE(decoder.open(testsupport::clipPath(c.name))) << c.name;
        const Decoded decoded = decodeAll(decoder, 200);
        ASSERT_GT(decoded.audio.size(), 100u) << c.name;
        // About 8 s of stereo 48 kHz sound, none of it lost to packets holding several frames.
        const double seconds = decoded.audioSamples / 2.0 / 48000.0;
        EXPECT_NEAR(seconds, 8.0, 0.1) << c.name;
        // Each block's stamp follows the previous block's end, and the first is at the start.
        EXPECT_NEAR(decoded.audio.front().pts * c.timeBase, 0.0, 0.03) << c.name;
        for (size_t i = 1; i < decoded.audio.size(); ++i) {
            const double previousEnd = decoded.audio[i - 1].pts * c.timeBase + decoded.audio[i - 1].bytes / 4 / 48000.0;
            ASSERT_NEAR(decoded.audio[i].pts * c.timeBase, previousEnd, 0.002) << c.name << " block " << i;
        }
        // The tone (amplitude 1/8 of full scale) survives, also downmixed from 5.1 (about -7.7 dB).
        const double rms = std::sqrt(decoded.audioSumSquares / decoded.audioSamples);
        const bool surround = QString(c.name).startsWith("surround");
        EXPECT_GT(rms, surround ? 800 : 2000) << c.name;
        EXPECT_LT(rms, surround ? 1700 : 3500) << c.name;
    }
}

// Clips that only these tests need, made once with the ffmpeg tool and kept in the build folder.
QString generatedClip(const QString &name, const QStringList &steps)
{
    const QString dir = QCoreApplication::applicationDirPath() + "/engine-clips";
    const QString path = dir + "/" + name;
    if (QFileInfo::exists(path))
        return path;
    QDir().mkpath(dir);
    const QString script = QString("set -e; cd '%1'; %2; mv -f .partial-%3 %3").arg(dir, steps.join("; "), name);
    QProcess process;
    process.start("bash", {"-c", script});
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return QString();
    return path;
}

QString numberedPicture(int first, int width, int height)
{
    return QString("scale=12:2:flags=neighbor,geq=lum='if(mod(floor((N+%1)/pow(2\\,X))\\,2)\\,235\\,96)'"
                   ":cb=128:cr=128,scale=%2:%3:flags=neighbor")
        .arg(first).arg(width).arg(height);
}

TEST(DecoderDecode, APictureOfAnotherSizeIsScaledToTheOpenedSize)
{
    // 50 pictures at 320x240, then 50 at 160x120 numbered on from 50.
    const QString ff = "ffmpeg -nostdin -loglevel error -y -f lavfi -i color=c=black:s=12x2:r=25:d=2";
    const QString path = generatedClip(
        "resolution_change.ts",
        {QString("%1 -vf \"%2\" -c:v mpeg2video -q:v 4 -g 25 -bf 0 -f mpegts rc_a.ts").arg(ff, numberedPicture(0, 320, 240)),
         QString("%1 -vf \"%2\" -c:v mpeg2video -q:v 4 -g 25 -bf 0 -f mpegts rc_b.ts").arg(ff, numberedPicture(50, 160, 120)),
         "printf \"file 'rc_a.ts'\\nfile 'rc_b.ts'\\n\" > rc_list.txt",
         "ffmpeg -nostdin -loglevel error -y -f concat -safe 0 -i rc_list.txt -c copy -f mpegts .partial-resolution_change.ts",
         "rm -f rc_a.ts rc_b.ts rc_list.txt"});
    ASSERT_FALSE(path.isEmpty());
    DecoderAgent decoder(nullptr, fast(EngineOptions::seekmark()));
    ASSERT_TRUE(decoder.open(path));
    ASSERT_EQ(decoder.videoWidth(), 320);
    const Decoded decoded = decodeAll(decoder, 100);
    int small = 0;
    int last = -1;
    for (const Picture &p : decoded.pictures) {
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
    expectCompleteAndTimed(decoded, {"two_of_each.mkv", 200, 25}, "seekmark");
    EXPECT_NEAR(decoded.audioSamples / 2.0 / 48000.0, 8.0, 0.1);
}

// Collects the warnings that reach Qt's message output.
QStringList *g_Warnings = nullptr;
void collectWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (g_Warnings && type >= QtWarningMsg)
        g_Warnings->append(message);
}

TEST(DecoderDecode, LogLinesOnlyThroughTheChannelsOfTheSeekmarkForm)
{
    QStringList warnings;
    g_Warnings = &warnings;
    const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
    {
        DecoderAgent decoder(nullptr, fast(EngineOptions::seekmark()));
        ASSERT_TRUE(decoder.open(testsupport::clipPath("subtitles.mkv")));
        decodeAll(decoder, 200);
    }
    const int seekmarkLines = warnings.filter("bad free packet").size();
    const bool withLocation = !warnings.filter("./decoderagent").isEmpty();
    warnings.clear();
    {
        DecoderAgent decoder(nullptr, fast(EngineOptions::framewise()));
        ASSERT_TRUE(decoder.open(testsupport::clipPath("subtitles.mkv")));
        decodeAll(decoder, 200);
    }
    qInstallMessageHandler(previous);
    g_Warnings = nullptr;
    EXPECT_EQ(seekmarkLines, 4);   // one per subtitle cue
    EXPECT_TRUE(withLocation);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

} // namespace
