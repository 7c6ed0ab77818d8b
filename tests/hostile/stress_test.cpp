// A person hammering the controls: random seeks, pauses and resumes a few tens of milliseconds
// apart at the engine, on the seekmark window and on the framewise program, and clips opened and
// closed a hundred times. A watchdog fails the run when the GUI thread stops processing events (a
// deadlock); afterwards playback must still respond, and the process must hold no more files and
// not much more memory than before.
#include "hostilesupport.h"

#include "tests/common/messagelog.h"
#include "tests/common/programrun.h"
#include "tests/engine/enginetestsupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTimer>

namespace {

using namespace testsupport;

// 40 s, a keyframe every second, with sound.
const QString kLongClip = clipPath(QStringLiteral("h264_long.mp4"));

// A watchdog fed from the GUI thread's event loop: if that loop stops (a deadlock in a control, a
// wait that never ends) the feeding stops and the watchdog ends the run.
class Heartbeat {
public:
    Heartbeat(const QString &what, int limitMs) : m_Dog(what, limitMs)
    {
        QObject::connect(&m_Timer, &QTimer::timeout, [this] { m_Dog.pet(); });
        m_Timer.start(50);
    }

private:
    hostile::Watchdog m_Dog;
    QTimer m_Timer;
};

// 300 actions a random 10 to 50 ms apart, each drawn from 20 shares: 3 pauses, 3 resumes, 13 seeks
// and one more seek at the engine, a T (seek test runs start and stop) on the window.
enum class Action { Pause, Resume, Seek, Other };
constexpr int kStormEvents = 300;
Action draw(std::mt19937 &rng)
{
    const unsigned a = rng() % 20;
    return a < 3 ? Action::Pause : a < 6 ? Action::Resume : a < 19 ? Action::Seek : Action::Other;
}

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
    enginetest::FileByteSource source(kLongClip);
    EngineOptions options = EngineOptions::seekmark();
    options.logChannels = false;   // hundreds of seeks would print thousands of lines
    auto decoder = std::make_unique<DecoderAgent>(&source, options);
    ASSERT_TRUE(decoder->open()) << decoder->openError().toStdString();
    int seekDones = 0;
    int seeks = 0;
    QObject::connect(decoder.get(), &DecoderAgent::seekDone, [&seekDones] { ++seekDones; });
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
    std::unique_ptr<Player> player = hostile::showPlayer(kLongClip, dir.filePath(QStringLiteral("report.txt")));
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
