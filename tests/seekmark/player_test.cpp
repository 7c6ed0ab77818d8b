// The seekmark window in this process on real parts: clips decoded by FFmpeg, sound through SDL's
// dummy or disk driver, pictures through GL under Xvfb read back from the framebuffer. The test
// chooses the clip and the report file instead of the open dialog.
#include "seekmark/player.h"

#include "access/ffmpegvideo.h"
#include "engine/decoderagent.h"
#include "platform/paths.h"
#include "seekmark/seekrow.h"
#include "tests/common/messagelog.h"
#include "tests/common/screenpicture.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <functional>
#include <memory>
#include <ostream>

namespace {

using testsupport::clipPath;

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

// Sets an environment variable for the life of a scope.
struct ScopedEnv {
    ScopedEnv(const char *name, const QByteArray &value) : name(name), had(qEnvironmentVariableIsSet(name)), old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv() { had ? qputenv(name, old) : qunsetenv(name); }
    const char *name;
    bool had;
    QByteArray old;
};

bool allBlack(const QImage &grab)
{
    for (int y = 0; y < grab.height(); y += 7)
        for (int x = 0; x < grab.width(); x += 7)
            if (!testsupport::isBlack(grab.pixel(x, y)))
                return false;
    return true;
}

double clockOf(Player &player)
{
    auto *video = qobject_cast<FFMpegVideo *>(player.video());
    return video && video->agent() ? video->agent()->m_Clock.load() : -1.0;
}

QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The rows of the seek table beside a report, split into their fields; empty unless the header
// comes first.
QList<QStringList> seekRows(const QString &reportPath)
{
    QStringList lines = fileLines(paths::seekRowsFile(reportPath));
    QList<QStringList> rows;
    if (lines.isEmpty() || lines.takeFirst() != SeekRow::csvHeader())
        return rows;
    for (const QString &line : lines)
        rows << line.split(QLatin1Char(','));
    return rows;
}

// RMS of the 16-bit samples that the disk audio driver wrote between two byte offsets.
double rmsBetween(const QString &path, qint64 from, qint64 to)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || to <= from || !file.seek(from & ~qint64(3)))
        return -1.0;
    const QByteArray data = file.read((to - from) & ~qint64(3));
    const auto *samples = reinterpret_cast<const qint16 *>(data.constData());
    double sum = 0.0;
    for (qsizetype i = 0; i < data.size() / 2; ++i)
        sum += double(samples[i]) * samples[i];
    return data.size() < 2 ? -1.0 : std::sqrt(sum / double(data.size() / 2));
}

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
            GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
        ASSERT_TRUE(m_Dir.isValid());
        m_Report = m_Dir.filePath(QStringLiteral("report.txt"));
    }
    // The player stops its decoder while the access view and the driver still exist.
    void TearDown() override { m_Player.reset(); }

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

    // Waits until a readable frame number (that wanted accepts) is on screen; -1 on time-out.
    int waitForFrame(const std::function<bool(int)> &wanted = nullptr, int timeoutMs = 20000)
    {
        int frame = -1;
        waitFor([&] {
            Video *v = m_Player->video();
            frame = v ? testsupport::frameNumberOn(m_Player->grabFramebuffer(), QSize(v->width(), v->height())) : -1;
            return frame >= 0 && (!wanted || wanted(frame));
        }, timeoutMs);
        return frame;
    }

    void playsOn()
    {
        const int frame = waitForFrame();
        ASSERT_GE(frame, 0) << "no readable picture on screen";
        EXPECT_GT(waitForFrame([frame](int f) { return f > frame; }), frame) << "the picture does not move on";
    }

    QTemporaryDir m_Dir;
    QString m_Report;
    testsupport::MessageLog m_Log;
    std::unique_ptr<Player> m_Player;
};

