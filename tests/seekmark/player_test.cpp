// The seekmark window in process, on real parts: real clips decoded by FFmpeg, sound through SDL's
// dummy or disk driver, pictures through GL under Xvfb read back from the framebuffer. The clip and
// the report file are chosen by the test instead of the open dialog.
#include "seekmark/player.h"

#include "access/ffmpegvideo.h"
#include "access/video.h"
#include "engine/decoderagent.h"
#include "platform/paths.h"
#include "seekmark/seekrow.h"
#include "tests/common/framenumber.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <ostream>

namespace {

bool haveGui()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

// Collects the program's debug and warning lines (from any thread) while alive, instead of
// printing them; the per-tick lines are left out.
class MessageLog {
public:
    MessageLog() { s_Previous = qInstallMessageHandler(&MessageLog::handler); }
    ~MessageLog()
    {
        qInstallMessageHandler(s_Previous);
        QMutexLocker lock(&s_Mutex);
        s_Lines.clear();
    }
    QStringList lines() const
    {
        QMutexLocker lock(&s_Mutex);
        return s_Lines;
    }
    bool contains(const QString &text) const
    {
        const QStringList all = lines();
        for (const QString &line : all)
            if (line.contains(text))
                return true;
        return false;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        if (text.startsWith(QLatin1String("FPS DELAY")) || text.contains(QLatin1String("READ BLOCK")))
            return;
        QMutexLocker lock(&s_Mutex);
        s_Lines << (type >= QtWarningMsg ? QStringLiteral("WARNING: ") : QString()) + text;
    }

    static inline QMutex s_Mutex;
    static inline QStringList s_Lines;
    static inline QtMessageHandler s_Previous = nullptr;
};

// Sets an environment variable for the life of a scope.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : m_Name(name), m_Had(qEnvironmentVariableIsSet(name)), m_Old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_Had)
            qputenv(m_Name, m_Old);
        else
            qunsetenv(m_Name);
    }

private:
    const char *m_Name;
    bool m_Had;
    QByteArray m_Old;
};

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

// The frame number on screen: the picture is fitted into the window with its proportions kept.
int shownFrame(Player &player, QSize picture)
{
    const QImage image = player.grabFramebuffer().convertToFormat(QImage::Format_RGB888);
    if (image.isNull() || picture.isEmpty())
        return -1;
    const double scale = std::min(double(image.width()) / picture.width(),
                                  double(image.height()) / picture.height());
    const int w = int(picture.width() * scale);
    const int h = int(picture.height() * scale);
    return testsupport::readFrameNumber(image.constBits(), int(image.bytesPerLine()),
                                        (image.width() - w) / 2, (image.height() - h) / 2, w, h);
}

bool allBlack(const QImage &grab)
{
    const QImage image = grab.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 16 || c.green() > 16 || c.blue() > 16)
                return false;
        }
    return true;
}

double clockOf(Player &player)
{
    auto *video = qobject_cast<FFMpegVideo *>(player.video());
    return video && video->agent() ? video->agent()->m_Clock.load() : -1.0;
}

QStringList reportLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The rows of the seek table beside a report, split into their fields; the header must come first.
struct SeekRows {
    bool headerFirst = false;
    QList<QStringList> rows;
};

SeekRows seekRows(const QString &reportPath)
{
    SeekRows r;
    QStringList lines = reportLines(paths::seekRowsFile(reportPath));
    r.headerFirst = !lines.isEmpty() && lines.takeFirst() == SeekRow::csvHeader();
    for (const QString &line : lines)
        r.rows << line.split(QLatin1Char(','));
    return r;
}

// RMS of the 16-bit samples that the disk audio driver wrote between two byte offsets.
double rmsBetween(const QString &path, qint64 from, qint64 to)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || to <= from || !file.seek(from & ~qint64(3)))
        return -1.0;
    const QByteArray data = file.read((to - from) & ~qint64(3));
    const auto *samples = reinterpret_cast<const qint16 *>(data.constData());
    const qint64 n = data.size() / 2;
    if (n == 0)
        return -1.0;
    double sum = 0.0;
    for (qint64 i = 0; i < n; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(n));
}

