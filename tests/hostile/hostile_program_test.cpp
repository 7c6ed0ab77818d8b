// The built programs on hostile files, driven as a person would under the test's X server (open
// dialogs answered by typing the path with xdotool, windows found by title, pictures read from
// screenshots): seekmark says in its title that it cannot open a file, or plays it; framewise
// shows its message box and ends with status 0, or plays, and survives a storm of clicks and keys.
#include "hostilesupport.h"

#include "tests/common/framenumber.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <functional>
#include <random>
#include <set>

namespace {

// Runs a tool under `timeout`, so that nothing it does can hang the test; returns its output.
QByteArray runTool(const QString &tool, const QStringList &args, int seconds = 10, int *exitCode = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("timeout"), QStringList{QString::number(seconds), tool} + args);
    if (!p.waitForFinished((seconds + 5) * 1000)) {
        p.kill();
        p.waitForFinished(2000);
    }
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

QByteArray xdo(const QStringList &args, int seconds = 10)
{
    return runTool(QStringLiteral("xdotool"), args, seconds);
}

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

// Visible windows of one process whose name matches: other tests may run beside this one on the
// same display with windows of the same names.
QStringList windowsNamed(qint64 pid, const QString &pattern)
{
    return QString::fromLatin1(
               xdo({"search", "--all", "--onlyvisible", "--pid", QString::number(pid), "--name", pattern}, 5))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString waitForWindow(qint64 pid, const QString &pattern, const QStringList &notThese = {}, int timeoutMs = 30000)
{
    QString found;
    poll(
        [&] {
            for (const QString &id : windowsNamed(pid, pattern))
                if (!notThese.contains(id)) {
                    found = id;
                    return true;
                }
            return false;
        },
        timeoutMs, 150);
    return found;
}

QString windowName(const QString &window)
{
    return window.isEmpty() ? QString() : QString::fromUtf8(xdo({"getwindowname", window}, 5)).trimmed();
}

QImage screenshot(const QString &window)
{
    // An empty id would make import grab the whole server and hang.
    if (window.isEmpty())
        return QImage();
    QImage image;
    image.loadFromData(runTool(QStringLiteral("import"), {"-window", window, "png:-"}, 15), "PNG");
    return image;
}

// The frame number on a screenshot of a window that fits a picture of the given size.
int frameOnScreen(const QString &window, QSize picture)
{
    const QImage image = screenshot(window).convertToFormat(QImage::Format_RGB888);
    if (image.isNull())
        return -1;
    const double scale = std::min(double(image.width()) / picture.width(), double(image.height()) / picture.height());
    const int w = int(picture.width() * scale);
    const int h = int(picture.height() * scale);
    return testsupport::readFrameNumber(image.constBits(), int(image.bytesPerLine()), (image.width() - w) / 2,
                                        (image.height() - h) / 2, w, h);
}

// One run of a program with its own home and runtime folders; asked to end, then killed, when the
// object goes.
class ProgramRun {
public:
    explicit ProgramRun(const QString &program)
    {
        QDir(m_Home.path()).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(m_Home.filePath(QStringLiteral("runtime")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
        env.insert(QStringLiteral("HOME"), m_Home.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_Home.filePath(QStringLiteral("runtime")));
        m_Process.setProcessEnvironment(env);
        m_Process.setProcessChannelMode(QProcess::MergedChannels);
        m_Process.setStandardOutputFile(m_Home.filePath(QStringLiteral("output.txt")));
        m_Process.start(testsupport::binDir() + QLatin1Char('/') + program, {});
        m_Started = m_Process.waitForStarted(10000);
    }

    ~ProgramRun()
    {
        if (m_Process.state() != QProcess::NotRunning) {
            m_Process.kill();
            m_Process.waitForFinished(10000);
        }
    }

    bool started() const { return m_Started; }
    bool running() const { return m_Process.state() == QProcess::Running; }
    // The first visible window of this program whose name matches, waiting for it to appear.
    QString window(const QString &pattern) const { return waitForWindow(m_Process.processId(), pattern); }

    // Waits for the next open dialog, types the path into it and confirms.
    bool answerDialog(const QString &path)
    {
        const QString dialog = waitForWindow(m_Process.processId(), QStringLiteral("^Open Video$"), m_Dialogs);
        if (dialog.isEmpty())
            return false;
        m_Dialogs << dialog;
        xdo({"windowfocus", "--sync", dialog}, 5);   // no window manager: focus it ourselves
        xdo({"type", "--delay", "15", path}, 30);
        xdo({"key", "Return"});
        return true;
    }

    // True when the program ends by itself, with exit status 0, within the time.
    bool endsWithStatusZero(int timeoutMs)
    {
        if (m_Process.state() != QProcess::NotRunning)
            m_Process.waitForFinished(timeoutMs * hostile::slowdown());
        return m_Process.state() == QProcess::NotRunning && m_Process.exitStatus() == QProcess::NormalExit
            && m_Process.exitCode() == 0;
    }

    void terminate() { m_Process.terminate(); }

    // Whether the program has ended (in whatever way) within the time.
    bool ends(int timeoutMs)
    {
        if (m_Process.state() != QProcess::NotRunning)
            m_Process.waitForFinished(timeoutMs * hostile::slowdown());
        return m_Process.state() == QProcess::NotRunning;
    }

    QString output() const
    {
        QFile f(m_Home.filePath(QStringLiteral("output.txt")));
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }

    // Sanitizer reports in the output name our code or FFmpeg; either way the run failed.
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

class HostilePrograms : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X server (run under xvfb-run)";
        for (const char *tool : {"xdotool", "import", "timeout"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
    }
};

TEST_F(HostilePrograms, SeekmarkSaysItCannotOpenOrPlays)
{
    struct Case {
        const char *file;
        const char *refusal;   // null: it plays
    };
    const Case cases[] = {
        {"random.mkv", "cannot open: not a readable media file"},
        {"rawvideo_16000x16000.mkv", "cannot open: the picture size 16000x16000 is too large"},
        {"h264_aac.cut50.mp4", nullptr},
        {"no_timestamps.mpg", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        const QString name = QString::fromLatin1(c.file);
        ProgramRun run(QStringLiteral("seekmark"));
        ASSERT_TRUE(run.started());
        ASSERT_TRUE(run.answerDialog(hostile::corpusPath(name))) << "no open dialog";
        const QString player = run.window(QStringLiteral("^seekmark"));
        ASSERT_FALSE(player.isEmpty()) << "no player window";
        const QString title = QStringLiteral("seekmark - ") + name;
        if (c.refusal) {
            EXPECT_TRUE(poll([&] { return windowName(player).startsWith(title + QStringLiteral(" - ") + c.refusal); },
                             20000))
                << windowName(player).toStdString();
            EXPECT_TRUE(poll([&] { return run.output().contains(QStringLiteral("cannot open clip")); }, 5000));
        } else {
            EXPECT_TRUE(poll([&] { return windowName(player) == title; }, 20000)) << windowName(player).toStdString();
            // Two different pictures on screen: it plays.
            std::set<int> seen;
            EXPECT_TRUE(poll(
                [&] {
                    const int n = frameOnScreen(player, QSize(320, 240));
                    if (n >= 0)
                        seen.insert(n);
                    return seen.size() >= 2;
                },
                20000))
                << "pictures seen: " << seen.size();
        }
        run.terminate();
        EXPECT_TRUE(run.ends(15000)) << "seekmark did not end when asked";
        EXPECT_FALSE(run.sanitizerComplained()) << run.output().right(4000).toStdString();
    }
}

TEST_F(HostilePrograms, FramewiseShowsItsMessageAndEndsWithStatusZero)
{
    struct Case {
        const char *first;
        const char *second;
        const char *named;   // the file the message names
    };
    const Case cases[] = {
        {"h264_aac.cut50.mp4", "random.mkv", "random.mkv"},
        {"rawvideo_16000x16000.mkv", "h264_aac.cut50.mp4", "rawvideo_16000x16000.mkv"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.named);
        ProgramRun run(QStringLiteral("framewise"));
        ASSERT_TRUE(run.started());
        ASSERT_TRUE(run.answerDialog(hostile::corpusPath(QString::fromLatin1(c.first))));
        ASSERT_TRUE(run.answerDialog(hostile::corpusPath(QString::fromLatin1(c.second))));
        const QString box = run.window(QStringLiteral("^Cannot open file$"));
        ASSERT_FALSE(box.isEmpty()) << "no message box" << run.output().right(2000).toStdString();
        xdo({"windowfocus", "--sync", box}, 5);
        xdo({"key", "Return"});
        EXPECT_TRUE(run.endsWithStatusZero(15000)) << "framewise did not end with status 0";
        EXPECT_FALSE(run.sanitizerComplained()) << run.output().right(4000).toStdString();
    }
}

TEST_F(HostilePrograms, FramewisePlaysDamagedClipsAndSurvivesAStormOfClicks)
{
    ProgramRun run(QStringLiteral("framewise"));
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(run.answerDialog(hostile::corpusPath(QStringLiteral("h264_long.flip5000.mp4"))));
    ASSERT_TRUE(run.answerDialog(hostile::corpusPath(QStringLiteral("h264_long.cut90.mp4"))));
    const QString window = run.window(QStringLiteral("^framewise$"));
    ASSERT_FALSE(window.isEmpty()) << "no framewise window" << run.output().right(2000).toStdString();

    auto moving = [&] {
        // Two screenshots apart in time differ while pictures come.
        const QImage a = screenshot(window);
        QThread::msleep(800);
        const QImage b = screenshot(window);
        return !a.isNull() && !b.isNull() && a != b;
    };
    EXPECT_TRUE(poll(moving, 20000, 100)) << "the damaged clips do not play";

    // Right clicks (seeks), left clicks (switches) and spaces (pause, resume) as fast as a hand,
    // in one xdotool call so that the storm is not slowed by starting a tool per event (and without
    // xdotool's own 100 ms pause after each click).
    const QImage shot = screenshot(window);
    const int width = shot.isNull() ? 640 : shot.width();
    const int height = shot.isNull() ? 480 : shot.height();
    std::mt19937 rng(31337);
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_int_distribution<int> x(0, width - 1);
    std::uniform_int_distribution<int> pause(10, 50);
    QStringList storm{"windowfocus", "--sync", window};
    for (int i = 0; i < 300; ++i) {
        const int k = kind(rng);
        if (k < 5) {
            storm << "mousemove" << "--window" << window << QString::number(x(rng)) << QString::number(height / 2)
                  << "click" << "--delay" << "1" << "3";
        } else if (k < 8) {
            storm << "mousemove" << "--window" << window << QString::number(x(rng)) << QString::number(height / 2)
                  << "click" << "--delay" << "1" << "1";
        } else {
            storm << "key" << "space";
        }
        storm << "sleep" << QString::number(pause(rng) / 1000.0, 'f', 3);
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