// With and without sound (the picture clock differs), several containers; all shorter than the
// seek test needs, which the title says while the clip plays on. Each plays to its last picture
// with the numbers on screen advancing at the clip's rate, also where the sound does not cover the
// picture (starts late, ends early, has a hole, lies a second away in the file, has no decoder).
TEST_F(PlayerTest, PlaysToTheEndAtItsRateUnderTheClipTitleAndRefusesTheSeekTestOnAShortClip)
{
    const struct {
        const char *name;
        int rate, pictures;
    } clips[] = {{"h264_aac.mp4", 25, 200},     {"h264_noaudio.mp4", 25, 200}, {"mpeg2_mp2.mpg", 25, 200},
                 {"sound_late.mp4", 25, 150},   {"sound_short60.ts", 60, 300}, {"sound_hole.mkv", 25, 150},
                 {"sound_coarse.mp4", 60, 240}, {"mpeg2_gop12.mpg", 25, 150},  {"no_audio_decoder.mkv", 25, 200}};
    for (const auto &c : clips) {
        const QString name = QString::fromLatin1(c.name);
        SCOPED_TRACE(c.name);
        m_Log.clear();
        Player &player = open(clipPath(name));
        const QString title = QStringLiteral("seekmark - ") + name;
        EXPECT_EQ(player.windowTitle(), title);
        EXPECT_EQ(player.accessView().windowTitle(), QStringLiteral("File access"));
        EXPECT_TRUE(player.accessView().isVisible());
        EXPECT_TRUE(QFileInfo::exists(m_Report)) << "the report is made when the player starts";
        QElapsedTimer elapsed;
        elapsed.start();
        const int first = waitForFrame();
        const qint64 firstAt = elapsed.elapsed();
        ASSERT_GE(first, 0) << "no readable picture on screen";
        for (const QString &line : {QStringLiteral("FPS %1").arg(c.rate), QStringLiteral("FileAccessView::OPENED")})
            EXPECT_TRUE(m_Log.contains(line)) << line.toStdString();
        EXPECT_EQ(m_Log.lines().filter(QStringLiteral("playing the picture without sound")).size(),
                  name.startsWith(QStringLiteral("no_audio")) ? 1 : 0);

        QTest::keyClick(&player, Qt::Key_T);
        EXPECT_FALSE(player.seekTestRun().isActive());
        EXPECT_EQ(player.windowTitle(), title + QStringLiteral(" - seek test needs a clip longer than 30 s (this one: %1 s)")
                                                   .arg(player.video()->duration()));
        EXPECT_FALSE(m_Log.contains(QStringLiteral("richiedo")));

        int last = first;
        qint64 lastAt = firstAt;
        waitFor([&] {
            const int frame = testsupport::frameNumberOn(player.grabFramebuffer(), QSize(320, 240));
            if (frame > last) {
                last = frame;
                lastAt = elapsed.elapsed();
            }
            return last >= c.pictures - 1 || (last >= c.pictures - 3 && elapsed.elapsed() - lastAt > 1000);
        }, 30000);
        // The very last pictures may go to the drop rule while the test grabs the screen.
        EXPECT_GE(last, c.pictures - 3) << "stopped at picture " << last;
        EXPECT_NEAR((last - first) * 1000.0 / std::max<qint64>(1, lastAt - firstAt), c.rate, c.rate * 0.15)
            << "pictures " << first << " to " << last << " in " << lastAt - firstAt << " ms";
        // The access view followed the playback position in whole seconds.
        EXPECT_GE(player.accessView().book().snapshot().timeSeconds, 3);
        EXPECT_GT(player.accessView().book().snapshot().fileSize, 0);
        m_Player.reset();
    }
}