qint64 sizeOf(const QString &path)
{
    return QFileInfo(path).size();
}

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!haveGui())
            GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
        ASSERT_TRUE(m_Dir.isValid());
        m_Report = m_Dir.filePath(QStringLiteral("report.txt"));
    }

    void TearDown() override
    {
        // Deleting the player stops its decoder while the access view and the driver still exist.
        m_Player.reset();
    }

    Player &open(const QString &clip, const QString &report = QString())
    {
        Player::Setup setup;
        setup.askForClip = false;
        setup.clip = clip;
        setup.reportFile = report.isEmpty() ? m_Report : report;
        m_Player = std::make_unique<Player>(setup);
        m_Player->resize(640, 480);
        m_Player->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(m_Player.get(), 20000));
        return *m_Player;
    }

    QSize pictureSize() const
    {
        Video *video = m_Player->video();
        return video ? QSize(video->width(), video->height()) : QSize();
    }

    // Waits until a readable frame number is on screen and returns it (-1 on time-out).
    int waitForFrame(int timeoutMs = 20000, const std::function<bool(int)> &wanted = nullptr)
    {
        int frame = -1;
        waitFor(
            [&] {
                frame = shownFrame(*m_Player, pictureSize());
                return frame >= 0 && (!wanted || wanted(frame));
            },
            timeoutMs);
        return frame;
    }

    QTemporaryDir m_Dir;
    QString m_Report;
    MessageLog m_Log;
    std::unique_ptr<Player> m_Player;
};

// Clips with and without sound (the picture clock differs) and of two containers.
class PlayerPlays : public PlayerTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(PlayerPlays, ShowsMovingPicturesUnderTheClipTitle)
{
    const QString name = QString::fromLatin1(GetParam());
    Player &player = open(testsupport::clipPath(name));

    EXPECT_EQ(player.windowTitle(), QStringLiteral("seekmark - ") + name);
    EXPECT_EQ(player.accessView().windowTitle(), QStringLiteral("File access"));
    EXPECT_TRUE(player.accessView().isVisible());
    EXPECT_TRUE(QFileInfo::exists(m_Report)) << "the report is created when the player starts";

    const int first = waitForFrame();
    ASSERT_GE(first, 0) << "no readable picture on screen";
    const int later = waitForFrame(20000, [first](int f) { return f > first; });
    EXPECT_GT(later, first) << "the picture does not move on";

    EXPECT_TRUE(m_Log.contains(QStringLiteral("FPS 25")));
    EXPECT_TRUE(m_Log.contains(QStringLiteral("FileAccessView::OPENED")));
    // The access view follows the playback position once it reaches a whole second.
    EXPECT_TRUE(waitFor([&] { return player.accessView().book().snapshot().timeSeconds >= 1; }, 20000));
    EXPECT_GT(player.accessView().book().snapshot().fileSize, 0);
}

INSTANTIATE_TEST_SUITE_P(Clips, PlayerPlays,
                         ::testing::Values("h264_aac.mp4", "h264_noaudio.mp4", "mpeg2_mp2.mpg"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             QString n = QString::fromLatin1(info.param);
                             return n.replace(QLatin1Char('.'), QLatin1Char('_')).toStdString();
                         });

