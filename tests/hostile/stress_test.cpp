// A person hammering the controls: a thousand random seeks a few tens of milliseconds apart, at the
// engine and as right clicks on the seekmark window, storms of pause and resume, and clips opened
// and closed hundreds of times. A watchdog fails the run when the GUI thread stops processing
// events (a deadlock); afterwards playback must still respond, and the process must hold no more
// files and not much more memory than before.
#include "hostilesupport.h"

#include "access/ffmpegvideo.h"
#include "access/filevideodriver.h"
#include "access/videoengine.h"
#include "engine/decoderagent.h"
#include "engine/pixelpacket.h"
#include "engine/videoagent.h"
#include "seekmark/player.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>
#include <random>

namespace {

// h264_long.mp4: 40 s, a keyframe every second, with sound.
const char *const kLongClip = "h264_long.mp4";
constexpr int kLongSeconds = 40;

// The engine as seekmark drives it, without its log lines (a thousand seeks would print thousands).
EngineOptions quietSeekmark()
{
    EngineOptions options = EngineOptions::seekmark();
    options.logChannels = false;
    return options;
}

// Keeps the watchdog fed from the GUI thread's event loop: if that loop stops (a deadlock in a
// control, a wait that never ends) the feeding stops and the watchdog ends the run.
class Heartbeat {
public:
    Heartbeat(hostile::Watchdog &dog, const QString &what, int limitMs) : m_Dog(dog)
    {
        m_Dog.arm(what, limitMs);
        QObject::connect(&m_Timer, &QTimer::timeout, [this] { m_Dog.pet(); });
        m_Timer.start(50);
    }
    ~Heartbeat() { m_Dog.disarm(); }

private:
    hostile::Watchdog &m_Dog;
    QTimer m_Timer;
};

// Runs the display side of a decoder for ms milliseconds: a picture request every few
// milliseconds, as the player's tick would, with events processed in between.
int display(DecoderAgent &decoder, int ms)
{
    int pictures = 0;
    PixelPacket *last = nullptr;
    QDeadlineTimer until(ms);
    do {
        PixelPacket *p = decoder.nextPicture();
        if (p && p != last)
            ++pictures;
        if (p)
            last = p;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        QThread::msleep(2);
    } while (!until.hasExpired());
    return pictures;
}

class EngineStress : public ::testing::Test {
protected:
    void SetUp() override
    {
        hostile::useDummyAudio();
        m_Source = std::make_unique<hostile::FileSource>(testsupport::clipPath(QString::fromLatin1(kLongClip)));
        m_Decoder = std::make_unique<DecoderAgent>(m_Source.get(), quietSeekmark());
        ASSERT_TRUE(m_Decoder->open()) << m_Decoder->openError().toStdString();
        ASSERT_TRUE(m_Decoder->hasAudio());
        QObject::connect(m_Decoder.get(), &DecoderAgent::seekDone, [this] { ++m_SeekDones; });
    }

    void TearDown() override
    {
        hostile::Watchdog::Scope scope(m_Dog, QStringLiteral("closing the decoder"), 20000);
        m_Decoder.reset();
    }

    // After the storm: a seek to 10 s is followed, within seconds, by the clock running near 10 s
    // and by new pictures.
    void expectStillPlaying()
    {
        Heartbeat beat(m_Dog, QStringLiteral("checking that playback goes on"), 20000);
        if (m_Decoder->isPaused() || m_Decoder->isStopped())
            m_Decoder->start();
        m_Decoder->seek(10);
        bool near = false;
        QDeadlineTimer deadline(20000 * hostile::slowdown());
        while (!near && !deadline.hasExpired()) {
            display(*m_Decoder, 50);
            const qint64 at = m_Decoder->positionMs();
            near = at >= 9000 && at <= 14000;
        }
        EXPECT_TRUE(near) << "the clock stands at " << m_Decoder->positionMs() << " ms";
        const qint64 from = m_Decoder->positionMs();
        EXPECT_GT(display(*m_Decoder, 1500), 3) << "no new pictures";
        EXPECT_GT(m_Decoder->positionMs(), from) << "the clock does not move";
    }