TEST_F(PlayerTest, PauseSilencesTheSoundAndAnotherKeyResumes)
{
    // Read by SDL when the player opens its audio device.
    const QString sound = m_Dir.filePath(QStringLiteral("sound.raw"));
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv file("SDL_DISKAUDIOFILE", sound.toLocal8Bit());
    Player &player = open(clipPath(QStringLiteral("h264_long.mp4")));
    ASSERT_GE(waitForFrame(), 0);
    ASSERT_TRUE(waitFor([&] { return clockOf(player) > 0.5; }, 15000));

    // The RMS of the next `bytes` of sound written (48 kHz stereo 16-bit: 96000 a half second).
    const qint64 halfSecond = 48000 * 4 / 2;
    auto nextRms = [&](qint64 bytes) {
        const qint64 from = QFileInfo(sound).size();
        waitFor([&] { return QFileInfo(sound).size() >= from + bytes; }, 15000);
        return rmsBetween(sound, from, QFileInfo(sound).size());
    };
    EXPECT_GT(nextRms(halfSecond), 500.0) << "the tone should be heard while playing";

    QTest::keyClick(&player, Qt::Key_P);
    nextRms(halfSecond / 2);   // what the device had queued before the pause
    const double pausedClock = clockOf(player);
    EXPECT_LT(nextRms(halfSecond), 50.0) << "sound while paused";
    EXPECT_EQ(clockOf(player), pausedClock) << "the clock ran on while paused";
    QTest::keyClick(&player, Qt::Key_P);   // a second P keeps it paused
    EXPECT_LT(nextRms(halfSecond / 2), 50.0);

    QTest::keyClick(&player, Qt::Key_A);
    ASSERT_TRUE(waitFor([&] { return clockOf(player) > pausedClock + 0.3; }, 15000)) << "another key did not resume";
    EXPECT_GT(nextRms(halfSecond), 500.0);
}