TEST_F(PlayerTest, PauseSilencesTheSoundAndAnotherKeyResumes)
{
    const QString sound = m_Dir.filePath(QStringLiteral("sound.raw"));
    // Read by SDL when the decoder opens its audio device, which the player does on opening.
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv file("SDL_DISKAUDIOFILE", sound.toLocal8Bit());

    Player &player = open(testsupport::clipPath(QStringLiteral("h264_long.mp4")));
    ASSERT_GE(waitForFrame(), 0);

    // 48 kHz stereo 16-bit: half a second is 96000 bytes.
    const qint64 halfSecond = 48000 * 4 / 2;
    auto segment = [&](qint64 bytes) -> std::pair<qint64, qint64> {
        const qint64 from = sizeOf(sound);
        waitFor([&] { return sizeOf(sound) >= from + bytes; }, 15000);
        return {from, sizeOf(sound)};
    };

    ASSERT_TRUE(waitFor([&] { return clockOf(player) > 0.5; }, 15000));
    const auto playing = segment(halfSecond);
    const double playingRms = rmsBetween(sound, playing.first, playing.second);
    EXPECT_GT(playingRms, 500.0) << "the tone should be heard while playing";

    QTest::keyClick(&player, Qt::Key_P);
    segment(halfSecond / 2);   // what the device had queued before the pause
    const double pausedClock = clockOf(player);
    const auto paused = segment(halfSecond);
    EXPECT_LT(rmsBetween(sound, paused.first, paused.second), 50.0) << "sound while paused";
    EXPECT_EQ(clockOf(player), pausedClock) << "the clock ran on while paused";

    // A second P keeps it paused.
    QTest::keyClick(&player, Qt::Key_P);
    const auto stillPaused = segment(halfSecond / 2);
    EXPECT_LT(rmsBetween(sound, stillPaused.first, stillPaused.second), 50.0);

    QTest::keyClick(&player, Qt::Key_A);
    ASSERT_TRUE(waitFor([&] { return clockOf(player) > pausedClock + 0.3; }, 15000))
        << "another key did not resume";
    const auto resumed = segment(halfSecond);
    EXPECT_GT(rmsBetween(sound, resumed.first, resumed.second), 500.0);
}

TEST_F(PlayerTest, StorageKeyTurnsTheProfileAndLeavesPlaybackAsItIs)
{
    Player &player = open(testsupport::clipPath(QStringLiteral("h264_long.mp4")));
    ASSERT_GE(waitForFrame(), 0);
    const auto *video = qobject_cast<FFMpegVideo *>(player.video());
    ASSERT_TRUE(video && video->agent());
    auto shown = [&] { return player.accessView().book().snapshot().storageText(); };
    EXPECT_EQ(player.storageProfile(), StorageProfile());
    EXPECT_EQ(shown(), QStringLiteral("STORAGE: local disk (no added delay)"));

    // Round the three profiles while paused: S neither resumes nor ends the pause.
    QTest::keyClick(&player, Qt::Key_P);
    for (StorageProfile::Kind kind : {StorageProfile::Kind::HardDisk,
                                      StorageProfile::Kind::NetworkShare,
                                      StorageProfile::Kind::LocalDisk}) {
        const StorageProfile profile(kind);
        SCOPED_TRACE(profile.name().toStdString());
        QTest::keyClick(&player, Qt::Key_S);
        EXPECT_EQ(player.storageProfile(), profile);
        EXPECT_EQ(shown(), QStringLiteral("STORAGE: ") + profile.label());
        EXPECT_TRUE(m_Log.contains(QStringLiteral("storage: ") + profile.label()));
        EXPECT_TRUE(video->agent()->isPaused());
    }

    // Playing from a network share: S does not pause, and the slower reads still keep up.
    QTest::keyClick(&player, Qt::Key_A);
    ASSERT_FALSE(video->agent()->isPaused());
    QTest::keyClick(&player, Qt::Key_S);
    QTest::keyClick(&player, Qt::Key_S);
    EXPECT_EQ(player.storageProfile(), StorageProfile(StorageProfile::Kind::NetworkShare));
    EXPECT_FALSE(video->agent()->isPaused());
    const int first = waitForFrame();
    ASSERT_GE(first, 0);
    EXPECT_GT(waitForFrame(20000, [first](int f) { return f > first + 25; }), first + 25)
        << "the picture does not move on from a network share";
}

