// framewise's window in this process, on a real GL context under Xvfb, decoding real clips: the
// fitted picture and the indicator square of the clip on screen, both clips on the same source
// picture after the start and after a right-click seek, playback at about the clip's rate, the
// controls, and clips that cannot be opened.
#include "framewise/player.h"

#include "tests/common/screenpicture.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

namespace {

using namespace testsupport;

bool haveGui()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

QImage grab(Player &player)
{
    return player.grabFramebuffer();
}

QSize shownSize(const Player &player)
{
    return player.showsFirst() ? player.pictureSize1() : player.pictureSize2();
}

int shownNumber(Player &player)
{
    return frameNumberOn(grab(player), shownSize(player));
}

void leftClick(Player &player)
{
    QTest::mouseClick(&player, Qt::LeftButton, {}, QPoint(player.width() / 2, player.height() / 2));
}

// Pauses and reads both clips (a left click to the second and back). A comparison comes out
// unequal only in the one tick in which the pairing moves a clip, or when a decoder fell behind
// on a loaded machine: then play on for a moment and look again, a few times at most. A lasting
// offset never matches. Returns (first, second) and appends what it saw to seen.
std::pair<int, int> pauseAndCompare(Player &player, std::string &seen)
{
    std::pair<int, int> both{-1, -1};
    for (int attempt = 0; attempt < 4 && (both.first < 0 || both.first != both.second); ++attempt) {
        if (attempt > 0) {
            QTest::keyClick(&player, Qt::Key_Space);
            QTest::qWait(300);
        }
        QTest::keyClick(&player, Qt::Key_Space);
        EXPECT_TRUE(player.isPaused() && !player.isRendering() && player.showsFirst());
        both.first = shownNumber(player);
        EXPECT_EQ(markerOn(grab(player), shownSize(player)), Marker::Red);
        leftClick(player);
        both.second = shownNumber(player);
        EXPECT_EQ(markerOn(grab(player), shownSize(player)), Marker::Blue);
        leftClick(player);
        seen += "\n  first " + std::to_string(both.first) + ", second " + std::to_string(both.second);
    }
    return both;
}

TEST(FramewisePlayer, ShowsTwoEncodesOfOneSourceInStep)
{
    if (!haveGui())
        GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    // The clip with B-frames (MP4) first, then second.
    for (const auto &[first, second] : {std::pair{"h264_aac.mp4", "h264_nobframes.mkv"},
                                        std::pair{"h264_nobframes.mkv", "h264_aac.mp4"}}) {
        SCOPED_TRACE(first);
        Player player(Player::Clips{clipPath(first), clipPath(second)});
        ASSERT_FALSE(player.openFailed());
        EXPECT_EQ(player.windowTitle(), QStringLiteral("framewise"));
        EXPECT_EQ(player.frameInterval(), 40);
        player.resize(800, 400);   // wider than the picture: bars left and right
        player.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&player));
        ASSERT_TRUE(QTest::qWaitFor([&] { return shownNumber(player) >= 1; }, 20000)) << "no picture on screen";
        EXPECT_TRUE(player.isRendering());

        {
            SCOPED_TRACE("layout");
            const QImage screen = grab(player);
            ASSERT_EQ(screen.size(), QSize(800, 400));
            const QRectF r = fittedRect(QSize(320, 240), screen.size());   // 533 x 400
            for (int x : {10, int(r.left()) - 6, int(r.right()) + 6, 789})
                EXPECT_TRUE(isBlack(screen.pixel(x, 200))) << "bar at x " << x;
            // The picture's bands are grey or white, never black, right up to its edges.
            for (int x : {int(r.left()) + 3, int(r.right()) - 3})
                EXPECT_FALSE(isBlack(screen.pixel(x, 300))) << "picture at x " << x;
            // The square covers only a 25th of the picture.
            const QRgb beside = screen.pixel(int(r.left() + r.width() / 10), int(r.top() + r.height() / 50));
            EXPECT_FALSE(qRed(beside) > 200 && qGreen(beside) < 50);
        }

        std::string seen;
        std::pair<int, int> both = pauseAndCompare(player, seen);
        EXPECT_EQ(both.first, both.second) << "after the start:" << seen;

        {
            SCOPED_TRACE("a paused window switches at once, a double click is two clicks");
            const int before = shownNumber(player);
            QTest::mouseDClick(&player, Qt::LeftButton, {}, QPoint(400, 200));
            EXPECT_TRUE(player.showsFirst());
            leftClick(player);
            EXPECT_FALSE(player.showsFirst());
            leftClick(player);
            EXPECT_EQ(shownNumber(player), before) << "the picture moved on while paused";
        }