    hostile::Watchdog m_Dog;
    std::unique_ptr<hostile::FileSource> m_Source;
    std::unique_ptr<DecoderAgent> m_Decoder;
    int m_SeekDones = 0;
};

TEST_F(EngineStress, AThousandSeeksDuringPlayback)
{
    std::mt19937 rng(1234567);
    std::uniform_int_distribution<int> gap(10, 50);
    // A few seconds past the end too: a target beyond the clip lands on its last keyframe.
    std::uniform_int_distribution<int> target(0, kLongSeconds + 2);
    ASSERT_TRUE(m_Decoder->start());
    {
        Heartbeat beat(m_Dog, QStringLiteral("a thousand seeks at the engine"), 10000);
        for (int i = 0; i < 1000; ++i) {
            display(*m_Decoder, gap(rng));
            m_Decoder->seek(target(rng));
            // The player restarts a decoder that stopped at the end of the clip.
            if (m_Decoder->isStopped())
                m_Decoder->start();
        }
    }
    EXPECT_GT(m_SeekDones, 0);
    EXPECT_LE(m_SeekDones, 1000) << "a seek was acknowledged more than once";
    EXPECT_LE(m_Decoder->audioQueue().count(), DecoderAgent::audioQueueCapacity);
    expectStillPlaying();
}

TEST_F(EngineStress, PauseAndResumeStorm)
{
    std::mt19937 rng(7654321);
    std::uniform_int_distribution<int> gap(10, 50);
    std::uniform_int_distribution<int> action(0, 9);
    std::uniform_int_distribution<int> target(0, kLongSeconds - 1);
    ASSERT_TRUE(m_Decoder->start());
    {
        Heartbeat beat(m_Dog, QStringLiteral("pausing and resuming the engine"), 10000);
        for (int i = 0; i < 250; ++i) {
            display(*m_Decoder, gap(rng));
            const int a = action(rng);
            if (a < 4)
                m_Decoder->pause();
            else if (a < 8)
                m_Decoder->start();
            else
                m_Decoder->seek(target(rng));
        }
    }
    expectStillPlaying();
}

// The seekmark window itself, driven as a hand on the mouse and keyboard would drive it.
class WindowStress : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
            GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
        hostile::useDummyAudio();
        ASSERT_TRUE(m_Dir.isValid());
        Player::Setup setup;
        setup.askForClip = false;
        setup.clip = testsupport::clipPath(QString::fromLatin1(kLongClip));
        setup.reportFile = m_Dir.filePath(QStringLiteral("report.txt"));
        m_Player = std::make_unique<Player>(setup);
        m_Player->resize(400, 300);
        m_Player->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_Player.get(), 20000));
        ASSERT_TRUE(hostile::waitFor([&] { return m_Player->picturesShown() > 0; }, 20000));
    }

    void TearDown() override
    {
        hostile::Watchdog::Scope scope(m_Dog, QStringLiteral("closing the seekmark window"), 20000);
        m_Player.reset();
    }

    void rightClick(int x) { QTest::mouseClick(m_Player.get(), Qt::RightButton, Qt::NoModifier, QPoint(x, 150)); }

    // A right click at a quarter of the window asks for second 10: the clock gets there and new
    // pictures come, whatever state the storm left the window in. After keys a pause may be left,
    // which a key ends; right clicks alone must never leave the window stuck.
    void expectStillPlaying(bool afterKeys)
    {
        Heartbeat beat(m_Dog, QStringLiteral("checking that the window plays on"), 20000);
        if (afterKeys) {
            if (m_Player->seekTestRun().isActive())
                QTest::keyClick(m_Player.get(), Qt::Key_T);
            QTest::keyClick(m_Player.get(), Qt::Key_A);
        }
        rightClick(m_Player->width() / 4);
        EXPECT_TRUE(hostile::waitFor(
            [&] {
                const qint64 at = m_Player->video()->position();
                return at >= 9 && at <= 14;
            },
            20000))
            << "position " << m_Player->video()->position();
        const int shown = m_Player->picturesShown();
        EXPECT_TRUE(hostile::waitFor([&] { return m_Player->picturesShown() > shown + 10; }, 20000))
            << "no new pictures after the storm";
    }

    QTemporaryDir m_Dir;
    hostile::MessageLog m_Log;
    hostile::Watchdog m_Dog;
    std::unique_ptr<Player> m_Player;
};

TEST_F(WindowStress, AThousandRightClicks)
{
    std::mt19937 rng(424242);
    std::uniform_int_distribution<int> gap(10, 50);
    std::uniform_int_distribution<int> x(0, m_Player->width() - 1);
    {
        Heartbeat beat(m_Dog, QStringLiteral("a thousand right clicks on the seekmark window"), 10000);
        for (int i = 0; i < 1000; ++i) {
            rightClick(x(rng));
            QTest::qWait(gap(rng));
        }
    }
    EXPECT_EQ(m_Log.count(QStringLiteral("vado sono su ")), 1000);
    expectStillPlaying(false);
}

TEST_F(WindowStress, PauseResumeAndSeekStorm)
{
    std::mt19937 rng(99991);
    std::uniform_int_distribution<int> gap(10, 50);
    std::uniform_int_distribution<int> action(0, 19);
    std::uniform_int_distribution<int> x(0, m_Player->width() - 1);
    {
        Heartbeat beat(m_Dog, QStringLiteral("pause, resume and seek storm on the seekmark window"), 10000);
        for (int i = 0; i < 250; ++i) {
            const int a = action(rng);
            if (a < 7)
                QTest::keyClick(m_Player.get(), Qt::Key_P);
            else if (a < 13)
                QTest::keyClick(m_Player.get(), Qt::Key_Space);
            else if (a < 19)
                rightClick(x(rng));
            else
                QTest::keyClick(m_Player.get(), Qt::Key_T);   // seek test runs start and stop
            QTest::qWait(gap(rng));
        }
    }
    expectStillPlaying(true);
}

