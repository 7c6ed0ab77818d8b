// framewise, the built program, on damaged clips under a storm of clicks and keys, driven as a
// person would under the test's X server (open dialogs answered by typing the path with xdotool,
// the window found by its title and watched through screenshots). The programs' refusals of
// files they cannot open are the seekmark and framewise tests' business; the hostile files' own
// refusals are checked in both forms of the engine by the hostile corpus test.
#include "hostilesupport.h"

#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <random>

namespace {

// Runs a tool under `timeout`, so that nothing it does can hang the test; returns its output.
QByteArray tool(const char *name, const QStringList &args, int seconds)
{
    QProcess p;
    p.start(QStringLiteral("timeout"), QStringList{QString::number(seconds), QString::fromLatin1(name)} + args);
    if (!p.waitForFinished((seconds + 5) * 1000)) {
        p.kill();
        p.waitForFinished(2000);
    }
    return p.readAllStandardOutput();
}

QByteArray xdo(const QStringList &args, int seconds = 10)
{
    return tool("xdotool", args, seconds);
}

// Polls without processing events: the programs run in their own processes.
bool poll(const std::function<bool()> &condition, int timeoutMs, int everyMs = 200)
{
    QDeadlineTimer deadline(static_cast<qint64>(timeoutMs) * hostile::slowdown());
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(everyMs);
    }
    return true;
}

QImage screenshot(const QString &window)
{
    QImage image;
    if (!window.isEmpty())   // an empty id would make import grab the whole server and hang
        image.loadFromData(tool("import", {"-window", window, "png:-"}, 15), "PNG");
    return image;
}

// One run of a program with its own home and runtime folders; killed when the object goes.
class ProgramRun {
public:
    explicit ProgramRun(const QString &program)
    {
        const QString runtime = m_Home.filePath(QStringLiteral("runtime"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
        env.insert(QStringLiteral("HOME"), m_Home.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        m_Process.setProcessEnvironment(env);
        m_Process.setProcessChannelMode(QProcess::MergedChannels);
        m_Process.setStandardOutputFile(m_Home.filePath(QStringLiteral("output.txt")));
        m_Process.start(testsupport::binDir() + QLatin1Char('/') + program, {});
        m_Started = m_Process.waitForStarted(10000);
    }

    ~ProgramRun()
    {
        m_Process.kill();
        m_Process.waitForFinished(10000);
    }

    bool started() const { return m_Started; }
    bool running() const { return m_Process.state() == QProcess::Running; }

    // A visible window of this process (other tests may show windows of the same names) whose
    // name matches and that is not among notThese, waiting for it to appear.
    QString window(const QString &pattern, const QStringList &notThese = {}) const
    {
        QString found;
        poll(
            [&] {
                const QStringList ids = QString::fromLatin1(xdo({"search", "--all", "--onlyvisible", "--pid",
                                                                 QString::number(m_Process.processId()), "--name",
                                                                 pattern},
                                                                5))
                                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
                for (const QString &id : ids)
                    if (!notThese.contains(id))
                        found = id;
                return !found.isEmpty();
            },
            30000, 150);
        return found;
    }

    // Types the path into the next open dialog and confirms.
    bool answerDialog(const QString &path)
    {
        const QString dialog = window(QStringLiteral("^Open Video$"), m_Dialogs);
        if (dialog.isEmpty())
            return false;
        m_Dialogs << dialog;
        xdo({"windowfocus", "--sync", dialog}, 5);   // no window manager: focus it ourselves
        xdo({"type", "--delay", "15", path}, 30);
        xdo({"key", "Return"});
        return true;
    }

    QString output() const
    {
        QFile f(m_Home.filePath(QStringLiteral("output.txt")));
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }

    // Sanitizer reports name our code or FFmpeg; either way the run failed.
    bool sanitizerComplained() const
    {
        const QString out = output();
        return out.contains(QStringLiteral("ERROR: AddressSanitizer")) || out.contains(QStringLiteral("runtime error:"))
            || out.contains(QStringLiteral("ERROR: LeakSanitizer"));
    }

private:
    QTemporaryDir m_Home;
    QProcess m_Process;
    QStringList m_Dialogs;
    bool m_Started = false;
};

TEST(HostilePrograms, FramewisePlaysDamagedClipsAndSurvivesAStormOfClicks)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    for (const char *name : {"xdotool", "import", "timeout"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty())
            GTEST_SKIP() << name << " is not installed";
    ProgramRun run(QStringLiteral("framewise"));
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(run.answerDialog(hostile::corpusPath(QStringLiteral("h264_long.flip5000.mp4"))));
    ASSERT_TRUE(run.answerDialog(hostile::corpusPath(QStringLiteral("h264_long.cut90.mp4"))));
    const QString window = run.window(QStringLiteral("^framewise"));
    ASSERT_FALSE(window.isEmpty()) << "no framewise window" << run.output().right(2000).toStdString();

    auto moving = [&] {
        const QImage a = screenshot(window);
        QThread::msleep(800);
        const QImage b = screenshot(window);
        return !a.isNull() && !b.isNull() && a != b;
    };
    EXPECT_TRUE(poll(moving, 20000, 100)) << "the damaged clips do not play";

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
    EXPECT_TRUE(poll(moving, 20000, 100)) << "nothing moves after the storm";
    EXPECT_TRUE(run.running());
    EXPECT_FALSE(run.sanitizerComplained()) << run.output().right(4000).toStdString();
}

} // namespace
