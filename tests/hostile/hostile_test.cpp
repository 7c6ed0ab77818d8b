// Hostile inputs and stress without a window (so these also run in the ThreadSanitizer build and
// beside other tests). Every file of the hostile corpus played as seekmark plays it: refused with
// a reason that names the problem, or played to the end and again after seeks past it; nothing
// crashes, hangs or takes gigabytes of memory on the way. Files that change under the player while
// it plays. Storms at the engine, and clips opened and closed a hundred times.
#include "hostilesupport.h"

#include "tests/common/messagelog.h"
#include "tests/engine/enginetestsupport.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <QDir>
#include <QTemporaryDir>

#include <iostream>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace testsupport;
using namespace hostile;

struct HostileCase {
    std::string file;
    int minPictures;   // played at least this many; -1: refused, 0: either, done cleanly
    std::string why;   // refused: the reason contains one of these ('|'-separated)
};

void PrintTo(const HostileCase &c, std::ostream *os) { *os << c.file; }

const std::string kNotMedia = "not a readable media file|no stream information found";

// What the generator makes of the clip corpus, and what each file must do.
std::vector<HostileCase> cases()
{
    std::vector<HostileCase> all;
    const auto named = [](const std::string &clip, const std::string &middle) {
        return clip.substr(0, clip.rfind('.')) + middle + clip.substr(clip.rfind('.'));
    };
    // Every corpus clip cut at 10, 50 and 90 %: a playable start is left, except where the 10 %
    // cut takes an MP4's index (at its start) or the clip has no playable video at all. Clips made
    // for other tests and not named here must at least end cleanly.
    const std::set<std::string> plays = {"h264_long.mp4", "vp9_opus.mkv", "h264_aac.mp4", "h264_nobframes.mkv",
                                         "mpeg2_mp2.mpg", "h264_noaudio.mp4", "surround51.mp4", "odd_321x241.mkv",
                                         "subtitles.mkv", "ts_offset10.ts", "h264_60fps.mp4", "vfr.mkv",
                                         "shifted_setts.mkv", "sound_late.mp4", "sound_short60.ts", "sound_hole.mkv",
                                         "sound_coarse.mp4", "mpeg2_gop12.mpg", "no_audio_decoder.mkv"};
    for (const QString &entry : QDir(QStringLiteral(CLIPS_DIR)).entryList(QDir::Files)) {
        const std::string clip = entry.toStdString();
        if (clip == "corpus.stamp")
            continue;
        for (const std::string percent : {"10", "50", "90"}) {
            if (clip == "audio_only.m4a" || clip == "no_decoder.mkv")
                all.push_back({named(clip, ".cut" + percent), -1,
                               (clip == "no_decoder.mkv" ? "no decoder for the video codec|" : "no video stream|") + kNotMedia});
            else if (!plays.count(clip))
                all.push_back({named(clip, ".cut" + percent), 0, ""});
            else
                all.push_back({named(clip, ".cut" + percent),
                               percent == "10" && (clip == "h264_noaudio.mp4" || clip == "h264_60fps.mp4") ? -1 : 1, kNotMedia});
        }
    }
    // Bytes changed in the payload: decoders conceal what they can.
    for (const std::string clip : {"h264_aac.mp4", "h264_nobframes.mkv", "mpeg2_mp2.mpg", "vp9_opus.mkv",
                                   "ts_offset10.ts", "odd_321x241.mkv", "surround51.mp4", "vfr.mkv"})
        for (const char *flips : {".flip40", ".flip2000"})
            all.push_back({named(clip, flips), 0, ""});
    const HostileCase odd[] = {
        {"h264_long.flip5000.mp4", 0, ""},
        {"h264_aac.header.mp4", 0, ""},
        {"h264_nobframes.header.mkv", 0, ""},
        {"empty.mp4", -1, "the file is empty"},
        {"empty.mkv", -1, "the file is empty"},
        {"one_byte.mkv", -1, kNotMedia},
        {"random.mp4", -1, kNotMedia},
        {"random.mkv", -1, kNotMedia},
        // Noise can pass for an MPEG-TS with a video stream of no known size.
        {"random.ts", -1, "not a readable media file|no picture size"},
        {"random_after_header.mp4", 0, ""},
        {"random_after_header.mkv", 0, ""},
        {"index_at_end.cut90.mp4", -1, kNotMedia},
        // Both halves are shown, the second scaled to the size the clip opened with.
        {"resize_up.ts", 90, ""},
        {"resize_down.ts", 90, ""},
        // The first half plays; the decoder refuses the 16000 x 16000 pictures of the second.
        {"resize_to_16000x16000.ts", 40, ""},
        {"sps_16000x16000.h264", -1, "too large"},
        {"sps_32768x32768.h264", -1, "no picture size|not a readable media file|too large"},
        {"rawvideo_16000x16000.mkv", -1, "too large"},
        // The stream's own size overrides the container's claim.
        {"h264_declared_16000_wide.mkv", 190, ""},
        {"audio_only.mp3", -1, "no video stream"},
        {"video_no_decoder.mkv", -1, "no decoder for the video codec"},
        {"audio_no_decoder.mkv", 1, ""},   // the picture alone
        {"attachment.mkv", 190, ""},
        {"timecode_track.mp4", 190, ""},
        {"data_stream.ts", 190, ""},
        {"no_timestamps.mpg", 150, ""},
    };
    all.insert(all.end(), std::begin(odd), std::end(odd));
    return all;
}