// A right click once the decoder has read the whole clip: while its last pictures are still
// being shown, and after it has ended. Either way the click seeks and playback goes on from there.
TEST(SeekNearTheEnd, ARightClickPlaysOnFromTheClickedSecond)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    hostile::useDummyAudio();
    struct Case {
        const char *name;
        bool waitForTheEnd;   // false: click while the last pictures are still queued
    };
    for (const Case c : {Case{"while the last pictures are shown", false}, Case{"after the end", true}}) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        hostile::MessageLog log;
        hostile::Watchdog dog;
        Player::Setup setup;
        setup.askForClip = false;
        setup.clip = testsupport::clipPath(QStringLiteral("h264_long.mp4"));
        setup.reportFile = dir.filePath(QStringLiteral("report.txt"));
        auto player = std::make_unique<Player>(setup);
        player->resize(400, 300);
        player->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(player.get(), 20000));
        auto *video = qobject_cast<FFMpegVideo *>(player->video());
        ASSERT_TRUE(video && video->agent());
        DecoderAgent *agent = video->agent();

        // Second 38 of 40: the decoder soon reads to the end of the file and waits for the
        // pictures it queued to be shown.
        QTest::mouseClick(player.get(), Qt::RightButton, Qt::NoModifier, QPoint(player->width() * 38 / 40 + 2, 150));
        ASSERT_TRUE(hostile::waitFor([&] { return agent->isEof() || agent->isStopped(); }, 20000));
        if (c.waitForTheEnd)
            ASSERT_TRUE(hostile::waitFor([&] { return agent->isStopped(); }, 20000));
        else
            ASSERT_FALSE(agent->isStopped()) << "the clip ended before the click could come";

        QTest::mouseClick(player.get(), Qt::RightButton, Qt::NoModifier, QPoint(player->width() / 4, 150));
        EXPECT_TRUE(hostile::waitFor(
            [&] {
                const qint64 at = player->video()->position();
                return at >= 9 && at <= 14;
            },
            20000))
            << "position " << player->video()->position();
        const int shown = player->picturesShown();
        EXPECT_TRUE(hostile::waitFor([&] { return player->picturesShown() > shown + 10; }, 20000))
            << "the click did not bring playback back";
        EXPECT_FALSE(agent->isStopped());
        hostile::Watchdog::Scope scope(dog, QStringLiteral("closing the seekmark window"), 20000);
        player.reset();
    }
}

// Open, play a few pictures, close; hundreds of times. Every descriptor opened is closed again
// and the memory settles (loose bounds: the allocator keeps some of what was freed).
TEST(OpenCloseCycles, NoFilesOrMemoryAreLeft)
{
    hostile::useDummyAudio();
    hostile::Watchdog dog;
    VideoEngine engine;
    FileVideoDriver driver;
    engine.registerDriver(QStringLiteral("file"), &driver);
    const QString url = QStringLiteral("file://") + testsupport::clipPath(QStringLiteral("h264_aac.mp4"));
    const QString byPath = testsupport::clipPath(QStringLiteral("vp9_opus.mkv"));

    auto cycle = [&](int i) {
        hostile::Watchdog::Scope scope(dog, QStringLiteral("open/close cycle %1").arg(i), 20000);
        {
            auto video = std::make_unique<FFMpegVideo>(&engine, url, nullptr, hostile::fastSeekmark());
            ASSERT_TRUE(video->open()) << video->errorString().toStdString();
            video->play();
            VideoAgent *scheduler = video->agent()->videoAgent();
            int pictures = 0;
            ASSERT_TRUE(hostile::waitFor(
                [&] {
                    while (DataPacket *p = scheduler->pictures().take()) {
                        delete p;
                        ++pictures;
                    }
                    return pictures >= 3;
                },
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

    for (int i = 0; i < 10; ++i) {
        cycle(i);
        if (::testing::Test::HasFatalFailure())
            return;
    }
    const int filesBefore = hostile::openFileCount();
    const qint64 memoryBefore = hostile::residentBytes();
    for (int i = 0; i < 200; ++i) {
        cycle(i);
        if (::testing::Test::HasFatalFailure())
            return;
    }
    EXPECT_EQ(hostile::openFileCount(), filesBefore) << "descriptors left open";
    if (!hostile::sanitizerBuild()) {
        // The sanitizer's allocator holds freed memory back on purpose; its leak check covers that build.
        const qint64 growth = hostile::residentBytes() - memoryBefore;
        EXPECT_LT(growth, 30 * 1024 * 1024) << "resident memory grew by " << growth / 1024 << " KiB";
    }
}

} // namespace
