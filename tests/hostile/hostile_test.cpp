// Hostile inputs, faults and stress. Built twice. hostile_tests (no window, so it also runs in the
// ThreadSanitizer build and beside other tests): every file of the hostile corpus played as
// seekmark plays it, refused with a reason that names the problem or played to the end and again
// after seeks made at its end, without crashing, hanging or taking gigabytes; a file cut or
// removed while it plays; a storm at the engine after clips were opened and closed a hundred times.
// hostile_window_tests (HOSTILE_WINDOWS, takes the display): a storm on the seekmark window.
#include "access/ffmpegvideo.h"
#include "access/filevideodriver.h"
#include "access/videoengine.h"
#include "seekmark/player.h"
#include "tests/common/enginerun.h"
#include "tests/common/messagelog.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstring>
#include <map>
#include <regex>
#include <random>
#include <unistd.h>

namespace {

using namespace testsupport;

// 40 s, 1000 pictures, a keyframe every second, with sound.
const QString kLong = clipPath(QStringLiteral("h264_long.mp4"));

// Ends the process with a message on stderr when the thread that made it stops processing events
// for longer than the limit: a thread that hangs in FFmpeg or on a lock cannot fail its own test,
// and ctest's timeout would not say where it hung. One at a time: SIGALRM is the process's.
class Watchdog {
public:
    explicit Watchdog(const QString &what)
    {
        qstrncpy(s_What, what.toUtf8().constData(), sizeof s_What);
        std::signal(SIGALRM, [](int) {
            (void)!write(2, "\nWATCHDOG: no progress while ", 29);
            (void)!write(2, s_What, strlen(s_What));
            std::abort();
        });
        QObject::connect(&m_Timer, &QTimer::timeout, [] { alarm(20 * slowdown()); });
        alarm(20 * slowdown());
        m_Timer.start(50);
    }
    ~Watchdog() { alarm(0); }

private:
    QTimer m_Timer;
    static inline char s_What[200];
};

#ifndef HOSTILE_WINDOWS

// A line of /proc/self/status in bytes: "VmRSS:" resident memory now, "VmHWM:" the most since
// the peak was reset (writing "5" to clear_refs; false where the kernel cannot).
qint64 statusBytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(strlen(field))).trimmed().split(' ').value(0).toLongLong() * 1024;
    return -1;
}
bool resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

struct PlayResult {
    bool opened = false;
    QString error;        // why it did not open
    int pictures = 0;     // until the end, before any seek after it
    bool timedOut = false;
    int seeksPlayed = 0;  // seeks after the end that played to the end again
};