TEST_F(PlayerTest, RightClickAtTheMiddleLandsNearTheMiddle)
{
    Player &player = open(testsupport::clipPath(QStringLiteral("h264_long.mp4")));
    ASSERT_GE(waitForFrame(), 0);

    QTest::mouseClick(&player, Qt::RightButton, Qt::NoModifier,
                      QPoint(player.width() / 2, player.height() / 2));

    EXPECT_TRUE(m_Log.contains(QStringLiteral("vado sono su  20")));
    EXPECT_EQ(player.accessView().book().snapshot().requestText, QStringLiteral("00:00:20"));
    EXPECT_TRUE(waitFor([&] { return std::abs(player.video()->position() - 20) <= 2; }, 15000))
        << "position " << player.video()->position();
    // The picture on screen comes from there too (25 pictures a second).
    const int frame = waitForFrame(15000, [](int f) { return std::abs(f - 500) <= 60; });
    EXPECT_LE(std::abs(frame - 500), 60) << "frame on screen " << frame;
    EXPECT_TRUE(waitFor([&] { return m_Log.contains(QStringLiteral("ora sono su ")); }, 10000));
    // Its row in the seek table: where it landed and the first picture shown after it.
    SeekRows table;
    ASSERT_TRUE(waitFor([&] { table = seekRows(m_Report); return !table.rows.isEmpty(); }, 15000));
    EXPECT_TRUE(table.headerFirst);
    ASSERT_EQ(table.rows.size(), 1);
    const QStringList click = table.rows.first();
    ASSERT_EQ(click.size(), 10) << click.join(',').toStdString();
    EXPECT_EQ(click[0], QStringLiteral("click"));
    EXPECT_EQ(click[1], QStringLiteral("20"));
    EXPECT_LE(std::abs(click[2].toInt() - 20), 2);
    EXPECT_LT(std::abs(click[4].toDouble()), 1.0) << click.join(',').toStdString();

    // A double click toggles full screen, also right after a right click on the same spot.
    QTest::mouseDClick(&player, Qt::RightButton, Qt::NoModifier,
                       QPoint(player.width() / 2, player.height() / 2));
    EXPECT_TRUE(waitFor([&] { return player.isFullScreen(); }, 5000));
    QTest::mouseDClick(&player, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    EXPECT_TRUE(waitFor([&] { return !player.isFullScreen(); }, 5000));
}

// A run of random seeks until one batch is complete: the report line, the statistics and the
// reopen that follows. Without sound nothing acknowledges a seek, so that clip lands by its
// pictures alone.
struct BatchCase {
    const char *name;
    bool generatedWithoutSound;
};

void PrintTo(const BatchCase &c, std::ostream *os) { *os << c.name; }

class PlayerSeekTest : public PlayerTest, public ::testing::WithParamInterface<BatchCase> {};

TEST_P(PlayerSeekTest, BatchWritesOneReportLineAndReopensTheClip)
{
    QString clip = testsupport::clipPath(QString::fromLatin1(GetParam().name));
    if (GetParam().generatedWithoutSound) {
        // 40 s without sound, a keyframe every second: made here, as the corpus has none so long.
        clip = m_Dir.filePath(QString::fromLatin1(GetParam().name));
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
                     {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                      "testsrc=s=160x120:r=25:d=40", "-c:v", "libx264", "-preset", "veryfast",
                      "-g", "25", "-keyint_min", "25", "-sc_threshold", "0", "-pix_fmt", "yuv420p",
                      "-an", "-f", "mp4", clip});
        ASSERT_TRUE(ffmpeg.waitForFinished(60000));
        ASSERT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();
    }
    const QString name = QFileInfo(clip).fileName();
    Player &player = open(clip);
    ASSERT_TRUE(waitFor([&] { return player.picturesShown() > 0; }, 20000));
    ASSERT_EQ(player.clipsOpened(), 1);

    QTest::keyClick(&player, Qt::Key_T);
    EXPECT_TRUE(player.seekTestRun().isActive());
    bool progressShown = false;
    const bool reported = waitFor(
        [&] {
            progressShown = progressShown
                || player.windowTitle().startsWith(QStringLiteral("seekmark - ") + name
                                                   + QStringLiteral(" - seek test: batch 1, seek "));
            return !reportLines(m_Report).isEmpty();
        },
        120000);
    ASSERT_TRUE(reported) << "no report line; title: " << player.windowTitle().toStdString();
    EXPECT_TRUE(progressShown);

    const QStringList lines = reportLines(m_Report);
    ASSERT_EQ(lines.size(), 1);
    const QRegularExpression format(QStringLiteral("^Average (\\d+) MAX DIFF (\\d+) MIN DIFF (\\d+)$"));
    const QRegularExpressionMatch m = format.match(lines.first());
    ASSERT_TRUE(m.hasMatch()) << lines.first().toStdString();
    // Keyframes every second: a seek lands at most one second before its target.
    EXPECT_LE(m.captured(2).toInt(), 1) << lines.first().toStdString();
    EXPECT_LE(m.captured(1).toInt(), m.captured(2).toInt());
    EXPECT_LE(m.captured(3).toInt(), m.captured(1).toInt());
    EXPECT_EQ(player.seekTestRun().failedSeeks(), 0);

    // One row per seek of the batch. Their landings give the report line's figures; every target
    // is a keyframe time (a keyframe every 25 pictures), so the first picture shown lies less than
    // a second from it and is a keyframe exactly when it is a whole number of seconds away.
    // Without sound every picture is shown: the first one is the keyframe at the target.
    SeekRows table;
    ASSERT_TRUE(waitFor([&] { table = seekRows(m_Report); return table.rows.size() >= 21; }, 15000));
    EXPECT_TRUE(table.headerFirst);
    int sum = 0, most = 0, least = SeekStats::NoSeekYet;
    qint64 bytes = 0;
    for (int i = 0; i < 21; ++i) {
        const QStringList &f = table.rows.at(i);
        SCOPED_TRACE(f.join(',').toStdString());
        ASSERT_EQ(f.size(), 10);
        EXPECT_EQ(f[0], QStringLiteral("1"));
        const int diff = std::abs(f[2].toInt() - f[1].toInt());
        sum += diff;
        most = std::max(most, diff);
        least = std::min(least, diff);
        EXPECT_LT(std::abs(f[4].toDouble()), 1.0);
        EXPECT_EQ(f[6] == QStringLiteral("1"), f[5].toInt() % 25 == 0);
        if (GetParam().generatedWithoutSound) {
            EXPECT_EQ(f[5], QStringLiteral("0"));
            EXPECT_EQ(f[6], QStringLiteral("1"));
        }
        EXPECT_GE(f[7].toLongLong(), 0);
        EXPECT_EQ(f[8].toLongLong() > 0, f[9].toInt() > 0);
        bytes += f[8].toLongLong();
    }
    EXPECT_GT(bytes, 0);
    EXPECT_EQ(lines.first(), SeekStats::reportLine(sum / 21, most, least));

    // The batch ended in a fresh open of the same clip, and the run goes on with batch 2.
    EXPECT_TRUE(waitFor([&] { return player.clipsOpened() == 2; }, 5000));
    EXPECT_LE(player.seekStats().seekCount(), 3);
    EXPECT_TRUE(m_Log.contains(QStringLiteral("richiedo")));
    EXPECT_TRUE(m_Log.contains(QStringLiteral("Average")));

    QTest::keyClick(&player, Qt::Key_T);
    EXPECT_FALSE(player.seekTestRun().isActive());
    EXPECT_EQ(player.windowTitle(), QStringLiteral("seekmark - ") + name);
    const int shown = player.picturesShown();
    EXPECT_TRUE(waitFor([&] { return player.picturesShown() > shown + 5; }, 20000))
        << "the reopened clip does not play";
}

