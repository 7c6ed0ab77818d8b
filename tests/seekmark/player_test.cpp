// The seekmark window in this process on real parts: clips decoded by FFmpeg, sound through SDL's
// dummy driver, pictures through GL under Xvfb read back from the framebuffer. The test
// chooses the clip and the report file instead of the open dialog.
#include "seekmark/player.h"

#include "access/ffmpegvideo.h"
#include "engine/decoderagent.h"
#include "seektest/seekrow.h"
#include "tests/common/messagelog.h"
#include "tests/common/screenpicture.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

namespace {

std::unique_ptr<Player> open(const char *clip, const QTemporaryDir &dir)
{
    Player::Setup setup;
    setup.askForClip = false;
    setup.clip = testsupport::clipPath(QString::fromLatin1(clip));
    setup.reportFile = dir.filePath(QStringLiteral("report.txt"));
    auto player = std::make_unique<Player>(setup);
    player->resize(640, 480);
    player->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(player.get(), 20000));
    return player;
}

int frameOn(Player &player)
{
    return testsupport::frameNumberOn(player.grabFramebuffer(), QSize(320, 240));
}

// Each clip plays to its last picture with the numbers on screen advancing at its rate, with and
// without sound (the picture clock differs), also where the sound does not cover the picture
// (starts late, ends early, has a hole, comes in coarse blocks, has no decoder).
TEST(PlayerTest, PlaysEachClipToTheEndAtItsRate)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    const struct {
        const char *name;
        int rate, pictures;
    } clips[] = {{"h264_aac.mp4", 25, 200},     {"h264_noaudio.mp4", 25, 200}, {"mpeg2_mp2.mpg", 25, 200},
                 {"sound_late.mp4", 25, 150},   {"sound_short60.ts", 60, 300}, {"sound_hole.mkv", 25, 150},
                 {"sound_coarse.mp4", 60, 240}, {"mpeg2_gop12.mpg", 25, 150},  {"no_audio_decoder.mkv", 25, 200}};
    QTemporaryDir dir;
    testsupport::MessageLog log;
    for (const auto &c : clips) {
        SCOPED_TRACE(c.name);
        log.clear();
        const std::unique_ptr<Player> player = open(c.name, dir);
        QElapsedTimer elapsed;
        elapsed.start();
        int first = -1;
        QTest::qWaitFor([&] { return (first = frameOn(*player)) >= 0; }, 20000);
        qint64 lastAt = elapsed.elapsed(), firstAt = lastAt;
        ASSERT_GE(first, 0) << "no readable picture on screen";
        EXPECT_TRUE(log.contains(QStringLiteral("FPS %1").arg(c.rate)));
        EXPECT_EQ(log.lines().filter(QStringLiteral("playing the picture without sound")).size(), QByteArray(c.name).startsWith("no_audio") ? 1 : 0);
        int last = first;
        QTest::qWaitFor([&] {
            if (const int frame = frameOn(*player); frame > last) {
                last = frame;
                lastAt = elapsed.elapsed();
            }
            return last >= c.pictures - 1 || (last >= c.pictures * 9 / 10 && elapsed.elapsed() - lastAt > 2000);
        }, 30000);
        // Pictures may go to the drop rule while the test grabs the screen (each grab is a
        // software-GL read-back), but the clip's last one stays on screen once it has ended: one
        // lost from the decoder's tail, or a stall, leaves an earlier one there.
        EXPECT_EQ(last, c.pictures - 1) << "stopped at picture " << last;
        EXPECT_NEAR((last - first) * 1000.0 / std::max<qint64>(1, lastAt - firstAt), c.rate, c.rate * 0.25)
            << "pictures " << first << " to " << last << " in " << lastAt - firstAt << " ms";
    }
}

