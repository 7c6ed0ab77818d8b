// framewise's window in this process, on a real GL context under Xvfb, decoding real clips: what
// it shows (fitted picture, black bars, the indicator square of the clip on screen), that both
// clips show the same source picture after the start and after a right-click seek, that playback
// moves on at about the clip's rate, and how the controls and a clip that cannot be opened behave.
#include "framewise/player.h"

#include "screenpicture.h"

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

#include <functional>
#include <string>
#include <vector>

namespace {

using fwtest::Marker;

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

QSize shownPictureSize(const Player &player)
{
    return player.showsFirst() ? player.pictureSize1() : player.pictureSize2();
}

int shownNumber(Player &player)
{
    return fwtest::frameNumberOn(player.grabFramebuffer(), shownPictureSize(player));
}

Marker shownMarker(Player &player)
{
    return fwtest::markerOn(player.grabFramebuffer(), shownPictureSize(player));
}

QPoint centre(const Player &player)
{
    return QPoint(player.width() / 2, player.height() / 2);
}

void pressSpace(Player &player)
{
    QTest::keyClick(&player, Qt::Key_Space);
}

// What each clip shows, read with the display paused: the first clip, then (left click) the
// second, then back to the first.
struct Both {
    int first = -1;
    int second = -1;
    Marker firstMarker = Marker::None;
    Marker secondMarker = Marker::None;
    std::string text() const
    {
        return "first clip " + std::to_string(first) + " (" + fwtest::markerName(firstMarker)
               + "), second clip " + std::to_string(second) + " ("
               + fwtest::markerName(secondMarker) + ")";
    }
};

Both readBothPaused(Player &player)
{
    Both both;
    EXPECT_TRUE(player.showsFirst());
    both.first = shownNumber(player);
    both.firstMarker = shownMarker(player);
    QTest::mouseClick(&player, Qt::LeftButton, {}, centre(player));
    both.second = shownNumber(player);
    both.secondMarker = shownMarker(player);
    QTest::mouseClick(&player, Qt::LeftButton, {}, centre(player));
    return both;
}

// Pauses and compares the two clips. A comparison can only come out unequal in the one tick in
// which the pairing moves a clip (or when a decoder fell behind on a loaded machine); then play
// on for a moment and look again, a few times at most. A lasting offset never matches.
Both pauseAndCompare(Player &player, std::vector<std::string> &seen)
{
    Both both;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (attempt > 0) {
            pressSpace(player);
            QTest::qWait(300);
        }
        pressSpace(player);
        EXPECT_TRUE(player.isPaused());
        EXPECT_FALSE(player.isRendering());
        both = readBothPaused(player);
        seen.push_back(both.text());
        if (both.first >= 0 && both.first == both.second)
            break;
    }
    return both;
}

std::string joined(const std::vector<std::string> &lines)
{
    std::string out;
    for (const std::string &line : lines)
        out += "\n  " + line;
    return out;
}

