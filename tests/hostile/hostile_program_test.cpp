// framewise, the built program, on damaged clips under a storm of clicks and keys, driven as a
// person would under the test's X server (open dialogs answered by typing the path with xdotool,
// the window found by its title and watched through screenshots). The programs' refusals of
// files they cannot open are the seekmark and framewise tests' business; the hostile files' own
// refusals are checked in both forms of the engine by the hostile corpus test.
#include "hostilesupport.h"

#include "tests/common/programrun.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace testsupport;

// Sanitizer reports name our code or FFmpeg; either way the run failed.
bool sanitizerComplained(const QString &out)
{
    return out.contains(QStringLiteral("ERROR: AddressSanitizer")) || out.contains(QStringLiteral("runtime error:"))
        || out.contains(QStringLiteral("ERROR: LeakSanitizer"));
}

TEST(HostilePrograms, FramewisePlaysDamagedClipsAndSurvivesAStormOfClicks)
{
    if (const QString missing = missingXTools(); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    ProgramRun run(QStringLiteral("framewise"));
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(run.answerDialog(hostile::corpusPath(QStringLiteral("h264_long.flip5000.mp4"))));
    ASSERT_TRUE(run.answerDialog(hostile::corpusPath(QStringLiteral("h264_long.cut90.mp4"))));
    const QString window = waitForWindow(QStringLiteral("^framewise"), {}, 30000 * hostile::slowdown());
    ASSERT_FALSE(window.isEmpty()) << "no framewise window" << run.output().right(2000).toStdString();

    auto moving = [&] {
        const QImage a = screenshot(window);
        QThread::msleep(800);
        const QImage b = screenshot(window);
        return !a.isNull() && !b.isNull() && a != b;
    };
    EXPECT_TRUE(poll(moving, 20000 * hostile::slowdown(), 100)) << "the damaged clips do not play";

    // Right clicks (seeks), left clicks (switches) and spaces (pause, resume) as fast as a hand, in
    // one xdotool call: a tool per event (and xdotool's own pause after a click) would slow it.
    const QImage shot = screenshot(window);
    const int width = shot.isNull() ? 640 : shot.width();
    const QString y = QString::number(shot.isNull() ? 240 : shot.height() / 2);
    std::mt19937 rng(31337);
    QStringList storm{"windowfocus", "--sync", window};
    for (int i = 0; i < 300; ++i) {
        const unsigned k = rng() % 10;
        if (k < 8)
            storm << "mousemove" << "--window" << window << QString::number(rng() % width) << y << "click"
                  << "--delay" << "1" << (k < 5 ? "3" : "1");
        else
            storm << "key" << "space";
        storm << "sleep" << QString::number((10 + rng() % 41) / 1000.0, 'f', 3);
    }
    xdo(storm, 120);
    ASSERT_TRUE(run.running()) << "framewise ended during the storm" << run.output().right(3000).toStdString();
    // The storm reached the window: each right click logs its target.
    EXPECT_GE(run.output().count(QStringLiteral("vado sono su ")), 100);
    // An odd number of spaces leaves it paused: one more resumes it.
    if (!moving()) {
        xdo({"windowfocus", "--sync", window}, 5);
        xdo({"key", "space"});
    }
    EXPECT_TRUE(poll(moving, 20000 * hostile::slowdown(), 100)) << "nothing moves after the storm";
    EXPECT_TRUE(run.running());
    EXPECT_FALSE(sanitizerComplained(run.output())) << run.output().right(4000).toStdString();
}

} // namespace
