// The seekmark window in this process on real parts: clips decoded by FFmpeg, sound through SDL's
// dummy driver, pictures through GL under Xvfb read back from the framebuffer. The test
// chooses the clip and the report file instead of the open dialog.
#include "seekmark/player.h"

#include "access/ffmpegvideo.h"
#include "engine/decoderagent.h"
#include "tests/common/messagelog.h"
#include "tests/common/screenpicture.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

using testsupport::clipPath;

double clockOf(Player &player)
{
    auto *video = qobject_cast<FFMpegVideo *>(player.video());
    return video && video->agent() ? video->agent()->m_Clock.load() : -1.0;
}

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
            GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
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

    // Waits until a readable frame number is on screen; -1 on time-out.
    int waitForFrame()
    {
        int frame = -1;
        QTest::qWaitFor([&] { return (frame = testsupport::frameNumberOn(m_Player->grabFramebuffer(), QSize(320, 240))) >= 0; }, 20000);
        return frame;
    }

    QTemporaryDir m_Dir;
    const QString m_Report = m_Dir.filePath(QStringLiteral("report.txt"));
    testsupport::MessageLog m_Log;
    std::unique_ptr<Player> m_Player;
};

// With and without sound (the picture clock differs), several containers. Each plays to its last picture
// with the numbers on screen advancing at the clip's rate, also where the sound does not cover the
// picture (starts late, ends early, has a hole, lies a second away in the file, has no decoder).
TEST_F(PlayerTest, PlaysEachClipToTheEndAtItsRateUnderItsTitle)
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
        EXPECT_EQ(player.windowTitle(), QStringLiteral("seekmark - ") + name);
        EXPECT_TRUE(player.accessView().isVisible() && QFileInfo::exists(m_Report)) << "the report is made when the player starts";
        QElapsedTimer elapsed;
        elapsed.start();
        const int first = waitForFrame();
        qint64 lastAt = elapsed.elapsed(), firstAt = lastAt;
        ASSERT_GE(first, 0) << "no readable picture on screen";
        for (const QString &line : {QStringLiteral("FPS %1").arg(c.rate), QStringLiteral("FileAccessView::OPENED")})
            EXPECT_TRUE(m_Log.contains(line)) << line.toStdString();
        EXPECT_EQ(m_Log.lines().filter(QStringLiteral("playing the picture without sound")).size(), name.startsWith("no_audio") ? 1 : 0);
        int last = first;
        QTest::qWaitFor([&] {
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
        EXPECT_TRUE(player.accessView().book().snapshot().timeSeconds >= 3 && player.accessView().book().snapshot().fileSize > 0);
        m_Player.reset();
    }
}

// The keys and clicks reach the decoder, the driver and the view: P pauses (twice stays paused), S
// turns the storage profile without resuming, another key resumes; a right click shows its request
// after REQ:, and a double click toggles full screen, also right after a right click on the spot.
TEST_F(PlayerTest, KeysAndClicksReachTheDecoderDriverAndView)
{
    Player &player = open(clipPath(QStringLiteral("h264_long.mp4")));
    ASSERT_GE(waitForFrame(), 0);
    const auto *video = qobject_cast<FFMpegVideo *>(player.video());
    ASSERT_TRUE(video && video->agent());
    QTest::keyClick(&player, Qt::Key_P);
    QTest::keyClick(&player, Qt::Key_P);
    const double pausedClock = clockOf(player);
    for (auto kind : {StorageProfile::Kind::HardDisk, StorageProfile::Kind::NetworkShare}) {
        QTest::keyClick(&player, Qt::Key_S);
        EXPECT_EQ(player.accessView().book().snapshot().storageText(), QStringLiteral("STORAGE: ") + StorageProfile(kind).label());
        EXPECT_TRUE(player.storageProfile() == StorageProfile(kind) && m_Log.contains(QStringLiteral("storage: ") + StorageProfile(kind).label()));
    }
    QTest::qWait(300);
    EXPECT_TRUE(video->agent()->isPaused());
    EXPECT_EQ(clockOf(player), pausedClock) << "the clock ran on while paused";
    QTest::keyClick(&player, Qt::Key_A);
    EXPECT_TRUE(QTest::qWaitFor([&] { return clockOf(player) > pausedClock + 0.3; }, 15000)) << "another key did not resume";

    const QPoint middle(player.width() / 2, player.height() / 2);
    QTest::mouseClick(&player, Qt::RightButton, Qt::NoModifier, middle);
    EXPECT_TRUE(m_Log.contains(QStringLiteral("vado sono su  20")));
    EXPECT_EQ(player.accessView().book().snapshot().requestText, QStringLiteral("00:00:20"));
    QTest::mouseDClick(&player, Qt::RightButton, Qt::NoModifier, middle);
    EXPECT_TRUE(QTest::qWaitFor([&] { return player.isFullScreen(); }, 5000));
    QTest::mouseDClick(&player, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !player.isFullScreen(); }, 5000));
}

// A report that cannot be written: the window says so instead of opening the clip, a warning names
// the file, and the controls do no harm. (A clip that cannot be opened is the session's row.)
TEST_F(PlayerTest, ReportThatCannotBeWrittenIsNamedAndTheControlsDoNoHarm)
{
    const QString report = m_Dir.filePath(QStringLiteral("no-such-folder/report.txt"));
    Player &player = open(clipPath(QStringLiteral("h264_aac.mp4")), report);
    const QString title = player.windowTitle();
    EXPECT_TRUE(title.startsWith(QStringLiteral("seekmark - cannot write the report ")) && title.contains(report)) << title.toStdString();
    EXPECT_TRUE(player.accessView().isVisible());
    EXPECT_FALSE(m_Log.lines().filter(QRegularExpression(QStringLiteral("^WARNING: .*") + QRegularExpression::escape(report))).isEmpty());
    EXPECT_EQ(player.video(), nullptr);
    for (Qt::Key key : {Qt::Key_P, Qt::Key_Space, Qt::Key_T})
        QTest::keyClick(&player, key);
    QTest::mouseClick(&player, Qt::RightButton, Qt::NoModifier, QPoint(100, 100));
    QTest::qWait(300);   // ticks keep coming with nothing to show
    EXPECT_EQ(player.windowTitle(), title);
    EXPECT_FALSE(m_Log.contains(QStringLiteral("vado sono su ")));
    const QImage grab = player.grabFramebuffer();
    for (int y = 0; y < grab.height(); y += 7)
        for (int x = 0; x < grab.width(); x += 7)
            ASSERT_TRUE(testsupport::isBlack(grab.pixel(x, y))) << x << "," << y;
}

} // namespace