TEST(FramewisePlayer, ShowsTwoEncodesOfOneSourceInStep)
{
    struct Row {
        const char *name;
        const char *first;
        const char *second;
    };
    // The clip with B-frames (MP4) first, then second.
    const Row rows[] = {
        {"reordering clip first", "h264_aac.mp4", "h264_nobframes.mkv"},
        {"reordering clip second", "h264_nobframes.mkv", "h264_aac.mp4"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Player player(Player::Clips{testsupport::clipPath(row.first),
                                    testsupport::clipPath(row.second)});
        ASSERT_FALSE(player.openFailed());
        EXPECT_EQ(player.windowTitle(), QStringLiteral("framewise"));
        EXPECT_EQ(player.frameInterval(), 40);
        EXPECT_EQ(player.pictureSize1(), QSize(320, 240));
        // Wider than the picture: bars left and right.
        player.resize(800, 400);
        player.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&player));

        ASSERT_TRUE(waitFor([&] { return shownNumber(player) >= 1; }, 20000))
            << "no picture of the first clip on screen";
        EXPECT_TRUE(player.isRendering());

        {
            SCOPED_TRACE("layout");
            const QImage screen = player.grabFramebuffer();
            ASSERT_EQ(screen.size(), QSize(800, 400));
            const QRectF r = fwtest::fittedRect(QSize(320, 240), screen.size());   // 533 x 400
            EXPECT_TRUE(fwtest::isBlack(fwtest::pixelAt(screen, 10, 200)));
            EXPECT_TRUE(fwtest::isBlack(fwtest::pixelAt(screen, int(r.left()) - 6, 200)));
            EXPECT_TRUE(fwtest::isBlack(fwtest::pixelAt(screen, int(r.right()) + 6, 200)));
            EXPECT_TRUE(fwtest::isBlack(fwtest::pixelAt(screen, 789, 200)));
            // The picture's bands are grey or white, never black, right up to its edges.
            EXPECT_FALSE(fwtest::isBlack(fwtest::pixelAt(screen, int(r.left()) + 3, 300)));
            EXPECT_FALSE(fwtest::isBlack(fwtest::pixelAt(screen, int(r.right()) - 3, 300)));
            EXPECT_EQ(fwtest::markerOn(screen, QSize(320, 240)), Marker::Red);
            // The square covers only a 25th of the picture.
            const fwtest::Rgb beside = fwtest::pixelAt(screen, int(r.left() + r.width() / 10),
                                                       int(r.top() + r.height() / 50));
            EXPECT_FALSE(beside.r > 200 && beside.g < 50);
        }

        std::vector<std::string> seen;
        const Both start = pauseAndCompare(player, seen);
        EXPECT_EQ(start.first, start.second) << "after the start:" << joined(seen);
        EXPECT_EQ(start.firstMarker, Marker::Red);
        EXPECT_EQ(start.secondMarker, Marker::Blue);

        {
            SCOPED_TRACE("a paused window switches at once, a double click switches once");
            ASSERT_TRUE(player.isPaused());
            const int before = shownNumber(player);
            QTest::mouseClick(&player, Qt::LeftButton, {}, centre(player));
            EXPECT_FALSE(player.showsFirst());
            QTest::mouseDClick(&player, Qt::LeftButton, {}, centre(player));
            EXPECT_TRUE(player.showsFirst());
            QTest::mouseDClick(&player, Qt::LeftButton, {}, centre(player));
            EXPECT_FALSE(player.showsFirst());
            QTest::mouseClick(&player, Qt::LeftButton, {}, centre(player));
            EXPECT_TRUE(player.showsFirst());
            // Still paused: the picture has not moved on.
            EXPECT_EQ(shownNumber(player), before);
        }

        {
            SCOPED_TRACE("playback moves on at about 25 pictures a second");
            const int before = shownNumber(player);
            pressSpace(player);
            EXPECT_FALSE(player.isPaused());
            EXPECT_TRUE(player.isRendering());
            QElapsedTimer clock;
            clock.start();
            QTest::qWait(1500);
            const int after = shownNumber(player);
            const double seconds = clock.elapsed() / 1000.0;
            EXPECT_GT(after, before);
            // Loose: a loaded machine shows fewer pictures, never more than the clip's rate.
            EXPECT_LE(after - before, int(25 * 1.3 * seconds) + 2);
            EXPECT_GE(after - before, int(25 * 0.3 * seconds));
        }

        {
            SCOPED_TRACE("right click seeks both clips");
            const int before = shownNumber(player);
            ASSERT_LT(before, 100);
            // 5.5 / 8 of the width: second 5 of the 8-second clip, picture 125.
            QTest::mouseClick(&player, Qt::RightButton, {}, QPoint(550, 200));
            EXPECT_EQ(player.clickTarget(), 5);
            EXPECT_FALSE(player.isRendering());
            EXPECT_TRUE(waitFor([&] { return player.isRendering(); }, 10000));
            // Within a keyframe interval (a second) of the target, whichever clip leads.
            ASSERT_TRUE(waitFor(
                [&] {
                    const int n = shownNumber(player);
                    return n >= 100 && n < 199;
                },
                20000))
                << "last seen " << shownNumber(player);
            // Where the two clips landed on different keyframes the pairing closes the gap by
            // one picture a tick: a second at most here.
            QTest::qWait(1500);
            seen.clear();
            const Both after = pauseAndCompare(player, seen);
            EXPECT_EQ(after.first, after.second) << "after the seek:" << joined(seen);
            EXPECT_GE(after.first, 100);
            // Not merely both stuck on the last picture.
            EXPECT_LT(after.first, 199);
        }

        {
            SCOPED_TRACE("a right click while paused restarts rendering but stays paused");
            ASSERT_TRUE(player.isPaused());
            QTest::mouseClick(&player, Qt::RightButton, {}, QPoint(300, 200));   // second 3
            EXPECT_FALSE(player.isRendering());
            EXPECT_TRUE(waitFor([&] { return player.isRendering(); }, 10000));
            EXPECT_TRUE(player.isPaused());
            pressSpace(player);   // takes the resume branch
            EXPECT_FALSE(player.isPaused());
            EXPECT_TRUE(player.isRendering());
        }
    }
}

// Answers every message box that opens while it lives, remembering what each one said.
class BoxAnswerer {
public:
    struct Box {
        QString title;
        QString text;
        int buttons = 0;
    };

    BoxAnswerer()
    {
        QObject::connect(&m_Timer, &QTimer::timeout, [this] { answer(); });
        m_Timer.start(50);
    }

    std::vector<Box> boxes;

private:
    void answer()
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (!box || !box->isVisible())
                continue;
            boxes.push_back({box->windowTitle(), box->text(), int(box->buttons().size())});
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
        }
    }

    QTimer m_Timer;
};

TEST(FramewisePlayer, ClipThatCannotBeOpenedEndsWithAMessage)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString notVideo = dir.filePath("notes.mp4");
    {
        QFile f(notVideo);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("these are not the pictures you are looking for\n");
    }
    const QString good = testsupport::clipPath("h264_aac.mp4");
    const QString missing1 = dir.filePath("missing-one.mkv");
    const QString missing2 = dir.filePath("missing-two.mkv");

    struct Row {
        const char *name;
        QString first;
        QString second;
        QString named;
    };
    const Row rows[] = {
        {"second clip missing", good, missing2, missing2},
        {"first clip missing", missing1, good, missing1},
        {"both missing: the second is checked first", missing1, missing2, missing2},
        {"a cancelled dialog gives an empty name", good, QString(), QString()},
        {"not a media file", good, notVideo, notVideo},
        {"no video stream", testsupport::clipPath("audio_only.m4a"), good,
         testsupport::clipPath("audio_only.m4a")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        BoxAnswerer answerer;
        Player player(Player::Clips{row.first, row.second});
        EXPECT_TRUE(player.openFailed());
        EXPECT_FALSE(player.isRendering());
        ASSERT_EQ(answerer.boxes.size(), size_t(1));
        EXPECT_EQ(answerer.boxes[0].title, QStringLiteral("Cannot open file"));
        EXPECT_EQ(answerer.boxes[0].text, QStringLiteral("The file %1 cannot be opened").arg(row.named));
        EXPECT_EQ(answerer.boxes[0].buttons, 1);
    }
}

} // namespace