class HostileFiles : public ::testing::TestWithParam<HostileCase> {
protected:
    // Damaged streams make FFmpeg report every broken macroblock; the test checks outcomes.
    static void SetUpTestSuite() { av_log_set_level(AV_LOG_FATAL); }
    static void TearDownTestSuite() { av_log_set_level(AV_LOG_INFO); }
};

TEST_P(HostileFiles, RefusedWithAReasonOrPlayedToTheEnd)
{
    const HostileCase &c = GetParam();
    const QString path = hostile::corpusPath(QString::fromStdString(c.file));
    ASSERT_TRUE(QFileInfo::exists(path)) << "not generated: " << path.toStdString();
    const bool measurePeak = slowdown() == 1 && hostile::resetPeak();
    const qint64 before = hostile::statusBytes("VmRSS:");
    // A few seeks after the end, each played to the end again, try the file's index and stamps.
    const hostile::PlayResult r = hostile::play(path, 3);
    std::cout << "[ hostile  ] " << c.file << ": " << (r.opened ? "played " : "refused: ") << r.pictures << " "
              << r.error.toStdString() << std::endl;
    EXPECT_FALSE(r.timedOut) << "did not reach the end";
    EXPECT_EQ(r.seeksPlayed, r.opened ? 3 : 0) << "a seek after the end did not play to the end";
    if (c.minPictures != 0) {
        EXPECT_EQ(r.opened, c.minPictures > 0) << r.error.toStdString();
        EXPECT_GE(r.pictures, c.minPictures);
    }
    if (!r.opened) {
        EXPECT_FALSE(r.error.trimmed().isEmpty() || r.error.contains(QLatin1String("could not open the input")))
            << "refused without a specific reason: " << r.error.toStdString();
        bool named = c.minPictures == 0;
        for (const QString &why : QString::fromStdString(c.why).split(QLatin1Char('|'), Qt::SkipEmptyParts))
            named = named || r.error.contains(why);
        EXPECT_TRUE(named) << "refused, but not for the expected reason: " << r.error.toStdString();
    }
    if (measurePeak) {
        // Far above what a 640 x 480 clip needs, far below what a 16000 x 16000 picture costs.
        const qint64 growth = hostile::statusBytes("VmHWM:") - before;
        EXPECT_LT(growth, qint64(1) << 30) << "peak memory grew by " << growth / (1 << 20) << " MiB";
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileFiles, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<HostileCase> &info) {
                             std::string name = info.param.file;
                             for (char &ch : name)
                                 ch = isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             return name;
                         });

TEST(HostileCorpus, EveryGeneratedFileHasAnExpectation)
{
    std::set<std::string> known, generated;
    for (const HostileCase &c : cases())
        known.insert(c.file);
    for (const QString &file : QDir(hostile::corpusPath(QString())).entryList(QDir::Files))
        generated.insert(file.toStdString());
    generated.erase("hostile.stamp");
    EXPECT_EQ(generated, known);
}