// An FFMpegVideo on "file://" + path through a FileVideoDriver, played until videoEnd() taking
// every picture and sound block as it comes. duringPlay runs once the worker has stopped reading
// because a queue is full. Then each of seeksAfterEnd seeks (to seeded seconds in the second half
// of the clip and beyond its end) is played to the end again.
PlayResult play(const QString &path, int seeksAfterEnd, const std::function<void()> &duringPlay = {})
{
    useDummyAudio();
    PlayResult result;
    VideoEngine engine;
    FileVideoDriver driver;
    engine.registerDriver(QStringLiteral("file"), &driver);
    Watchdog dog(QStringLiteral("playing ") + path);
    auto video = std::make_unique<FFMpegVideo>(&engine, QStringLiteral("file://") + path, nullptr, fastSeekmark());
    result.opened = video->open();
    result.error = video->errorString();
    bool ended = false;
    QObject::connect(video.get(), &Video::videoEnd, [&ended] { ended = true; });
    DecoderAgent *agent = video->agent();
    QDeadlineTimer deadline(60000 * slowdown());
    std::mt19937 rng(qHash(QFileInfo(path).fileName()));
    for (int seek = 0; result.opened && seek <= seeksAfterEnd && !result.timedOut; ++seek) {
        if (seek > 0)   // the second half and a little beyond the end; an unknown length near the start
            video->seek(video->duration() > 0 ? int(video->duration() / 2 + rng() % (video->duration() / 2 + 3))
                                              : int(rng() % 4));
        ended = false;
        video->play();
        bool queueFull = false;
        while (!(ended && agent->isStopped()) && !(result.timedOut = deadline.hasExpired())) {
            if (duringPlay && !queueFull && (agent->videoAgent()->pictures().count() >= VideoAgent::queueCapacity
                                              || agent->audioQueue().count() >= DecoderAgent::audioQueueCapacity)) {
                duringPlay();
                queueFull = true;
            }
            result.pictures += (seek == 0 ? 1 : 0) * (!duringPlay || queueFull ? takeQueued(*agent) : 0);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
        result.pictures += seek == 0 ? takeQueued(*agent) : 0;
        result.seeksPlayed += seek > 0 && !result.timedOut ? 1 : 0;
    }
    return result;
}

struct HostileCase {
    std::string file;
    int minPictures;   // played at least this many; -1: refused, 0: either, done cleanly
    std::string why;   // refused: the reason contains one of these ('|'-separated)
};

void PrintTo(const HostileCase &c, std::ostream *os) { *os << c.file; }

const std::string kNotMedia = "not a readable media file|no stream information found";

// Every file the generator made, with what it must do. A file without a row here is expected to be
// refused for no reason at all, which fails: a new kind of hostile file needs its row.
std::vector<HostileCase> cases()
{
    const std::map<std::string, std::pair<int, std::string>> rows = {
        {"empty.mp4", {-1, "the file is empty"}}, {"empty.mkv", {-1, "the file is empty"}},
        {"one_byte.mkv", {-1, kNotMedia}}, {"random.mp4", {-1, kNotMedia}}, {"random.mkv", {-1, kNotMedia}},
        // Noise can pass for an MPEG-TS with a video stream of no known size.
        {"random.ts", {-1, "not a readable media file|no picture size"}},
        {"index_at_end.cut90.mp4", {-1, kNotMedia}},
        // Both halves are shown, the second scaled to the size the clip opened with.
        {"resize_up.ts", {90, ""}}, {"resize_down.ts", {90, ""}},
        // The first half plays; the decoder refuses the 16000 x 16000 pictures of the second.
        {"resize_to_16000x16000.ts", {40, ""}},
        {"sps_16000x16000.h264", {-1, "too large"}},
        {"sps_32768x32768.h264", {-1, "no picture size|not a readable media file|too large"}},
        {"rawvideo_16000x16000.mkv", {-1, "too large"}},
        // The stream's own size overrides the container's claim.
        {"h264_declared_16000_wide.mkv", {190, ""}},
        {"audio_only.mp3", {-1, "no video stream"}},
        {"video_no_decoder.mkv", {-1, "no decoder for the video codec"}},
        {"audio_no_decoder.mkv", {1, ""}},   // the picture alone
        {"attachment.mkv", {190, ""}}, {"timecode_track.mp4", {190, ""}}, {"data_stream.ts", {190, ""}},
        {"no_timestamps.mpg", {150, ""}},
    };
    // Corpus clips cut at 10, 50 and 90 %: a playable start is left, except where the 10 % cut
    // takes an MP4's index (at its start) or the clip has no playable video at all. The one-second
    // clips made for the picture tests must at least end cleanly.
    const std::regex oneSecond("(colour|bands|square|redblue)_.*");
    std::vector<HostileCase> all;
    for (const QString &entry : QDir(QStringLiteral(HOSTILE_DIR)).entryList(QDir::Files)) {
        const std::string file = entry.toStdString(), extension = file.substr(file.rfind('.'));
        const size_t cut = file.find(".cut");
        const std::string clip = file.substr(0, cut) + extension;
        if (file == "hostile.stamp")
            continue;
        if (rows.count(file))
            all.push_back({file, rows.at(file).first, rows.at(file).second});
        else if (std::regex_search(file, std::regex("\\.flip|header")))   // bytes changed: decoders conceal what they can
            all.push_back({file, 0, ""});
        else if (cut == std::string::npos)
            all.push_back({file, -1, ""});
        else if (clip == "audio_only.m4a" || clip == "no_decoder.mkv")
            all.push_back({file, -1, (clip == "no_decoder.mkv" ? "no decoder for the video codec|" : "no video stream|") + kNotMedia});
        else
            all.push_back({file, std::regex_match(clip, oneSecond) ? 0 : file.find(".cut10.") != std::string::npos && (clip == "h264_noaudio.mp4" || clip == "h264_60fps.mp4") ? -1 : 1, kNotMedia});
    }
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
    const bool measurePeak = slowdown() == 1 && resetPeak();
    const qint64 before = statusBytes("VmRSS:");
    // A few seeks after the end, each played to the end again, try the file's index and stamps.
    const PlayResult r = play(QStringLiteral(HOSTILE_DIR "/") + QString::fromStdString(c.file), 3);
    EXPECT_FALSE(r.timedOut) << "did not reach the end";
    EXPECT_EQ(r.seeksPlayed, r.opened ? 3 : 0) << "a seek after the end did not play to the end";
    EXPECT_TRUE(c.minPictures == 0 || (r.opened == (c.minPictures > 0) && r.pictures >= c.minPictures))
        << r.pictures << " pictures, " << r.error.toStdString();
    bool named = c.minPictures == 0;
    for (const QString &why : QString::fromStdString(c.why).split(QLatin1Char('|'), Qt::SkipEmptyParts))
        named = named || r.error.contains(why);
    EXPECT_TRUE(r.opened || (named && !r.error.contains(QLatin1String("could not open the input")) && !r.error.trimmed().isEmpty()))
        << "refused, but not for a specific expected reason: " << r.error.toStdString();
    // Far above what a 640 x 480 clip needs, far below what a 16000 x 16000 picture costs.
    const qint64 growth = statusBytes("VmHWM:") - before;
    EXPECT_TRUE(!measurePeak || growth < qint64(1) << 30) << "peak memory grew by " << growth / (1 << 20) << " MiB";
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileFiles, ::testing::ValuesIn(cases()), [](const auto &info) {
    std::string name = info.param.file;
    std::replace_if(name.begin(), name.end(), [](char ch) { return !isalnum(static_cast<unsigned char>(ch)); }, '_');
    return name;
});

// A clip whose file changes under the player: cut short (a download or capture restarted, a disk
// cleaned up) or removed while it plays. Playback ends as at the end of the input and the driver
// logs which read came back short; Linux keeps a removed file readable while it is open, so that
// clip plays to its end, unreported.
TEST(FileFault, PlaybackEndsAsAtTheEndAndTheShortReadIsLogged)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("playing.mp4"));
    const qint64 size = QFileInfo(kLong).size();
    for (const bool remove : {false, true}) {
        SCOPED_TRACE(remove ? "removed" : "cut to half its size");
        ASSERT_TRUE(QFile::copy(kLong, path));
        MessageLog log;
        // The fault comes while the worker waits on full queues with the rest of the file unread.
        const PlayResult r = play(path, 0, [&] { ASSERT_TRUE(remove ? QFile::remove(path) : QFile::resize(path, size / 2)); });
        ASSERT_TRUE(r.opened && !r.timedOut) << "no end after the fault " << r.error.toStdString();
        EXPECT_TRUE(remove ? r.pictures >= 990 && r.pictures <= 1000 : r.pictures >= 100 && r.pictures <= 900) << r.pictures;
        EXPECT_EQ(log.contains(QStringLiteral("short read at offset")), !remove);
        EXPECT_TRUE(remove || log.contains(QStringLiteral("the file was %1 bytes and is now %2").arg(size).arg(size / 2)))
            << log.lines().join('\n').toStdString();
        QFile::remove(path);
    }
}