INSTANTIATE_TEST_SUITE_P(Clips, PlayerSeekTest,
                         ::testing::Values(BatchCase{"h264_long.mp4", false},
                                           BatchCase{"silent_long.mp4", true}),
                         [](const ::testing::TestParamInfo<BatchCase> &info) {
                             return info.param.generatedWithoutSound ? std::string("WithoutSound")
                                                                     : std::string("WithSound");
                         });

TEST_F(PlayerTest, SeekTestOnAShortClipSaysWhyInTheTitle)
{
    Player &player = open(testsupport::clipPath(QStringLiteral("h264_aac.mp4")));
    ASSERT_TRUE(waitFor([&] { return player.picturesShown() > 0; }, 20000));

    QTest::keyClick(&player, Qt::Key_T);
    EXPECT_FALSE(player.seekTestRun().isActive());
    EXPECT_EQ(player.windowTitle(),
              QStringLiteral("seekmark - h264_aac.mp4 - seek test needs a clip longer than 30 s (this one: 8 s)"));
    EXPECT_FALSE(m_Log.contains(QStringLiteral("richiedo")));
    // The clip plays on.
    const int frame = waitForFrame();
    EXPECT_GE(waitForFrame(20000, [frame](int f) { return f > frame; }), 0);
}

// Clips that cannot be opened: the window says which and why, a warning is logged, and the
// controls do no harm.
struct BadClip {
    const char *name;
    QByteArray content;   // written to the file; null: the file does not exist
    const char *why;
};