TEST_F(PlayerTest, StorageKeyTurnsTheProfileAndLeavesPlaybackAsItIs)
{
    Player &player = open(clipPath(QStringLiteral("h264_long.mp4")));
    ASSERT_GE(waitForFrame(), 0);
    const auto *video = qobject_cast<FFMpegVideo *>(player.video());
    ASSERT_TRUE(video && video->agent());
    auto shown = [&] { return player.accessView().book().snapshot().storageText(); };
    EXPECT_EQ(shown(), QStringLiteral("STORAGE: local disk (no added delay)"));

    // Round the three profiles while paused: S neither resumes nor ends the pause.
    QTest::keyClick(&player, Qt::Key_P);
    for (auto kind : {StorageProfile::Kind::HardDisk, StorageProfile::Kind::NetworkShare, StorageProfile::Kind::LocalDisk}) {
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
    QTest::keyClick(&player, Qt::Key_S);
    QTest::keyClick(&player, Qt::Key_S);
    EXPECT_EQ(player.storageProfile(), StorageProfile(StorageProfile::Kind::NetworkShare));
    EXPECT_FALSE(video->agent()->isPaused());
    const int first = waitForFrame();
    ASSERT_GE(first, 0);
    EXPECT_GT(waitForFrame([first](int f) { return f > first + 25; }), first + 25)
        << "the picture does not move on from a network share";
}

TEST_F(PlayerTest, RightClickAtTheMiddleLandsThereAndIsMeasuredInTheSeekTable)
{
    Player &player = open(clipPath(QStringLiteral("h264_long.mp4")));
    ASSERT_GE(waitForFrame(), 0);
    const QPoint middle(player.width() / 2, player.height() / 2);
    QTest::mouseClick(&player, Qt::RightButton, Qt::NoModifier, middle);

    EXPECT_TRUE(m_Log.contains(QStringLiteral("vado sono su  20")));
    EXPECT_EQ(player.accessView().book().snapshot().requestText, QStringLiteral("00:00:20"));
    EXPECT_TRUE(waitFor([&] { return std::abs(player.video()->position() - 20) <= 2; }, 15000))
        << "position " << player.video()->position();
    const int frame = waitForFrame([](int f) { return std::abs(f - 500) <= 60; }, 15000);
    EXPECT_LE(std::abs(frame - 500), 60) << "frame on screen " << frame;
    EXPECT_TRUE(waitFor([&] { return m_Log.contains(QStringLiteral("ora sono su ")); }, 10000));

    // Its row: where it landed and the first picture shown after it.
    QList<QStringList> rows;
    ASSERT_TRUE(waitFor([&] { return !(rows = seekRows(m_Report)).isEmpty(); }, 15000));
    ASSERT_EQ(rows.size(), 1);
    const QStringList &click = rows.first();
    ASSERT_EQ(click.size(), 10) << click.join(',').toStdString();
    EXPECT_EQ(click.mid(0, 2).join(','), QStringLiteral("click,20"));
    EXPECT_LE(std::abs(click[2].toInt() - 20), 2);
    EXPECT_LT(std::abs(click[4].toDouble()), 1.0) << click.join(',').toStdString();

    // A double click toggles full screen, also right after a right click on the same spot.
    QTest::mouseDClick(&player, Qt::RightButton, Qt::NoModifier, middle);
    EXPECT_TRUE(waitFor([&] { return player.isFullScreen(); }, 5000));
    QTest::mouseDClick(&player, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    EXPECT_TRUE(waitFor([&] { return !player.isFullScreen(); }, 5000));
}

// Random seeks until one batch is complete: the report line, the seek table, the reopen that
// follows. Without sound nothing acknowledges a seek, so that clip lands by its pictures alone.
class PlayerSeekTest : public PlayerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PlayerSeekTest, BatchWritesOneReportLineItsRowsAndReopensTheClip)
{
    const bool withSound = GetParam();
    QString clip = clipPath(QStringLiteral("h264_long.mp4"));
    if (!withSound) {
        // 40 s, a keyframe every second: the corpus has no silent clip so long.
        clip = m_Dir.filePath(QStringLiteral("silent_long.mp4"));
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
                     {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "testsrc=s=160x120:r=25:d=40",
                      "-c:v", "libx264", "-preset", "veryfast", "-g", "25", "-keyint_min", "25", "-sc_threshold",
                      "0", "-pix_fmt", "yuv420p", "-an", "-f", "mp4", clip});
        ASSERT_TRUE(ffmpeg.waitForFinished(60000));
        ASSERT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();
    }
    const QString title = QStringLiteral("seekmark - ") + QFileInfo(clip).fileName();
    Player &player = open(clip);
    ASSERT_TRUE(waitFor([&] { return player.picturesShown() > 0; }, 20000));
    ASSERT_EQ(player.clipsOpened(), 1);

    QTest::keyClick(&player, Qt::Key_T);
    EXPECT_TRUE(player.seekTestRun().isActive());
    bool progressShown = false;
    ASSERT_TRUE(waitFor([&] {
        progressShown = progressShown || player.windowTitle().startsWith(title + QStringLiteral(" - seek test: batch 1, seek "));
        return !fileLines(m_Report).isEmpty();
    }, 120000)) << "no report line; title: " << player.windowTitle().toStdString();
    EXPECT_TRUE(progressShown);
    const QStringList lines = fileLines(m_Report);
    ASSERT_EQ(lines.size(), 1);
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^Average \\d+ MAX DIFF (\\d+) MIN DIFF \\d+$")).match(lines.first());
    ASSERT_TRUE(m.hasMatch()) << lines.first().toStdString();
    // Keyframes every second: a seek lands at most one second before its target.
    EXPECT_LE(m.captured(1).toInt(), 1) << lines.first().toStdString();
    EXPECT_EQ(player.seekTestRun().failedSeeks(), 0);

    // One row per seek. Their landings give the report line; every target is a keyframe time, so
    // the first picture shown lies less than a second from it and is a keyframe exactly when it is
    // a whole number of seconds away. Without sound every picture is shown: the keyframe itself.
    QList<QStringList> rows;
    ASSERT_TRUE(waitFor([&] { return (rows = seekRows(m_Report)).size() >= 21; }, 15000));
    int sum = 0, most = 0, least = SeekStats::NoSeekYet;
    qint64 bytes = 0;
    for (const QStringList &f : rows.mid(0, 21)) {
        SCOPED_TRACE(f.join(',').toStdString());
        ASSERT_EQ(f.size(), 10);
        EXPECT_EQ(f[0], QStringLiteral("1"));
        const int diff = std::abs(f[2].toInt() - f[1].toInt());
        sum += diff;
        most = std::max(most, diff);
        least = std::min(least, diff);
        EXPECT_LT(std::abs(f[4].toDouble()), 1.0);
        EXPECT_EQ(f[6] == QStringLiteral("1"), f[5].toInt() % 25 == 0);
        EXPECT_TRUE(withSound || f[5] + f[6] == QStringLiteral("01"));
        EXPECT_EQ(f[8].toLongLong() > 0, f[9].toInt() > 0);
        bytes += f[8].toLongLong();
    }
    EXPECT_GT(bytes, 0);
    EXPECT_EQ(lines.first(), SeekStats::reportLine(sum / 21, most, least));

    // The batch ends in a fresh open of the same clip, and the run goes on with batch 2.
    EXPECT_TRUE(waitFor([&] { return player.clipsOpened() == 2; }, 5000));
    EXPECT_LE(player.seekStats().seekCount(), 3);
    QTest::keyClick(&player, Qt::Key_T);
    EXPECT_FALSE(player.seekTestRun().isActive());
    EXPECT_EQ(player.windowTitle(), title);
    const int shown = player.picturesShown();
    EXPECT_TRUE(waitFor([&] { return player.picturesShown() > shown + 5; }, 20000)) << "the reopened clip does not play";
}

