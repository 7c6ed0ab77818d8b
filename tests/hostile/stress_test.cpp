// A person hammering the controls: a thousand random seeks a few tens of milliseconds apart, at the
// engine and as right clicks on the seekmark window, storms of pause and resume, and clips opened
// and closed hundreds of times. A watchdog fails the run when the GUI thread stops processing
// events (a deadlock); afterwards playback must still respond, and the process must hold no more
// files and not much more memory than before.
#include "hostilesupport.h"

#include "access/ffmpegvideo.h"
#include "access/filevideodriver.h"
#include "access/videoengine.h"
#include "seekmark/player.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <random>

namespace {

// 40 s, a keyframe every second, with sound.
const QString kLongClip = QStringLiteral("h264_long.mp4");

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

// A storm: `events` actions a random 10 to 50 ms apart, each drawn from 20 shares: pauses (P on
// the window), resumes (Space), seeks (right clicks); at the engine the rest are seeks too, on the
// window T, which starts and stops seek test runs.
struct Storm {
    const char *name;
    unsigned seed;
    int events;
    int pauses;
    int resumes;
    int seeks;
};

const Storm kStorms[] = {
    {"a thousand seeks", 1234567, 1000, 0, 0, 20},
    {"pause, resume and seek", 7654321, 250, 7, 6, 6},
};

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

TEST(EngineStress, StormsLeavePlaybackResponding)
{
    hostile::useDummyAudio();
    for (const Storm &storm : kStorms) {
        SCOPED_TRACE(storm.name);
        hostile::FileSource source(testsupport::clipPath(kLongClip));
        EngineOptions options = EngineOptions::seekmark();
        options.logChannels = false;   // a thousand seeks would print thousands of lines
        auto decoder = std::make_unique<DecoderAgent>(&source, options);
        ASSERT_TRUE(decoder->open()) << decoder->openError().toStdString();
        int seekDones = 0;
        int seeks = 0;
        QObject::connect(decoder.get(), &DecoderAgent::seekDone, [&seekDones] { ++seekDones; });
        ASSERT_TRUE(decoder->start());
        std::mt19937 rng(storm.seed);
        {
            Heartbeat beat(QStringLiteral("storm at the engine: %1").arg(storm.name), 10000);
            for (int i = 0; i < storm.events; ++i) {
                display(*decoder, 10 + rng() % 41);
                const int a = rng() % 20;
                if (a < storm.pauses) {
                    decoder->pause();
                } else if (a < storm.pauses + storm.resumes) {
                    decoder->start();
                } else {
                    decoder->seek(rng() % 43);   // past the end lands on the last keyframe
                    ++seeks;
                }
                // The player restarts a decoder that stopped at the end of the clip.
                if (decoder->isStopped())
                    decoder->start();
            }
        }
        if (storm.pauses == 0) {
            EXPECT_GT(seekDones, 0);
        }
        EXPECT_LE(seekDones, seeks) << "a seek was acknowledged more than once";
        EXPECT_LE(decoder->audioQueue().count(), DecoderAgent::audioQueueCapacity);

        // A seek to 10 s: within seconds it is acknowledged, the clock runs near 10 s and new
        // pictures come.
        Heartbeat beat(QStringLiteral("checking that playback goes on"), 20000);
        decoder->start();
        const int donesBefore = seekDones;
        decoder->seek(10);
        EXPECT_TRUE(hostile::waitFor(
            [&] {
                display(*decoder, 50);
                return seekDones > donesBefore && decoder->positionMs() >= 9000 && decoder->positionMs() <= 14000;
            },
            20000))
            << "the clock stands at " << decoder->positionMs() << " ms";
        const qint64 from = decoder->positionMs();
        EXPECT_GT(display(*decoder, 1500), 3) << "no new pictures";
        EXPECT_GT(decoder->positionMs(), from) << "the clock does not move";
        decoder.reset();
    }
}

void rightClick(Player &player, int x)
{
    QTest::mouseClick(&player, Qt::RightButton, Qt::NoModifier, QPoint(x, 150));
}

// A right click at a quarter of the window asks for second 10: the clock gets there and new
// pictures come, whatever state the window was left in.
void expectAClickPlaysOnFromSecondTen(Player &player)
{
    rightClick(player, player.width() / 4);
    EXPECT_TRUE(hostile::waitFor([&] { return player.video()->position() >= 9 && player.video()->position() <= 14; },
                                 20000))
        << "position " << player.video()->position();
    const int shown = player.picturesShown();
    EXPECT_TRUE(hostile::waitFor([&] { return player.picturesShown() > shown + 10; }, 20000))
        << "no new pictures after the click";
}

TEST(WindowStress, StormsOfClicksAndKeysLeaveTheWindowPlaying)
{
    if (!hostile::hasDisplay())
        GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    for (const Storm &storm : kStorms) {
        SCOPED_TRACE(storm.name);
        QTemporaryDir dir;
        hostile::MessageLog log;
        std::unique_ptr<Player> player =
            hostile::showPlayer(testsupport::clipPath(kLongClip), dir.filePath(QStringLiteral("report.txt")));
        ASSERT_TRUE(hostile::waitFor([&] { return player->picturesShown() > 0; }, 20000));
        std::mt19937 rng(storm.seed);
        int clicks = 0;
        {
            Heartbeat beat(QStringLiteral("storm on the seekmark window: %1").arg(storm.name), 10000);
            for (int i = 0; i < storm.events; ++i) {
                const int a = rng() % 20;
                if (a < storm.pauses) {
                    QTest::keyClick(player.get(), Qt::Key_P);
                } else if (a < storm.pauses + storm.resumes) {
                    QTest::keyClick(player.get(), Qt::Key_Space);
                } else if (a < storm.pauses + storm.resumes + storm.seeks) {
                    rightClick(*player, rng() % player->width());
                    ++clicks;
                } else {
                    QTest::keyClick(player.get(), Qt::Key_T);
                }
                QTest::qWait(10 + rng() % 41);
            }
        }
        if (clicks == storm.events) {
            EXPECT_EQ(log.count(QStringLiteral("vado sono su ")), clicks);
        } else {
            // Keys may leave a seek test run going or a pause, which a key ends; clicks alone
            // must never leave the window stuck.
            if (player->seekTestRun().isActive())
                QTest::keyClick(player.get(), Qt::Key_T);
            QTest::keyClick(player.get(), Qt::Key_A);
        }
        Heartbeat beat(QStringLiteral("checking that the window plays on"), 20000);
        expectAClickPlaysOnFromSecondTen(*player);
        player.reset();
    }
}

// A right click once the decoder has read the whole clip: while its last pictures are still
// being shown, and after it has ended. Either way the click seeks and playback goes on from there.
TEST(SeekNearTheEnd, ARightClickPlaysOnFromTheClickedSecond)
{
    if (!hostile::hasDisplay())
        GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    for (const bool waitForTheEnd : {false, true}) {
        SCOPED_TRACE(waitForTheEnd ? "after the end" : "while the last pictures are shown");
        QTemporaryDir dir;
        hostile::MessageLog log;
        std::unique_ptr<Player> player =
            hostile::showPlayer(testsupport::clipPath(kLongClip), dir.filePath(QStringLiteral("report.txt")));
        auto *video = qobject_cast<FFMpegVideo *>(player->video());
        ASSERT_TRUE(video && video->agent());
        DecoderAgent *agent = video->agent();
        // Second 38 of 40: the decoder soon reads to the end of the file and waits for the
        // pictures it queued to be shown.
        rightClick(*player, player->width() * 38 / 40 + 2);
        ASSERT_TRUE(hostile::waitFor([&] { return agent->isEof() || agent->isStopped(); }, 20000));
        if (waitForTheEnd) {
            ASSERT_TRUE(hostile::waitFor([&] { return agent->isStopped(); }, 20000));
        } else {
            ASSERT_FALSE(agent->isStopped()) << "the clip ended before the click could come";
        }
        expectAClickPlaysOnFromSecondTen(*player);
        EXPECT_FALSE(agent->isStopped());
        hostile::Watchdog dog(QStringLiteral("closing the seekmark window"), 20000);
        player.reset();
    }
}

// Open, play a few pictures, close; hundreds of times. Every descriptor opened is closed again
// and the memory settles (loose bounds: the allocator keeps some of what was freed).
TEST(OpenCloseCycles, NoFilesOrMemoryAreLeft)
{
    hostile::useDummyAudio();
    VideoEngine engine;
    FileVideoDriver driver;
    engine.registerDriver(QStringLiteral("file"), &driver);
    const QString url = QStringLiteral("file://") + testsupport::clipPath(QStringLiteral("h264_aac.mp4"));
    const QString byPath = testsupport::clipPath(QStringLiteral("vp9_opus.mkv"));

    auto cycle = [&](int i) {
        hostile::Watchdog dog(QStringLiteral("open/close cycle %1").arg(i), 20000);
        {
            FFMpegVideo video(&engine, url, nullptr, hostile::fastSeekmark());
            ASSERT_TRUE(video.open()) << video.errorString().toStdString();
            video.play();
            int pictures = 0;
            ASSERT_TRUE(hostile::waitFor([&] { return (pictures += testsupport::takeQueued(*video.agent())) >= 3; },
                                         20000));
        }
        // Every tenth cycle also the framewise form, which opens its file by path.
        if (i % 10 == 0) {
            DecoderAgent decoder(nullptr, hostile::fastFramewise());
            ASSERT_TRUE(decoder.open(byPath)) << decoder.openError().toStdString();
            decoder.start();
            ASSERT_TRUE(hostile::waitFor([&] { return decoder.videoAgent()->pictures().count() >= 3; }, 20000));
            decoder.stop();
        }
    };
    int filesBefore = 0;
    qint64 memoryBefore = 0;
    for (int i = 0; i < 210 && !::testing::Test::HasFatalFailure(); ++i) {
        if (i == 10) {   // once the first cycles have set up what stays for the process's life
            filesBefore = hostile::openFileCount();
            memoryBefore = hostile::residentBytes();
        }
        cycle(i);
    }
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    EXPECT_EQ(hostile::openFileCount(), filesBefore) << "descriptors left open";
    // The sanitizer's allocator holds freed memory back on purpose; its leak check covers that build.
    const qint64 growth = hostile::residentBytes() - memoryBefore;
    EXPECT_TRUE(hostile::sanitizerBuild() || growth < 30 * 1024 * 1024)
        << "resident memory grew by " << growth / 1024 << " KiB";
}

} // namespace
