// The hostile tests that put windows on the display: a person hammering the controls of the
// seekmark window and of the framewise program (random seeks, pauses and resumes a few tens of
// milliseconds apart) while a watchdog fails the run when the GUI thread stops processing events
// (a deadlock), after which playback must still respond; and the file access view of a clip whose
// file was cut while it played.
#include "hostilesupport.h"

#include "tests/common/messagelog.h"
#include "tests/common/programrun.h"
#include "tests/engine/enginetestsupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTimer>

namespace {

using namespace testsupport;
using namespace hostile;


void rightClickAtSecond(Player &player, int second)
{
    QTest::mouseClick(&player, Qt::RightButton, Qt::NoModifier, QPoint(player.width() * second / 40 + 2, 150));
}

// A right click asks for second 10: the clock gets there and new pictures come.
void expectAClickPlaysOnFromSecondTen(Player &player)
{
    rightClickAtSecond(player, 10);
    EXPECT_TRUE(waitFor([&] { return player.video()->position() >= 9 && player.video()->position() <= 14; }, 20000))
        << "position " << player.video()->position();
    const int shown = player.picturesShown();
    EXPECT_TRUE(waitFor([&] { return player.picturesShown() > shown + 10; }, 20000)) << "no new pictures";
}

// The storm, then right clicks once the decoder has read the whole clip: while its last pictures
// are still shown (a seek must clear the end of input) and after it ended (the click plays again).
TEST(WindowStress, AStormAndClicksNearTheEndLeaveTheWindowPlaying)
{
    if (!hostile::hasDisplay())
        GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    QTemporaryDir dir;
    MessageLog log;
    std::unique_ptr<Player> player = hostile::showPlayer(hostile::longClip(), dir.filePath(QStringLiteral("report.txt")));
    ASSERT_TRUE(waitFor([&] { return player->picturesShown() > 0; }, 20000));
    std::mt19937 rng(1234567);
    int clicks = 0;
    {
        Heartbeat beat(QStringLiteral("storm on the seekmark window"), 10000);
        for (int i = 0; i < kStormEvents; ++i) {
            switch (draw(rng)) {
            case Action::Pause: QTest::keyClick(player.get(), Qt::Key_P); break;
            case Action::Resume: QTest::keyClick(player.get(), Qt::Key_Space); break;
            case Action::Seek:
                QTest::mouseClick(player.get(), Qt::RightButton, Qt::NoModifier, QPoint(rng() % player->width(), 150));
                ++clicks;
                break;
            case Action::Other: QTest::keyClick(player.get(), Qt::Key_T); break;
            }
            QTest::qWait(10 + rng() % 41);
        }
    }
    EXPECT_EQ(log.lines().filter(QStringLiteral("vado sono su ")).size(), clicks);
    // Keys may leave a seek test run going or a pause, which a key ends.
    if (player->seekTestRun().isActive())
        QTest::keyClick(player.get(), Qt::Key_T);
    QTest::keyClick(player.get(), Qt::Key_A);
    Heartbeat beat(QStringLiteral("checking that the window plays on"), 20000);
    expectAClickPlaysOnFromSecondTen(*player);

    auto *video = qobject_cast<FFMpegVideo *>(player->video());
    ASSERT_TRUE(video && video->agent());
    DecoderAgent *agent = video->agent();
    for (const bool waitForTheEnd : {false, true}) {
        SCOPED_TRACE(waitForTheEnd ? "after the end" : "while the last pictures are shown");
        // Second 38 of 40: the decoder soon reads to the end and waits for its queued pictures.
        rightClickAtSecond(*player, 38);
        ASSERT_TRUE(waitFor([&] { return agent->isEof() || agent->isStopped(); }, 20000));
        ASSERT_TRUE(waitForTheEnd ? waitFor([&] { return agent->isStopped(); }, 20000) : !agent->isStopped());
        expectAClickPlaysOnFromSecondTen(*player);
        EXPECT_FALSE(agent->isStopped());
    }
    player.reset();   // under the heartbeat still
}

// framewise, the built program, on damaged clips under a storm of clicks and keys, driven as a
// person would (dialogs answered with xdotool, the window watched through screenshots).
TEST(ProgramStress, FramewisePlaysDamagedClipsAndSurvivesAStormOfClicks)
{
    if (const QString missing = missingXTools(); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    ProgramRun run(QStringLiteral("framewise"));
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(run.answerDialog(hostile::corpusPath(QStringLiteral("h264_long.flip5000.mp4"))));
    ASSERT_TRUE(run.answerDialog(hostile::corpusPath(QStringLiteral("h264_long.cut90.mp4"))));
    const QString window = waitForWindow(QStringLiteral("^framewise"), {}, 30000 * slowdown());
    ASSERT_FALSE(window.isEmpty()) << "no framewise window" << run.outputTail();
    auto moving = [&] {
        const QImage a = screenshot(window);
        QThread::msleep(800);
        const QImage b = screenshot(window);
        return !a.isNull() && !b.isNull() && a != b;
    };
    EXPECT_TRUE(poll(moving, 20000 * slowdown(), 100)) << "the damaged clips do not play";

    // Right clicks (seeks), left clicks (switches) and spaces as fast as a hand, in one xdotool
    // call: a tool per event (and xdotool's own pause after a click) would slow it.
    const QImage shot = screenshot(window);
    const int width = shot.isNull() ? 640 : shot.width();
    const QString y = QString::number(shot.isNull() ? 240 : shot.height() / 2);
    std::mt19937 rng(31337);
    QStringList storm{"windowfocus", "--sync", window};
    for (int i = 0; i < kStormEvents; ++i) {
        const unsigned k = rng() % 10;
        if (k < 8)
            storm << "mousemove" << "--window" << window << QString::number(rng() % width) << y << "click"
                  << "--delay" << "1" << (k < 5 ? "3" : "1");
        else
            storm << "key" << "space";
        storm << "sleep" << QString::number((10 + rng() % 41) / 1000.0, 'f', 3);
    }
    xdo(storm, 120);
    ASSERT_TRUE(run.running()) << "framewise ended during the storm" << run.outputTail();
    EXPECT_GE(run.output().count(QStringLiteral("vado sono su ")), 100) << "the storm missed the window";
    // An odd number of spaces leaves it paused: one more resumes it.
    if (!moving())
        keyTo(window, QStringLiteral("space"));
    EXPECT_TRUE(poll(moving, 20000 * slowdown(), 100)) << "nothing moves after the storm";
    EXPECT_TRUE(run.running());
    for (const char *report : {"ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer"})
        EXPECT_FALSE(run.output().contains(QLatin1String(report))) << run.outputTail();
}

// The driver's report of a short read reaches the file access view, which shows it in red.
TEST(FileFault, TheAccessViewSaysThatTheFileWasCutShort)
{
    if (!hostile::hasDisplay())
        GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("playing.mp4"));
    ASSERT_TRUE(QFile::copy(hostile::longClip(), path));
    const std::unique_ptr<Player> player = hostile::showPlayer(path, dir.filePath(QStringLiteral("report.txt")));
    ASSERT_TRUE(waitFor([&] { return player->picturesShown() > 0; }, 20000));
    ASSERT_TRUE(QFile::resize(path, 0));
    auto *video = qobject_cast<FFMpegVideo *>(player->video());
    // What was read before plays out; then the decoder stops as at the end of the clip.
    EXPECT_TRUE(waitFor([&] { return video->agent()->isStopped(); }, 30000)) << "playback did not end";
    const QString failure = player->accessView().book().snapshot().failureText();
    EXPECT_TRUE(failure.startsWith(QStringLiteral("READ FAILED ")) && failure.contains(QStringLiteral(" of ")))
        << failure.toStdString();
    QTest::qWait(100);   // the queued repaint
    const QImage view = player->accessView().grab().toImage().convertToFormat(QImage::Format_RGB32);
    bool red = false;
    for (int y = 0; y < view.height(); ++y)
        for (int x = 0; x < view.width(); ++x)
            red = red || (qRed(view.pixel(x, y)) > 200 && qGreen(view.pixel(x, y)) < 60 && qBlue(view.pixel(x, y)) < 60);
    EXPECT_TRUE(red) << "the view does not show the failure";
}

} // namespace