INSTANTIATE_TEST_SUITE_P(Clips, PlayerSeekTest, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "WithSound" : "WithoutSound"; });

// Nothing to play: the window says why, a warning names the file, and the controls do no harm.
TEST_F(PlayerTest, ClipOrReportThatCannotBeOpenedIsNamedAndTheControlsDoNoHarm)
{
    struct Case {
        const char *clip;
        QByteArray content;   // null: the file does not exist
        const char *title;    // how the title starts; the report's path or the reason follows
        const char *why;
        bool unwritableReport = false;
    };
    const Case cases[] = {
        {"missing.mp4", QByteArray(), "seekmark - missing.mp4 - cannot open: ", "cannot open file"},
        {"empty.mp4", QByteArray(""), "seekmark - empty.mp4 - cannot open: ", "the file is empty"},
        {"notes.mp4", QByteArray("this is not a video\n").repeated(500), "seekmark - notes.mp4 - cannot open: ",
         "not a readable media file"},
        {"h264_aac.mp4", QByteArray(), "seekmark - cannot write the report ", "no-such-folder", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.clip);
        m_Log.clear();
        QString path = m_Dir.filePath(QString::fromLatin1(c.clip));
        const QString report = m_Dir.filePath(QStringLiteral("no-such-folder/report.txt"));
        if (c.unwritableReport) {
            path = clipPath(QString::fromLatin1(c.clip));
        } else if (!c.content.isNull()) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(c.content);
        }
        Player &player = open(path, c.unwritableReport ? report : QString());
        const QString title = player.windowTitle();
        EXPECT_TRUE(title.startsWith(QString::fromLatin1(c.title)) && title.contains(QString::fromLatin1(c.why)))
            << title.toStdString();
        EXPECT_TRUE(player.accessView().isVisible());
        const QString named = c.unwritableReport ? report : path;
        EXPECT_FALSE(m_Log.lines().filter(QRegularExpression(QStringLiteral("^WARNING: .*")
                                                             + QRegularExpression::escape(named))).isEmpty())
            << m_Log.lines().join('\n').toStdString();
        EXPECT_TRUE(!c.unwritableReport || player.video() == nullptr);

        for (Qt::Key key : {Qt::Key_P, Qt::Key_Space, Qt::Key_T})
            QTest::keyClick(&player, key);
        QTest::mouseClick(&player, Qt::RightButton, Qt::NoModifier, QPoint(100, 100));
        QTest::qWait(300);   // ticks keep coming with nothing to show
        EXPECT_EQ(player.windowTitle(), title);
        EXPECT_FALSE(m_Log.contains(QStringLiteral("vado sono su ")));
        EXPECT_TRUE(allBlack(player.grabFramebuffer()));
        m_Player.reset();
    }
}

} // namespace