        {
            SCOPED_TRACE("playback moves on at about 25 pictures a second");
            const int before = shownNumber(player);
            QTest::keyClick(&player, Qt::Key_Space);
            EXPECT_TRUE(!player.isPaused() && player.isRendering());
            QElapsedTimer clock;
            clock.start();
            QTest::qWait(1500);
            const int moved = shownNumber(player) - before;
            const double seconds = clock.elapsed() / 1000.0;
            // Loose: a loaded machine shows fewer pictures, never more than the clip's rate.
            EXPECT_GT(moved, 0);
            EXPECT_LE(moved, int(25 * 1.3 * seconds) + 2);
            EXPECT_GE(moved, int(25 * 0.3 * seconds));
        }

        {
            SCOPED_TRACE("right click seeks both clips");
            ASSERT_LT(shownNumber(player), 100);
            // 5.5 / 8 of the width: second 5 of the 8-second clip, picture 125.
            QTest::mouseClick(&player, Qt::RightButton, {}, QPoint(550, 200));
            EXPECT_EQ(player.clickTarget(), 5);
            EXPECT_FALSE(player.isRendering());
            EXPECT_TRUE(QTest::qWaitFor([&] { return player.isRendering(); }, 10000));
            // Within a keyframe interval of the target, whichever clip leads.
            ASSERT_TRUE(QTest::qWaitFor([&] { const int n = shownNumber(player); return n >= 100 && n < 199; }, 20000))
                << "last seen " << shownNumber(player);
            // Where the clips landed on different keyframes the pairing closes the gap by one
            // picture a tick: a second at most here.
            QTest::qWait(1500);
            seen.clear();
            both = pauseAndCompare(player, seen);
            EXPECT_EQ(both.first, both.second) << "after the seek:" << seen;
            EXPECT_TRUE(both.first >= 100 && both.first < 199) << "not merely both stuck at the end" << seen;
        }

        {
            SCOPED_TRACE("a right click while paused restarts rendering but stays paused");
            QTest::mouseClick(&player, Qt::RightButton, {}, QPoint(300, 200));
            EXPECT_FALSE(player.isRendering());
            EXPECT_TRUE(QTest::qWaitFor([&] { return player.isRendering(); }, 10000));
            EXPECT_TRUE(player.isPaused());
            QTest::keyClick(&player, Qt::Key_Space);   // the resume branch
            EXPECT_TRUE(!player.isPaused() && player.isRendering());
        }
    }
}

// Answers every message box that opens while it lives, remembering what each one said.
class BoxAnswerer {
public:
    BoxAnswerer()
    {
        QObject::connect(&m_Timer, &QTimer::timeout, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(w);
                if (!box || !box->isVisible())
                    continue;
                boxes << box->windowTitle() + " / " + box->text() + " / " + QString::number(box->buttons().size());
                if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                    ok->click();
                else
                    box->reject();
            }
        });
        m_Timer.start(50);
    }
    QStringList boxes;

private:
    QTimer m_Timer;
};

TEST(FramewisePlayer, ClipThatCannotBeOpenedEndsWithAMessage)
{
    if (!haveGui())
        GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString notVideo = dir.filePath("notes.mp4");
    QFile f(notVideo);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("these are not the pictures you are looking for\n");
    f.close();
    const QString good = clipPath("h264_aac.mp4");
    const QString missing1 = dir.filePath("missing-one.mkv");
    const QString missing2 = dir.filePath("missing-two.mkv");
    const QString audioOnly = clipPath("audio_only.m4a");

    struct Row {
        const char *name;
        QString first, second, named;
    };
    const Row rows[] = {
        {"second clip missing", good, missing2, missing2},
        {"first clip missing", missing1, good, missing1},
        {"both missing: the second is checked first", missing1, missing2, missing2},
        {"a cancelled dialog gives an empty name", good, QString(), QString()},
        {"not a media file", good, notVideo, notVideo},
        {"no video stream", audioOnly, good, audioOnly},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        BoxAnswerer answerer;
        Player player(Player::Clips{row.first, row.second});
        EXPECT_TRUE(player.openFailed());
        EXPECT_FALSE(player.isRendering());
        EXPECT_EQ(answerer.boxes, QStringList{QStringLiteral("Cannot open file / The file %1 cannot be opened / 1").arg(row.named)});
    }
}

} // namespace
