// The built seekmark driven as a person would: its open dialog cancelled, its windows found by
// their titles, its picture read from screenshots, a right click and T sent to its window, its
// report (in its home folder) and debug output read back. Then a clip named on the command line.
#include "platform/clipdialog.h"
#include "tests/common/programrun.h"
#include "tests/common/screenpicture.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

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

    auto frame = [&] { return frameNumberOn(screenshot(player), QSize(640, 360)); };
    int first = -1, later = -1;
    ASSERT_TRUE(poll([&] { return (first = frame()) >= 0; }, 30000));
    EXPECT_TRUE(poll([&] { return (later = frame()) > first; }, 30000)) << first << " then " << later;

    // The middle of the window is the middle of the one-minute sample, a quarter of it 15 s: the
    // first picture on screen after each seek is the clicked second's keyframe (one a second) or
    // one shortly after it. Backwards, playing on never gets there.
    const int width = screenshot(player).width();
    ASSERT_GT(width, 0);
    for (const double x : {0.5, 0.25}) {
        const int before = later;
        clickAt(player, 3, x);
        const int second = int(60 * int(width * x) / width);
        EXPECT_TRUE(poll([&] { return run.output().contains(QStringLiteral("vado sono su  %1").arg(second)); }, 15000))
            << run.outputTail();
        // Forward, past what playing on reaches in the time allowed.
        EXPECT_TRUE(poll([&] { return (later = frame()) >= 0 && (x < 0.5 ? later < before : later >= 700); }, 20000))
            << "still on screen " << later;
        EXPECT_TRUE(later >= second * 25 && later < second * 25 + 50) << "landed on " << later << " for " << second << " s";
    }

    keyTo(player, QStringLiteral("t"));
    EXPECT_TRUE(poll([&] { return windowName(player).contains(QStringLiteral("seek test: batch 1")); }, 20000))
        << windowName(player).toStdString();
    QString line;
    ASSERT_TRUE(poll([&] {
        line = ProgramRun::readText(run.homeFile(QStringLiteral("report.txt"))).section(QLatin1Char('\n'), 0, 0);
        return !line.isEmpty();
    }, 120000, 500)) << "no report line; title " << windowName(player).toStdString();
    const auto m = QRegularExpression(QStringLiteral("^Average (\\d+) MAX DIFF (\\d+) MIN DIFF (\\d+)$")).match(line);
    ASSERT_TRUE(m.hasMatch()) << line.toStdString();
    EXPECT_LE(m.captured(2).toInt(), 1) << line.toStdString();

    for (const char *text : {"richiedo", "ora sono su ", "FileAccessView::OPENED", "FPS 25"})
        EXPECT_TRUE(run.output().contains(QString::fromLatin1(text))) << "missing debug line: " << text;
    run.process().terminate();
    EXPECT_TRUE(run.process().waitForFinished(15000)) << "seekmark ignored SIGTERM";
}

// A window's frame as xdotool sees it.
QRect windowRect(const QString &id)
{
    QMap<QString, int> v;
    for (const QString &line : QString::fromLatin1(xdo({"getwindowgeometry", "--shell", id})).split(QLatin1Char('\n')))
        v[line.section(QLatin1Char('='), 0, 0)] = line.section(QLatin1Char('='), 1).toInt();
    return QRect(v.value("X"), v.value("Y"), v.value("WIDTH"), v.value("HEIGHT"));
}

TEST(SeekmarkProgram, ClipOnTheCommandLineNeedsNoDialogAndTheTerminalStaysQuiet)
{
    if (const QString why = missingXTools(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    {
        ProgramRun missing(QStringLiteral("seekmark"), {QStringLiteral("/nonexistent/clip.mp4")}, false);
        ASSERT_TRUE(missing.process().waitForFinished(30000)) << missing.outputTail();
        EXPECT_EQ(missing.process().exitCode(), 1);
        EXPECT_TRUE(missing.output().contains(QStringLiteral("seekmark: cannot open /nonexistent/clip.mp4")))
            << missing.outputTail();
    }
    ProgramRun run(QStringLiteral("seekmark"), {sampleClip()}, false);
    const QString player = waitForWindow(QStringLiteral("^seekmark - sample.mp4$"));
    ASSERT_FALSE(player.isEmpty()) << "no player window" << run.outputTail();
    EXPECT_TRUE(windowsNamed(QStringLiteral("^Open Video$")).isEmpty());
    const QString access = waitForWindow(QStringLiteral("^File access$"));
    ASSERT_FALSE(access.isEmpty());
    EXPECT_TRUE(poll([&] { return !windowRect(player).intersects(windowRect(access)); }, 5000))
        << "the access view covers the player";

    // Pictures are being shown: each would have written debug lines, the packets that fill the
    // decoder's delay WARN lines, and FFmpeg its note that the byte path names no protocol.
    ASSERT_TRUE(poll([&] { return frameNumberOn(screenshot(player), QSize(640, 360)) >= 5; }, 30000));
    for (const char *debugLine : {"FPS DELAY", "shown ", "FileAccessView::OPENED", "bad picture packet", "Protocol name"})
        EXPECT_FALSE(run.output().contains(QLatin1String(debugLine))) << debugLine << run.outputTail();
}

// The clip dialog: the designed filter first, then every video file and every file; it starts where
// the last clip was (remembered between runs), and at home when that folder is gone.
TEST(ClipDialog, OffersEveryVideoFileAndStartsWhereTheLastClipWas)
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    const QString own = QStringLiteral("Video Files (*.mp4 *.mpg *.mkv)");
    auto dialog = ClipDialog::create(QStringLiteral("Open Video"), own, QDir::homePath(), settings);
    EXPECT_EQ(dialog->nameFilters(), QStringList({own, "All video files (*.mp4 *.mpg *.mkv *.ts *.m2ts *.mts *.mov *.m4v *.webm *.avi *.flv "
                                                       "*.wmv *.ogv *.3gp *.mxf *.y4m)", "All files (*)"}));
    EXPECT_TRUE(dialog->selectedNameFilter() == own && dialog->directory().absolutePath() == QDir::homePath());
    ClipDialog::rememberClip(settings, dir.filePath(QStringLiteral("capture.ts")));
    QSettings again(settings.fileName(), QSettings::IniFormat);   // between runs
    EXPECT_EQ(ClipDialog::startFolder(again, QDir::homePath()), dir.path());
    ClipDialog::rememberClip(settings, QStringLiteral("/gone/away/clip.mp4"));
    EXPECT_EQ(ClipDialog::startFolder(settings, QDir::homePath()), QDir::homePath());
}

} // namespace