// A seek that the input cannot do (no time stamps, no index) leaves reading where it was; the log
// says so, where a clip that can seek stays silent.
TEST(HostileSeeks, ASeekTheInputCannotDoIsLogged)
{
    useDummyAudio();
    EngineOptions options = fastSeekmark();
    options.logChannels = true;
    for (const auto &[path, failedLines] : {std::pair{hostile::corpusPath("no_timestamps.mpg"), 1},
                                            std::pair{clipPath("mpeg2_mp2.mpg"), 0}}) {
        SCOPED_TRACE(path.toStdString());
        MessageLog log;
        enginetest::FileByteSource source(path);
        DecoderAgent decoder(&source, options);
        ASSERT_TRUE(decoder.open()) << decoder.openError().toStdString();
        decoder.seek(3);
        EXPECT_EQ(log.lines().filter(QStringLiteral("seek to 3 s failed")).size(), failedLines);
    }
}

// A clip whose file changes under the player: cut short (a download or capture restarted, a disk
// cleaned up) or removed while it plays. Playback ends as at the end of the input, the driver
// logs which read came back short (window_test.cpp: the file access view says so in red).
class FileFault : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_Dir.isValid() && QFile::copy(m_Clip, m_Path)); }

    const QString m_Clip = hostile::longClip();
    QTemporaryDir m_Dir;
    const QString m_Path = m_Dir.filePath(QStringLiteral("playing.mp4"));
    const qint64 m_Size = QFileInfo(m_Clip).size();
};

TEST_F(FileFault, PlaybackEndsAsAtTheEndAndTheShortReadIsLogged)
{
    // Linux keeps a removed file readable while it is open: that clip plays to its end, unreported.
    for (const bool remove : {false, true}) {
        SCOPED_TRACE(remove ? "removed" : "cut to half its size");
        ASSERT_TRUE(QFile::exists(m_Path) || QFile::copy(m_Clip, m_Path));
        MessageLog log;
        // The fault comes while the worker waits on full queues with the rest of the file unread.
        const hostile::PlayResult r = hostile::play(m_Path, 0, [&] {
            ASSERT_TRUE(remove ? QFile::remove(m_Path) : QFile::resize(m_Path, m_Size / 2));
        });
        ASSERT_TRUE(r.opened) << r.error.toStdString();
        EXPECT_FALSE(r.timedOut) << "no end after the fault";
        EXPECT_GE(r.pictures, remove ? 990 : 100);
        EXPECT_LE(r.pictures, remove ? 1000 : 900);
        EXPECT_EQ(log.lines().filter(QStringLiteral("short read at offset")).size() > 0, !remove);
        EXPECT_TRUE(remove || log.contains(QStringLiteral("the file was %1 bytes and is now %2").arg(m_Size).arg(m_Size / 2)))
            << log.lines().join('\n').toStdString();
        QFile::remove(m_Path);
    }
}

// A person hammering the controls at the engine (the window and the framewise program take theirs
// in window_test.cpp), and clips opened and closed a hundred times. A watchdog fails the run when
// the thread stops processing events (a deadlock); afterwards playback must still respond, and the
// process must hold no more files and not much more memory than before.

// Runs the display side of a decoder for ms milliseconds, a picture request every few
// milliseconds as the player's tick would; returns how many new pictures came.
int display(DecoderAgent &decoder, int ms)
{
    int pictures = 0;
    PixelPacket *last = nullptr;
    QDeadlineTimer until(ms);
    do {
        PixelPacket *p = decoder.nextPicture();
        pictures += p && p != last ? 1 : 0;
        last = p ? p : last;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        QThread::msleep(2);
    } while (!until.hasExpired());
    return pictures;
}