void PrintTo(const BadClip &c, std::ostream *os) { *os << c.name; }

class PlayerBadClip : public PlayerTest, public ::testing::WithParamInterface<BadClip> {};

TEST_P(PlayerBadClip, SaysWhichClipFailedAndWhyAndStaysUsable)
{
    const BadClip &c = GetParam();
    const QString path = m_Dir.filePath(QString::fromLatin1(c.name));
    if (!c.content.isNull()) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.content);
    }
    Player &player = open(path);

    const QString title = player.windowTitle();
    EXPECT_TRUE(title.startsWith(QStringLiteral("seekmark - %1 - cannot open: ").arg(c.name)))
        << title.toStdString();
    EXPECT_TRUE(title.contains(QString::fromLatin1(c.why))) << title.toStdString();
    EXPECT_TRUE(m_Log.contains(QStringLiteral("cannot open clip ") + path)) << "no warning logged";
    bool warned = false;
    for (const QString &line : m_Log.lines())
        warned = warned || (line.startsWith(QLatin1String("WARNING: ")) && line.contains(path));
    EXPECT_TRUE(warned);

    for (Qt::Key key : {Qt::Key_P, Qt::Key_Space, Qt::Key_T})
        QTest::keyClick(&player, key);
    QTest::mouseClick(&player, Qt::RightButton, Qt::NoModifier, QPoint(100, 100));
    QTest::qWait(300);   // ticks keep coming with nothing to show
    EXPECT_EQ(player.windowTitle(), title);
    EXPECT_FALSE(m_Log.contains(QStringLiteral("vado sono su ")));
    EXPECT_TRUE(allBlack(player.grabFramebuffer()));
}

INSTANTIATE_TEST_SUITE_P(
    Clips, PlayerBadClip,
    ::testing::Values(BadClip{"missing.mp4", QByteArray(), "cannot open file"},
                      BadClip{"empty.mp4", QByteArray(""), "the file is empty"},
                      BadClip{"notes.mp4", QByteArray("this is not a video\n").repeated(500),
                              "not a readable media file"}),
    [](const ::testing::TestParamInfo<BadClip> &info) {
        QString n = QString::fromLatin1(info.param.name);
        return n.replace(QLatin1Char('.'), QLatin1Char('_')).toStdString();
    });

TEST_F(PlayerTest, UnwritableReportOpensNoClipAndSaysWhy)
{
    const QString report = m_Dir.filePath(QStringLiteral("no-such-folder/report.txt"));
    Player &player = open(testsupport::clipPath(QStringLiteral("h264_aac.mp4")), report);

    EXPECT_EQ(player.video(), nullptr);
    EXPECT_TRUE(player.accessView().isVisible());
    EXPECT_TRUE(player.windowTitle().startsWith(QStringLiteral("seekmark - cannot write the report ")))
        << player.windowTitle().toStdString();
    EXPECT_TRUE(m_Log.contains(report));
    for (Qt::Key key : {Qt::Key_P, Qt::Key_Space, Qt::Key_T})
        QTest::keyClick(&player, key);
    QTest::mouseClick(&player, Qt::RightButton, Qt::NoModifier, QPoint(100, 100));
    QTest::qWait(100);
    EXPECT_TRUE(allBlack(player.grabFramebuffer()));
}

} // namespace
