// The built seekmark driven as a person would: its open dialog cancelled, its windows found by
// their titles, its picture read from screenshots, a right click and T sent to its window, its
// report (in its home folder) and debug output read back.
#include "tests/common/programrun.h"
#include "tests/common/screenpicture.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

using namespace testsupport;

namespace {

TEST(SeekmarkProgram, CancelledDialogPlaysTheSampleAndASeekTestBatchReachesTheReport)
{
    if (const QString why = missingXTools(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    ProgramRun run(QStringLiteral("seekmark"));
    ASSERT_TRUE(run.started());

    // Cancelling the dialog leaves the name empty: the sample plays.
    const QString dialog = waitForWindow(QStringLiteral("^Open Video$"));
    ASSERT_FALSE(dialog.isEmpty()) << "no open dialog";
    xdo({"key", "--window", dialog, "Escape"});
    if (!waitForWindow(QStringLiteral("^Open Video$"), {}, 1000).isEmpty())
        xdo({"key", "--window", dialog, "Escape"});
    const QString player = waitForWindow(QStringLiteral("^seekmark"));
    ASSERT_FALSE(player.isEmpty()) << "no player window" << run.outputTail();
    EXPECT_TRUE(poll([&] { return windowName(player) == QStringLiteral("seekmark - sample.mp4"); }, 20000))
        << windowName(player).toStdString();
    EXPECT_FALSE(waitForWindow(QStringLiteral("^File access$"), {}, 10000).isEmpty());

    const QSize picture(640, 360);
    auto frame = [&] { return frameNumberOn(screenshot(player), picture); };
    int first = -1, later = -1;
    ASSERT_TRUE(poll([&] { return (first = frame()) >= 0; }, 30000));
    EXPECT_TRUE(poll([&] { return (later = frame()) > first; }, 30000)) << first << " then " << later;

    // The middle of the window is the middle of the one-minute sample.
    const int width = screenshot(player).width();
    ASSERT_GT(width, 0);
    clickAt(player, 3, 0.5);
    const int second = 60 * (width / 2) / width;
    EXPECT_TRUE(poll([&] { return run.output().contains(QStringLiteral("vado sono su  %1").arg(second)); }, 15000))
        << run.outputTail();
    EXPECT_TRUE(poll([&] { return std::abs((later = frame()) - second * 25) <= 75; }, 20000))
        << "on screen " << later;

    keyTo(player, QStringLiteral("t"));
    EXPECT_TRUE(poll([&] { return windowName(player).contains(QStringLiteral("seek test: batch 1")); }, 20000))
        << windowName(player).toStdString();
    QString line;
    ASSERT_TRUE(poll([&] {
        line = ProgramRun::readText(run.homeFile(QStringLiteral("report.txt"))).section(QLatin1Char('\n'), 0, 0);
        return !line.isEmpty();
    }, 120000, 500)) << "no report line; title " << windowName(player).toStdString();
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^Average (\\d+) MAX DIFF (\\d+) MIN DIFF (\\d+)$")).match(line);
    ASSERT_TRUE(m.hasMatch()) << line.toStdString();
    EXPECT_LE(m.captured(2).toInt(), 1) << line.toStdString();

    const QString out = run.output();
    for (const char *text : {"richiedo", "ora sono su ", "FileAccessView::OPENED", "FPS 25"})
        EXPECT_TRUE(out.contains(QString::fromLatin1(text))) << "missing debug line: " << text;
    run.process().terminate();
    EXPECT_TRUE(run.process().waitForFinished(15000)) << "seekmark ignored SIGTERM";
}

} // namespace