// P pauses (twice stays paused) and another key resumes with the picture after the paused one;
// the picture on screen keeps to the clock. Right clicks while playing, while paused (then
// resumed) and after the clip has ended land on the clicked second's keyframe (one a second):
// each judged by the first picture shown after it, on screen and in the seek table read back.
// A double click right after a right click on the spot toggles full screen.
TEST(PlayerTest, KeysAndClicksReachTheDecoderAndTheView)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    QTemporaryDir dir;
    std::unique_ptr<Player> player = open("h264_long.mp4", dir);
    ASSERT_TRUE(QTest::qWaitFor([&] { return frameOn(*player) >= 25; }, 20000));
    const auto *video = qobject_cast<FFMpegVideo *>(player->video());
    ASSERT_TRUE(video && video->agent());
    const auto clock = [&] { return video->agent()->m_Clock.load(); };
    // The picture on screen as soon as the next one has been shown.
    const auto nextShown = [&] {
        const int shown = player->picturesShown();
        return QTest::qWaitFor([&] { return player->picturesShown() > shown; }, 15000) ? frameOn(*player) : -1;
    };

    const double before = clock();
    const int playing = frameOn(*player);
    const double after = clock();
    // Shown from 50 ms late to 100 ms early; a grab takes a while.
    EXPECT_TRUE(playing >= (before - 0.1) * 25 && playing <= (after + 0.15) * 25)
        << "picture " << playing << " on screen, the clock at " << before << " to " << after << " s";

    QTest::keyClick(player.get(), Qt::Key_P);
    QTest::keyClick(player.get(), Qt::Key_P);
    const double pausedClock = clock();
    QTest::qWait(300);
    EXPECT_TRUE(video->agent()->isPaused() && clock() == pausedClock) << "the clock ran on while paused";
    const int pausedFrame = frameOn(*player);
    QTest::keyClick(player.get(), Qt::Key_A);
    EXPECT_EQ(nextShown(), pausedFrame + 1) << "another key did not resume from the paused picture";

    // Forward far past what playing on reaches in the time allowed, or backwards: only the seek
    // shows the clicked second. After the end, the last second first plays out.
    const struct {
        const char *when;
        double x;      // of the window's width
        int target;    // the second asked for
    } clicks[] = {{"playing", 0.75, 30}, {"playing, backwards", 0.25, 10}, {"paused", 0.5, 20}, {"after the end", 0.125, 5}};
    std::vector<int> landed;
    for (const auto &c : clicks) {
        SCOPED_TRACE(c.when);
        const bool paused = QByteArray(c.when) == "paused";
        if (paused)
            QTest::keyClick(player.get(), Qt::Key_P);
        if (QByteArray(c.when) == "after the end") {
            QTest::mouseClick(player.get(), Qt::RightButton, Qt::NoModifier, QPoint(player->width() * 39 / 40, 10));
            ASSERT_TRUE(QTest::qWaitFor([&] { return frameOn(*player) == 999 && video->agent()->isStopped(); }, 15000))
                << "not at the end: picture " << frameOn(*player);
            landed.push_back(39 * 25);
        }
        const int shown = player->picturesShown();
        QTest::mouseClick(player.get(), Qt::RightButton, Qt::NoModifier, QPoint(int(player->width() * c.x), 10));
        EXPECT_EQ(player->accessView().book().snapshot().requestText, QStringLiteral("00:00:%1").arg(c.target, 2, 10, QLatin1Char('0')));
        if (paused) {
            // The landed picture may come up while paused, or with the resume; none after it.
            QTest::qWait(500);
            const bool cameUp = player->picturesShown() > shown;
            const int onScreen = frameOn(*player);
            QTest::keyClick(player.get(), Qt::Key_A);
            landed.push_back(cameUp ? onScreen : nextShown());
        } else {
            landed.push_back(nextShown());
        }
        EXPECT_EQ(landed.back(), c.target * 25);
        EXPECT_EQ(nextShown(), c.target * 25 + 1) << "did not play on from the picture it landed on";
    }

    const QPoint middle(player->width() / 2, player->height() / 2);
    QTest::mouseClick(player.get(), Qt::RightButton, Qt::NoModifier, middle);
    QTest::mouseDClick(player.get(), Qt::RightButton, Qt::NoModifier, middle);
    EXPECT_TRUE(QTest::qWaitFor([&] { return player->isFullScreen(); }, 5000));

    // The table has a row per seek with the picture the screen showed first.
    const QString rowsPath = player->seekRowsPath();
    player.reset();
    QFile rows(rowsPath);
    ASSERT_TRUE(rows.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(rows.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), int(landed.size()) + 1) << lines.join(QLatin1Char('\n')).toStdString();
    const QStringList header = SeekRow::splitCsv(lines.first());
    for (size_t i = 0; i < landed.size(); ++i) {
        SeekRow row;
        ASSERT_TRUE(SeekRow::parse(header, lines[int(i) + 1], row)) << lines[int(i) + 1].toStdString();
        EXPECT_TRUE(row.batch == SeekRow::ClickBatch && row.target == landed[i] / 25 && row.pictureShown && row.keyFrame
                    && std::lround(row.pictureTime * 25) == landed[i]) << lines[int(i) + 1].toStdString();
    }
}

} // namespace