// Runs the display side of a decoder for ms milliseconds, a picture request every few
// milliseconds as the player's tick would; returns how many new pictures came.
int display(DecoderAgent &decoder, int ms)
{
    int pictures = 0;
    PixelPacket *last = nullptr;
    for (QDeadlineTimer until(ms); !until.hasExpired(); QThread::msleep(2)) {
        PixelPacket *p = decoder.nextPicture();
        pictures += p && p != last ? 1 : 0;
        last = p ? p : last;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    return pictures;
}

// Clips opened, played a little and closed a hundred times, every tenth in the framewise form (by
// path): every descriptor opened is closed again and the memory settles (loose: the allocator
// keeps some). Then a person hammering the controls at the engine, 300 actions 10 to 50 ms apart.
// The watchdog fails the run when the thread stops processing events (a deadlock); afterwards a
// seek, also one from the end of input, must still be acknowledged and play on.
TEST(EngineStress, CyclesAndAStormLeaveNoFilesAndPlaybackResponding)
{
    useDummyAudio();
    VideoEngine engine;
    FileVideoDriver driver;
    engine.registerDriver(QStringLiteral("file"), &driver);
    Watchdog dog(QStringLiteral("open/close cycles and a storm at the engine"));
    const auto openFiles = [] { return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size(); };
    qsizetype filesBefore = 0;
    qint64 memoryBefore = 0;
    for (int i = 0; i < 110 && !HasFatalFailure(); ++i) {
        if (i == 10) {   // once the first cycles have set up what stays for the process's life
            filesBefore = openFiles();
            memoryBefore = statusBytes("VmRSS:");
        }
        FFMpegVideo video(&engine, "file://" + clipPath(QStringLiteral("h264_aac.mp4")), nullptr, fastSeekmark());
        DecoderAgent framewise(nullptr, fastFramewise());
        DecoderAgent *decoder = i % 10 ? (video.open() ? video.agent() : nullptr)
                                       : (framewise.open(clipPath(QStringLiteral("vp9_opus.mkv"))) ? &framewise : nullptr);
        ASSERT_TRUE(decoder && decoder->start());
        ASSERT_TRUE(waitFor([&] { return decoder->videoAgent()->pictures().count() >= 3; }, 20000));
    }
    EXPECT_EQ(openFiles(), filesBefore) << "descriptors left open";
    // The sanitizer's allocator holds freed memory back on purpose; its leak check covers that build.
    const qint64 growth = statusBytes("VmRSS:") - memoryBefore;
    EXPECT_TRUE(slowdown() > 1 || growth < 20 * 1024 * 1024) << "resident memory grew by " << growth / 1024 << " KiB";

    FFMpegVideo video(&engine, "file://" + kLong, nullptr, fastSeekmark());
    ASSERT_TRUE(video.open() && video.agent()->start());
    DecoderAgent *decoder = video.agent();
    int seekDones = 0;
    QObject::connect(decoder, &DecoderAgent::seekDone, &video, [&seekDones] { ++seekDones; });
    std::mt19937 rng(7654321);
    for (int i = 0; i < 300; ++i) {
        display(*decoder, 10 + rng() % 41);
        const unsigned action = rng() % 20;   // 3 pauses, 3 resumes, 14 seeks (past the end: the last keyframe)
        action < 3 ? decoder->pause() : action < 6 ? void(decoder->start()) : decoder->seek(rng() % 43);
        if (decoder->isStopped())   // the player restarts a decoder that stopped at the end of the clip
            decoder->start();
    }
    // Near the end the decoder reads to the end of input while its last pictures wait: a seek from
    // there must clear the end.
    decoder->seek(38);
    ASSERT_TRUE(waitFor([&] { return display(*decoder, 10) >= 0 && (decoder->isEof() || decoder->isStopped()); }, 20000))
        << "the decoder never reached the end of input";
    decoder->start();
    waitFor([] { return false; }, 500);   // the storm's last acknowledgements, still queued, arrive
    const int donesBefore = seekDones;
    decoder->seek(10);
    EXPECT_TRUE(waitFor([&] { return display(*decoder, 50) >= 0 && seekDones > donesBefore
                                     && decoder->positionMs() >= 9000 && decoder->positionMs() <= 14000; }, 20000))
        << "the clock stands at " << decoder->positionMs() << " ms";
    EXPECT_GT(display(*decoder, 1500), 3) << "no new pictures";
}

#else

// The seekmark window under a storm of keys and clicks: the watchdog fails the run on a deadlock,
// in the storm or in closing the window.
TEST(WindowStress, AStormAndClosingTheWindowDoNotDeadlock)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    QTemporaryDir dir;
    useDummyAudio();
    Player::Setup setup;
    setup.askForClip = false;
    setup.clip = kLong;
    setup.reportFile = dir.filePath(QStringLiteral("report.txt"));
    auto player = std::make_unique<Player>(setup);
    player->resize(400, 300);
    player->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(player.get(), 20000));
    ASSERT_TRUE(waitFor([&] { return player->picturesShown() > 0; }, 20000));
    Watchdog dog(QStringLiteral("storm on the seekmark window"));
    std::mt19937 rng(1234567);
    for (int i = 0; i < 300; ++i) {
        const unsigned action = rng() % 20;   // 3 pauses, 3 resumes, 13 clicks (seeks), a T (seek test runs)
        if (action >= 6 && action < 19)
            QTest::mouseClick(player.get(), Qt::RightButton, Qt::NoModifier, QPoint(rng() % player->width(), 150));
        else
            QTest::keyClick(player.get(), action < 3 ? Qt::Key_P : action < 6 ? Qt::Key_Space : Qt::Key_T);
        QTest::qWait(10 + rng() % 41);
    }
    player.reset();   // under the watchdog still
}

#endif

} // namespace
