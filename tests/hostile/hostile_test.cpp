// Every file of the hostile corpus through both forms of the engine: seekmark's (an FFMpegVideo
// reading through the file driver) and framewise's (a decoder opening the file by path). Each
// either refuses the file with a reason that names the problem, or plays what can be decoded to
// the end; nothing crashes, hangs or takes gigabytes of memory on the way. Then files that change
// under the player while it plays.
#include "hostilesupport.h"

#include "access/ffmpegvideo.h"
#include "seekmark/player.h"
#include "tests/common/messagelog.h"
#include "tests/common/testclips.h"
#include "tests/engine/enginetestsupport.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <iostream>
#include <set>
#include <string>
#include <vector>

namespace {

using hostile::PlayResult;
using testsupport::MessageLog;

struct HostileCase {
    std::string file;
    int minPictures;   // both forms play at least this many; -1: refused, 0: either, done cleanly
    std::string why;   // refused: the reason contains one of these ('|'-separated)
};

void PrintTo(const HostileCase &c, std::ostream *os) { *os << c.file; }

const std::string kNotMedia = "not a readable media file|no stream information found";

// What the generator makes of the clip corpus, and what each file must do.
std::vector<HostileCase> cases()
{
    std::vector<HostileCase> all;
    // Every corpus clip cut at 10, 50 and 90 %: a playable start is left, except where the 10 %
    // cut takes an MP4's index (at its start) or the clip has no playable video at all.
    for (const char *clip : {"h264_long.mp4", "vp9_opus.mkv", "h264_aac.mp4", "h264_nobframes.mkv", "mpeg2_mp2.mpg",
                             "h264_noaudio.mp4", "audio_only.m4a", "surround51.mp4", "odd_321x241.mkv",
                             "subtitles.mkv", "ts_offset10.ts", "h264_60fps.mp4", "vfr.mkv", "no_decoder.mkv"}) {
        const std::string name(clip);
        const std::string stem = name.substr(0, name.rfind('.')), ext = name.substr(name.rfind('.'));
        for (const char *percent : {"10", "50", "90"}) {
            const std::string file = stem + ".cut" + percent + ext;
            if (stem == "audio_only" || stem == "no_decoder")
                all.push_back({file, -1, (stem == "no_decoder" ? "no decoder for the video codec|" : "no video stream|") + kNotMedia});
            else if (percent == std::string("10") && (stem == "h264_noaudio" || stem == "h264_60fps"))
                all.push_back({file, -1, kNotMedia});
            else
                all.push_back({file, 1, ""});
        }
    }
    // Bytes changed in the payload (decoders conceal what they can) and in the headers.
    for (const char *clip : {"h264_aac.mp4", "h264_nobframes.mkv", "mpeg2_mp2.mpg", "vp9_opus.mkv", "ts_offset10.ts",
                             "odd_321x241.mkv", "surround51.mp4", "vfr.mkv"}) {
        const std::string name(clip);
        for (const char *flips : {".flip40", ".flip2000"})
            all.push_back({name.substr(0, name.rfind('.')) + flips + name.substr(name.rfind('.')), 0, ""});
    }
    const HostileCase odd[] = {
        {"h264_long.flip5000.mp4", 0, ""},
        {"h264_aac.header.mp4", 0, ""},
        {"h264_nobframes.header.mkv", 0, ""},
        {"empty.mp4", -1, "the file is empty|" + kNotMedia},
        {"empty.mkv", -1, "the file is empty|" + kNotMedia},
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
        {"audio_no_decoder.mkv", -1, "no decoder for the audio codec"},
        {"attachment.mkv", 190, ""},
        {"timecode_track.mp4", 190, ""},
        {"data_stream.ts", 190, ""},
        {"no_timestamps.mpg", 150, ""},
    };
    all.insert(all.end(), std::begin(odd), std::end(odd));
    return all;
}

std::string describe(const PlayResult &r)
{
    if (!r.opened)
        return "refused: " + r.error.toStdString();
    return "played " + std::to_string(r.pictures) + " pictures (" + std::to_string(r.picturesAfterSeeks)
        + " more after " + std::to_string(r.seeksPlayed) + " seeks)" + (r.timedOut ? ", TIMED OUT" : "");
}

class HostileFiles : public ::testing::TestWithParam<HostileCase> {
protected:
    // Damaged streams make FFmpeg report every broken macroblock; the test checks outcomes.
    static void SetUpTestSuite()
    {
        if (!qEnvironmentVariableIsSet("HOSTILE_FFMPEG_LOG"))
            av_log_set_level(AV_LOG_FATAL);
    }
    static void TearDownTestSuite() { av_log_set_level(AV_LOG_INFO); }
};

TEST_P(HostileFiles, RefusedWithAReasonOrPlayedToTheEnd)
{
    const HostileCase &c = GetParam();
    const QString path = hostile::corpusPath(QString::fromStdString(c.file));
    ASSERT_TRUE(QFileInfo::exists(path)) << "not generated: " << path.toStdString();
    const bool measurePeak = testsupport::slowdown() == 1 && hostile::resetPeak();
    const qint64 before = hostile::residentBytes();

    // Seekmark's form ends by itself at videoEnd(); a few seeks after it, each played to the end
    // again, try the damaged file's index and time stamps.
    hostile::SeekmarkRun run;
    run.seeksAfterEnd = 3;
    const PlayResult seekmark = hostile::playSeekmarkForm(path, 30000, run);
    // Framewise's form keeps polling at the end: it is done with as many pictures as the other form
    // decoded from the same bytes, or when none has come for a while.
    const PlayResult framewise = hostile::playFramewiseForm(path, 30000, seekmark.pictures, 1000);
    std::cout << "[ hostile  ] " << c.file << ": seekmark " << describe(seekmark) << "; framewise "
              << describe(framewise) << std::endl;

    EXPECT_FALSE(seekmark.timedOut) << "seekmark form did not reach the end";
    EXPECT_FALSE(framewise.timedOut) << "framewise form did not stop delivering pictures";
    // The same bytes, read through the program's own I/O or by libavformat itself.
    EXPECT_EQ(seekmark.opened, framewise.opened) << "the two forms disagree";
    if (seekmark.opened) {
        EXPECT_TRUE(seekmark.ended) << "seekmark form: no videoEnd";
        EXPECT_EQ(seekmark.seeksPlayed, 3) << "seekmark form: a seek after the end did not play to the end";
    }
    // A form that refuses must say what is wrong, and the reason must be one the case allows.
    for (const PlayResult *r : {&seekmark, &framewise}) {
        if (r->opened)
            continue;
        EXPECT_FALSE(r->error.trimmed().isEmpty() || r->error.contains(QLatin1String("could not open the input")))
            << "refused without a specific reason: " << r->error.toStdString();
        bool named = c.minPictures >= 0;
        for (const QString &why : QString::fromStdString(c.why).split(QLatin1Char('|'), Qt::SkipEmptyParts))
            named = named || r->error.contains(why);
        EXPECT_TRUE(named) << r->error.toStdString();
    }
    if (c.minPictures != 0) {
        EXPECT_EQ(seekmark.opened, c.minPictures > 0) << seekmark.error.toStdString();
        EXPECT_GE(seekmark.pictures, c.minPictures);
        EXPECT_GE(framewise.pictures, c.minPictures);
    }
    if (measurePeak) {
        // Far above what a 640 x 480 clip needs, far below what a 16000 x 16000 picture costs.
        const qint64 growth = hostile::peakResidentBytes() - before;
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
    std::set<std::string> known;
    for (const HostileCase &c : cases())
        known.insert(c.file);
    std::set<std::string> generated;
    for (const QString &file : QDir(hostile::corpusPath(QString())).entryList(QDir::Files))
        if (file != QLatin1String("hostile.stamp"))
            generated.insert(file.toStdString());
    EXPECT_EQ(generated, known);
}

// A seek that the input cannot do (no time stamps, no index) leaves reading where it was; the log
// says so, where a clip that can seek stays silent.
TEST(HostileSeeks, ASeekTheInputCannotDoIsLogged)
{
    testsupport::useDummyAudio();
    EngineOptions options = testsupport::fastSeekmark();
    options.logChannels = true;
    for (const auto &[path, failedLines] : {std::pair{hostile::corpusPath("no_timestamps.mpg"), 1},
                                            std::pair{testsupport::clipPath("mpeg2_mp2.mpg"), 0}}) {
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
// cleaned up) or removed while it plays. Playback ends as at the end of the input, and the driver
// logs which read came back short. h264_long.mp4: 40 s, 1000 pictures.
class FileFault : public ::testing::Test {
protected:
    void SetUp() override { copyClip(); }
    void copyClip()
    {
        ASSERT_TRUE(m_Dir.isValid());
        ASSERT_TRUE(QFile::copy(testsupport::clipPath(QStringLiteral("h264_long.mp4")), m_Path));
    }

    QTemporaryDir m_Dir;
    const QString m_Path = m_Dir.filePath(QStringLiteral("playing.mp4"));
    const qint64 m_Size = QFileInfo(testsupport::clipPath(QStringLiteral("h264_long.mp4"))).size();
};

TEST_F(FileFault, PlaybackEndsAsAtTheEndAndTheShortReadIsLogged)
{
    // Linux keeps a removed file readable while it is open: that clip plays to its end, unreported.
    for (const bool remove : {false, true}) {
        SCOPED_TRACE(remove ? "removed" : "cut to half its size");
        if (!QFile::exists(m_Path))
            copyClip();
        MessageLog log;
        hostile::SeekmarkRun run;
        // The fault comes while the worker waits on full queues with the rest of the file unread.
        run.waitForFullQueue = true;
        run.duringPlay = [&] { ASSERT_TRUE(remove ? QFile::remove(m_Path) : QFile::resize(m_Path, m_Size / 2)); };
        const PlayResult r = hostile::playSeekmarkForm(m_Path, 60000, run);
        ASSERT_TRUE(r.opened) << r.error.toStdString();
        EXPECT_FALSE(r.timedOut);
        EXPECT_TRUE(r.ended) << "no videoEnd after the fault";
        EXPECT_GE(r.pictures, remove ? 990 : 100);
        EXPECT_LE(r.pictures, remove ? 1000 : 900);
        const QString shortRead = QStringLiteral("the file was %1 bytes and is now %2").arg(m_Size).arg(m_Size / 2);
        EXPECT_EQ(log.lines().filter(QStringLiteral("short read at offset")).size() > 0, !remove);
        EXPECT_TRUE(remove || log.contains(shortRead)) << log.lines().join('\n').toStdString();
        QFile::remove(m_Path);
    }
}

bool hasRed(const QImage &image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x) {
            const QColor c = rgb.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 60 && c.blue() < 60)
                return true;
        }
    return false;
}

// The driver's report reaches the file access view, which says so in red.
TEST_F(FileFault, TheAccessViewSaysThatTheFileWasCutShort)
{
    if (!hostile::hasDisplay())
        GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    const std::unique_ptr<Player> player = hostile::showPlayer(m_Path, m_Dir.filePath(QStringLiteral("report.txt")));
    ASSERT_TRUE(testsupport::waitFor([&] { return player->picturesShown() > 0; }, 20000));
    EXPECT_TRUE(player->accessView().book().snapshot().failureText().isEmpty());

    ASSERT_TRUE(QFile::resize(m_Path, 0));
    auto *video = qobject_cast<FFMpegVideo *>(player->video());
    ASSERT_TRUE(video && video->agent());
    // What was read before plays out; then the decoder stops as at the end of the clip.
    EXPECT_TRUE(testsupport::waitFor([&] { return video->agent()->isStopped(); }, 30000))
        << "playback did not end after the file was cut";
    const QString failure = player->accessView().book().snapshot().failureText();
    EXPECT_TRUE(failure.startsWith(QStringLiteral("READ FAILED ")) && failure.contains(QStringLiteral(" of ")))
        << failure.toStdString();
    QTest::qWait(100);   // the queued repaint
    EXPECT_TRUE(hasRed(player->accessView().grab().toImage())) << "the view does not show the failure";
}

} // namespace