// Without a display this is the storm the ThreadSanitizer build sees.
TEST(EngineStress, AStormLeavesPlaybackResponding)
{
    useDummyAudio();
    enginetest::FileByteSource source(hostile::longClip());
    EngineOptions options = EngineOptions::seekmark();
    options.logChannels = false;   // hundreds of seeks would print thousands of lines
    auto decoder = std::make_unique<DecoderAgent>(&source, options);
    ASSERT_TRUE(decoder->open()) << decoder->openError().toStdString();
    int seekDones = 0;
    int seeks = 0;
    QObject gui;   // the acknowledgements are counted on this thread, as the player does
    QObject::connect(decoder.get(), &DecoderAgent::seekDone, &gui, [&seekDones] { ++seekDones; });
    ASSERT_TRUE(decoder->start());
    std::mt19937 rng(7654321);
    {
        Heartbeat beat(QStringLiteral("storm at the engine"), 10000);
        for (int i = 0; i < kStormEvents; ++i) {
            display(*decoder, 10 + rng() % 41);
            switch (draw(rng)) {
            case Action::Pause: decoder->pause(); break;
            case Action::Resume: decoder->start(); break;
            default: decoder->seek(rng() % 43); ++seeks;   // past the end lands on the last keyframe
            }
            // The player restarts a decoder that stopped at the end of the clip.
            if (decoder->isStopped())
                decoder->start();
        }
    }
    EXPECT_LE(seekDones, seeks) << "a seek was acknowledged more than once";
    EXPECT_LE(decoder->audioQueue().count(), DecoderAgent::audioQueueCapacity);

    // A seek to 10 s: within seconds it is acknowledged, the clock runs near 10 s, pictures come.
    Heartbeat beat(QStringLiteral("checking that playback goes on"), 20000);
    decoder->start();
    enginetest::settle(500);   // the storm's last acknowledgements, still queued, arrive
    const int donesBefore = seekDones;
    decoder->seek(10);
    EXPECT_TRUE(waitFor(
        [&] {
            display(*decoder, 50);
            return seekDones > donesBefore && decoder->positionMs() >= 9000 && decoder->positionMs() <= 14000;
        },
        20000))
        << "the clock stands at " << decoder->positionMs() << " ms";
    const qint64 from = decoder->positionMs();
    EXPECT_GT(display(*decoder, 1500), 3) << "no new pictures";
    EXPECT_GT(decoder->positionMs(), from) << "the clock does not move";
}

// Open, play a few pictures, close; a hundred times, every tenth also in the framewise form. Every
// descriptor opened is closed again and the memory settles (loose: the allocator keeps some).
TEST(OpenCloseCycles, NoFilesOrMemoryAreLeft)
{
    useDummyAudio();
    VideoEngine engine;
    FileVideoDriver driver;
    engine.registerDriver(QStringLiteral("file"), &driver);
    int filesBefore = 0;
    qint64 memoryBefore = 0;
    for (int i = 0; i < 110 && !::testing::Test::HasFatalFailure(); ++i) {
        if (i == 10) {   // once the first cycles have set up what stays for the process's life
            filesBefore = hostile::openFileCount();
            memoryBefore = hostile::statusBytes("VmRSS:");
        }
        hostile::Watchdog dog(QStringLiteral("open/close cycle %1").arg(i), 20000);
        {
            FFMpegVideo video(&engine, "file://" + clipPath(QStringLiteral("h264_aac.mp4")), nullptr, fastSeekmark());
            ASSERT_TRUE(video.open()) << video.errorString().toStdString();
            video.play();
            int pictures = 0;
            ASSERT_TRUE(waitFor([&] { return (pictures += takeQueued(*video.agent())) >= 3; }, 20000));
        }
        if (i % 10 == 0) {
            DecoderAgent decoder(nullptr, fastFramewise());
            ASSERT_TRUE(decoder.open(clipPath(QStringLiteral("vp9_opus.mkv")))) << decoder.openError().toStdString();
            decoder.start();
            ASSERT_TRUE(waitFor([&] { return decoder.videoAgent()->pictures().count() >= 3; }, 20000));
            decoder.stop();
        }
    }
    EXPECT_EQ(hostile::openFileCount(), filesBefore) << "descriptors left open";
    // The sanitizer's allocator holds freed memory back on purpose; its leak check covers that build.
    const qint64 growth = hostile::statusBytes("VmRSS:") - memoryBefore;
    EXPECT_TRUE(slowdown() > 1 || growth < 20 * 1024 * 1024) << "resident memory grew by " << growth / 1024 << " KiB";
}

} // namespace
