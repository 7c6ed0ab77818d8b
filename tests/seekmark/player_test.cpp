// The seekmark window in this process on real parts: clips decoded by FFmpeg, sound through SDL's
// dummy or disk driver, pictures through GL under Xvfb read back from the framebuffer. The test
// chooses the clip and the report file instead of the open dialog.
#include "seekmark/player.h"

#include "access/ffmpegvideo.h"
#include "engine/decoderagent.h"
#include "tests/common/messagelog.h"
#include "tests/common/screenpicture.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFileInfo>
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

// With and without sound (the picture clock differs), two containers; all shorter than the seek
// test needs, which the title says while the clip plays on.
TEST_F(PlayerTest, PlaysUnderTheClipTitleAndRefusesTheSeekTestOnAShortClip)
{
    for (const char *name : {"h264_aac.mp4", "h264_noaudio.mp4", "mpeg2_mp2.mpg"}) {
        SCOPED_TRACE(name);
        m_Log.clear();
        Player &player = open(clipPath(QString::fromLatin1(name)));
        const QString title = QStringLiteral("seekmark - ") + QString::fromLatin1(name);
        EXPECT_EQ(player.windowTitle(), title);
        EXPECT_EQ(player.accessView().windowTitle(), QStringLiteral("File access"));
        EXPECT_TRUE(player.accessView().isVisible());
        EXPECT_TRUE(QFileInfo::exists(m_Report)) << "the report is made when the player starts";
        playsOn();
        for (const char *line : {"FPS 25", "FileAccessView::OPENED"})
            EXPECT_TRUE(m_Log.contains(QString::fromLatin1(line))) << line;
        // The access view follows the playback position in whole seconds.
        EXPECT_TRUE(waitFor([&] { return player.accessView().book().snapshot().timeSeconds >= 1; }, 20000));
        EXPECT_GT(player.accessView().book().snapshot().fileSize, 0);

        QTest::keyClick(&player, Qt::Key_T);
        EXPECT_FALSE(player.seekTestRun().isActive());
        EXPECT_EQ(player.windowTitle(), title + QStringLiteral(" - seek test needs a clip longer than 30 s (this one: 8 s)"));
        EXPECT_FALSE(m_Log.contains(QStringLiteral("richiedo")));
        playsOn();
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

// The click's seek is the session's (its table); here the window's part: the access view's REQ:
// and the double click, which toggles full screen also right after a right click on the same spot.
TEST_F(PlayerTest, RightClickShowsItsRequestAndADoubleClickTogglesFullScreen)
{
    Player &player = open(clipPath(QStringLiteral("h264_long.mp4")));
    ASSERT_GE(waitForFrame(), 0);
    const QPoint middle(player.width() / 2, player.height() / 2);
    QTest::mouseClick(&player, Qt::RightButton, Qt::NoModifier, middle);
    EXPECT_TRUE(m_Log.contains(QStringLiteral("vado sono su  20")));
    EXPECT_EQ(player.accessView().book().snapshot().requestText, QStringLiteral("00:00:20"));
    QTest::mouseDClick(&player, Qt::RightButton, Qt::NoModifier, middle);
    EXPECT_TRUE(waitFor([&] { return player.isFullScreen(); }, 5000));
    QTest::mouseDClick(&player, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    EXPECT_TRUE(waitFor([&] { return !player.isFullScreen(); }, 5000));
}

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
