// The framewise program from end to end, driven as a person would: the built binary under Xvfb,
// its two open-file dialogs answered by typing a path (xdotool), its window read back from
// screenshots (ImageMagick's import). Checks that both clips show the same source picture after
// the start and after a right-click seek, that the window title's readout names the pictures on
// screen, that playback runs at about the first clip's rate, and that a clip that cannot be
// opened ends the program with a message and exit status 0.
//
// The test command runs inside xvfb-run, so DISPLAY is set. Every external tool call has a
// timeout; every wait polls against a deadline.
#include "screenpicture.h"

#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using fwtest::Marker;

constexpr int kWindowWaitMs = 30000;

bool waitUntil(const std::function<bool()> &condition, int timeoutMs, int pollMs = 100)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QThread::msleep(pollMs);
    }
    return true;
}

struct Result {
    int exitCode = -1;
    QByteArray out;
};

// Runs a tool under `timeout`, so that nothing it does can hang the test.
Result runTool(const QString &tool, const QStringList &args, int seconds = 10)
{
    QProcess p;
    p.start(QStringLiteral("timeout"), QStringList{QString::number(seconds), tool} + args);
    Result r;
    if (!p.waitForStarted(5000))
        return r;
    p.waitForFinished((seconds + 5) * 1000);
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    return r;
}

Result xdo(const QStringList &args, int seconds = 10)
{
    return runTool(QStringLiteral("xdotool"), args, seconds);
}

// Visible windows whose name matches the pattern.
QStringList windowsNamed(const QString &pattern)
{
    const Result r = xdo({"search", "--onlyvisible", "--name", pattern}, 5);
    return QString::fromLatin1(r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString waitForWindow(const QString &pattern, const QStringList &notThese = {},
                      int timeoutMs = kWindowWaitMs)
{
    QString found;
    waitUntil(
        [&] {
            for (const QString &id : windowsNamed(pattern)) {
                if (!notThese.contains(id)) {
                    found = id;
                    return true;
                }
            }
            return false;
        },
        timeoutMs, 150);
    return found;
}

QImage screenshot(const QString &window)
{
    // import with an empty id would grab the whole X server and hang.
    if (window.isEmpty())
        return QImage();
    const Result r = runTool(QStringLiteral("import"), {"-window", window, "png:-"}, 10);
    QImage image;
    if (r.exitCode == 0)
        image.loadFromData(r.out, "PNG");
    return image;
}

// The clips the project has never seen: one source in two encodes, made afresh for this run.
// MPEG-4 Part 2 with B-frames in Matroska, whose muxer starts the video 21 ms late to make room
// for the AAC priming, and H.264 without B-frames in MP4. Twenty seconds, 640 x 480, keyframes
// every 2 s and every second.
class FreshClips {
public:
    static FreshClips &instance()
    {
        static FreshClips clips;
        return clips;
    }
    bool ok() const { return m_Ok; }
    QString error() const { return m_Error; }
    QString path(const QString &name) const { return m_Dir.filePath(name); }

private:
    FreshClips()
    {
        if (!m_Dir.isValid()) {
            m_Error = QStringLiteral("no temporary folder");
            return;
        }
        const QString script = QStringLiteral(R"sh(
set -euo pipefail
source "$1"
out=$2
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
video="color=c=black:s=12x2:r=25:d=20"
tone="sine=frequency=440:sample_rate=48000:duration=20"
ff -f lavfi -i "$video" -f lavfi -i "$tone" -vf "$(framenumber_filter 640 480),format=yuv420p" \
   -c:v mpeg4 -q:v 3 -g 50 -bf 2 -sc_threshold 1000000000 \
   -c:a aac -b:a 96k -ac 2 -ar 48000 -f matroska "$out/fresh_mpeg4.mkv"
ff -f lavfi -i "$video" -f lavfi -i "$tone" -vf "$(framenumber_filter 640 480)" \
   -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 25 -keyint_min 25 -sc_threshold 0 -bf 0 \
   -c:a aac -b:a 96k -ac 2 -ar 48000 -movflags +faststart -f mp4 "$out/fresh_h264.mp4"
)sh");
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("bash"),
                {"-c", script, "fresh",
                 testsupport::testsSourceDir() + QStringLiteral("/clips/framenumber_filter.sh"),
                 m_Dir.path()});
        if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            m_Error = QStringLiteral("ffmpeg failed: ") + QString::fromLocal8Bit(p.readAll());
            return;
        }
        m_Ok = QFile::exists(path("fresh_mpeg4.mkv")) && QFile::exists(path("fresh_h264.mp4"));
        if (!m_Ok)
            m_Error = QStringLiteral("the clips are missing");
    }

    QTemporaryDir m_Dir;
    bool m_Ok = false;
    QString m_Error;
};

// One run of the program, ended when the object goes: asked to terminate, killed if it will not.
class ProgramRun {
public:
    ProgramRun()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
        if (!env.contains(QStringLiteral("XDG_RUNTIME_DIR")) && m_Runtime.isValid()) {
            QFile::setPermissions(m_Runtime.path(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_Runtime.path());
        }
        m_Process.setProcessEnvironment(env);
        m_Process.setProcessChannelMode(QProcess::MergedChannels);
        m_Process.setStandardOutputFile(m_Log.filePath(QStringLiteral("output.txt")));
        m_Process.start(testsupport::binDir() + QStringLiteral("/framewise"), {});
        m_Started = m_Process.waitForStarted(10000);
    }

    ~ProgramRun()
    {
        if (m_Process.state() != QProcess::NotRunning) {
            m_Process.terminate();
            if (!m_Process.waitForFinished(5000)) {
                m_Process.kill();
                m_Process.waitForFinished(10000);
            }
        }
    }

    bool started() const { return m_Started; }
    bool running() const { return m_Process.state() == QProcess::Running; }
    QProcess &process() { return m_Process; }

    // Waits for the next open-file dialog, types the path into it and confirms.
    bool answerDialog(const QString &path)
    {
        const QString dialog = waitForWindow(QStringLiteral("^Open Video$"), m_Dialogs);
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
        QFile f(m_Log.filePath(QStringLiteral("output.txt")));
        return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
    }

    QString outputTail() const { return output().right(3000); }

    QStringList answeredDialogs() const { return m_Dialogs; }

private:
    QTemporaryDir m_Log;
    QTemporaryDir m_Runtime;
    QProcess m_Process;
    QStringList m_Dialogs;
    bool m_Started = false;
};

// The program's window as seen on screen.
class Window {
public:
    Window(QString id, QSize picture1, QSize picture2)
        : m_Id(std::move(id)), m_Picture1(picture1), m_Picture2(picture2)
    {
    }

    struct Look {
        QImage image;
        Marker marker = Marker::None;
        int number = -1;
        qint64 atMs = 0;   // when the screenshot was taken, on the test's clock
    };

    Look look(const QElapsedTimer &clock) const
    {
        Look l;
        const qint64 before = clock.elapsed();
        l.image = screenshot(m_Id);
        l.atMs = (before + clock.elapsed()) / 2;
        if (l.image.isNull())
            return l;
        // Which clip is on screen shows in the square; each has its own picture size.
        for (const QSize &size : {m_Picture1, m_Picture2}) {
            const Marker m = fwtest::markerOn(l.image, size);
            if (m != Marker::None) {
                l.marker = m;
                l.number = fwtest::frameNumberOn(l.image, m == Marker::Red ? m_Picture1 : m_Picture2);
                break;
            }
        }
        return l;
    }

    void click(int button, double fractionX) const
    {
        const QImage image = screenshot(m_Id);
        const int width = image.isNull() ? 640 : image.width();
        const int height = image.isNull() ? 480 : image.height();
        xdo({"mousemove", "--window", m_Id, QString::number(int(width * fractionX)),
             QString::number(height / 2), "click", QString::number(button)});
    }

    void key(const QString &name) const
    {
        xdo({"windowfocus", "--sync", m_Id}, 5);
        xdo({"key", name});
    }

    const QString &id() const { return m_Id; }

private:
    QString m_Id;
    QSize m_Picture1;
    QSize m_Picture2;
};

// Waits until two screenshots in a row show the same picture: the display is paused.
bool waitStill(const Window &w, const QElapsedTimer &clock, int *number)
{
    int last = -2;
    return waitUntil(
        [&] {
            const Window::Look l = w.look(clock);
            const bool still = l.number >= 0 && l.number == last;
            last = l.number;
            *number = l.number;
            return still;
        },
        10000, 250);
}

struct Both {
    int first = -1;
    int second = -1;
    std::string text() const
    {
        return "first " + std::to_string(first) + ", second " + std::to_string(second);
    }
};

// Pauses (space) and reads both clips: the first, a left click to the second, a left click back.
// The window is left paused and showing the first clip.
Both pauseAndReadBoth(const Window &w, const QElapsedTimer &clock)
{
    Both both;
    w.key(QStringLiteral("space"));
    int still = -1;
    EXPECT_TRUE(waitStill(w, clock, &still)) << "the picture did not stop after space";
    Window::Look l;
    EXPECT_TRUE(waitUntil([&] { l = w.look(clock); return l.marker == Marker::Red; }, 5000));
    both.first = l.number;
    w.click(1, 0.5);
    EXPECT_TRUE(waitUntil([&] { l = w.look(clock); return l.marker == Marker::Blue; }, 5000))
        << "a left click did not switch to the second clip";
    both.second = l.number;
    w.click(1, 0.5);
    EXPECT_TRUE(waitUntil([&] { l = w.look(clock); return l.marker == Marker::Red; }, 5000))
        << "a left click did not switch back to the first clip";
    return both;
}

// Compares the clips paused; where they differ (the one tick in which the pairing moves a clip,
// or a decoder that fell behind) plays on briefly and looks again, a few times at most.
Both compareClips(const Window &w, const QElapsedTimer &clock, std::string *log)
{
    Both both;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0) {
            w.key(QStringLiteral("space"));
            QThread::msleep(400);
        }
        both = pauseAndReadBoth(w, clock);
        *log += "\n  " + both.text();
        if (both.first >= 0 && both.first == both.second)
            break;
    }
    return both;
}

// The pairing readout in the window title: each clip's picture time and number since the start or
// the last seek.
struct Readout {
    bool ok = false;
    double time1 = 0.0;
    int number1 = -1;
    double time2 = 0.0;
    int number2 = -1;
    QString title;
};

Readout readTitle(const Window &w)
{
    static const QRegularExpression form(QStringLiteral(
        R"(^framewise - 1: (-?\d+\.\d{3}) s #(\d+) \| 2: (-?\d+\.\d{3}) s #(\d+) \| .*\| showing 1 \| paused$)"));
    Readout r;
    r.title = QString::fromUtf8(xdo({"getwindowname", w.id()}, 5).out).trimmed();
    const QRegularExpressionMatch m = form.match(r.title);
    if (!m.hasMatch())
        return r;
    r.ok = true;
    r.time1 = m.captured(1).toDouble();
    r.number1 = m.captured(2).toInt();
    r.time2 = m.captured(3).toDouble();
    r.number2 = m.captured(4).toInt();
    return r;
}

// With the window paused on the first clip: the title names both pictures on screen, by their
// time (a picture of the clips' 25 a second) and by the number counted since the clips were last
// positioned, which started at the picture firstNumber (of each clip) or later.
void checkReadout(const Window &w, const Both &shown, int firstNumberFrom, int firstNumberTo)
{
    Readout r;
    ASSERT_TRUE(waitUntil([&] { r = readTitle(w); return r.ok; }, 10000, 200))
        << "no readout of the paused first clip in the title: " << r.title.toStdString();
    SCOPED_TRACE(r.title.toStdString() + " on screen: " + shown.text());
    EXPECT_EQ(std::lround(r.time1 * 25), shown.first);
    EXPECT_EQ(std::lround(r.time2 * 25), shown.second);
    for (const int started : {shown.first - r.number1, shown.second - r.number2}) {
        EXPECT_GE(started, firstNumberFrom);
        EXPECT_LE(started, firstNumberTo);
    }
}

int countLines(const QString &text, const QString &line)
{
    int n = 0;
    for (const QStringView l : QStringView(text).split(QLatin1Char('\n')))
        if (l.trimmed() == line)
            ++n;
    return n;
}

class FramewiseProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(qEnvironmentVariableIsSet("DISPLAY")) << "run under xvfb-run";
        for (const char *tool : {"xdotool", "import", "timeout", "ffmpeg"})
            ASSERT_FALSE(QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                << tool << " is needed";
        ASSERT_TRUE(QFile::exists(testsupport::binDir() + QStringLiteral("/framewise")));
    }
};

TEST_F(FramewiseProgram, KeepsTwoClipsInStepAndSeeksBoth)
{
    FreshClips &fresh = FreshClips::instance();
    ASSERT_TRUE(fresh.ok()) << fresh.error().toStdString();

    struct Row {
        const char *name;
        QString first;
        QString second;
        QSize size;
        int seconds;        // length of the clips
        int seekTo;         // second asked for by the right click
        int settleMs;       // play time after the seek for the clips to meet again
    };
    const Row rows[] = {
        {"H.264 with B-frames (MP4) and without (MKV)", testsupport::clipPath("h264_aac.mp4"),
         testsupport::clipPath("h264_nobframes.mkv"), QSize(320, 240), 8, 5, 1500},
        // The first clip's keyframes are 2 s apart and its video starts 21 ms late, so the seek
        // lands a keyframe early there: the second clip waits until the first has caught up.
        {"MPEG-4 Part 2 with B-frames (MKV) and H.264 (MP4), never seen before",
         fresh.path("fresh_mpeg4.mkv"), fresh.path("fresh_h264.mp4"), QSize(640, 480), 20, 12, 3000},
    };

    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ProgramRun run;
        ASSERT_TRUE(run.started());
        ASSERT_TRUE(run.answerDialog(row.first)) << "no first dialog";
        ASSERT_TRUE(run.answerDialog(row.second)) << "no second dialog";
        const QString id = waitForWindow(QStringLiteral("^framewise"));
        ASSERT_FALSE(id.isEmpty()) << "no framewise window" << run.outputTail().toStdString();
        const Window w(id, row.size, row.size);
        QElapsedTimer clock;
        clock.start();

        Window::Look first;
        ASSERT_TRUE(waitUntil(
            [&] {
                first = w.look(clock);
                return first.number >= 1 && first.marker == Marker::Red;
            },
            20000))
            << "no numbered picture of the first clip; last number " << first.number
            << run.outputTail().toStdString();

        {
            SCOPED_TRACE("rate");
            QThread::msleep(2000);
            Window::Look later;
            ASSERT_TRUE(waitUntil([&] { later = w.look(clock); return later.number >= 0; }, 15000));
            const double seconds = (later.atMs - first.atMs) / 1000.0;
            const double rate = (later.number - first.number) / seconds;
            // Loose: a loaded machine shows fewer pictures; never noticeably more than 25 a second.
            EXPECT_GT(rate, 25 * 0.3) << first.number << " -> " << later.number << " in " << seconds << " s";
            EXPECT_LT(rate, 25 * 1.3) << first.number << " -> " << later.number << " in " << seconds << " s";
        }

        std::string log;
        const Both start = compareClips(w, clock, &log);
        EXPECT_GE(start.first, 0) << log;
        EXPECT_EQ(start.first, start.second) << "after the start:" << log;
        {
            SCOPED_TRACE("readout after the start");
            checkReadout(w, start, 0, 0);
        }
        // In step from the first picture on: the second clip never had to skip one.
        EXPECT_LE(countLines(run.output(), QStringLiteral("DIVERSI")), 2);
        const int beforeSeek = start.first;
        ASSERT_LT(beforeSeek, (row.seekTo - 2) * 25) << "played too far to tell a seek apart";

        {
            SCOPED_TRACE("seek");
            w.key(QStringLiteral("space"));   // play on
            w.click(3, (row.seekTo + 0.5) / row.seconds);
            const int target = row.seekTo * 25;
            Window::Look l;
            ASSERT_TRUE(waitUntil(
                [&] {
                    l = w.look(clock);
                    return l.marker == Marker::Red && l.number >= target - 50 && l.number < target + 75;
                },
                20000))
                << "the first clip did not move to about picture " << target << "; last " << l.number
                << run.outputTail().toStdString();
            QThread::msleep(row.settleMs);
            log.clear();
            const Both after = compareClips(w, clock, &log);
            EXPECT_EQ(after.first, after.second) << "after the seek:" << log;
            {
                SCOPED_TRACE("readout after the seek");
                // Counted from where each clip landed: a keyframe at most two seconds (plus the
                // first clip's late start) before the target.
                checkReadout(w, after, target - 75, target);
            }
            EXPECT_GE(after.first, target - 50) << log;
            EXPECT_LT(after.first, row.seconds * 25 - 1) << "both at the end proves little" << log;
            EXPECT_TRUE(run.output().contains(QStringLiteral("vado sono su  %1").arg(row.seekTo)));
        }
        EXPECT_TRUE(run.running()) << run.outputTail().toStdString();
    }
}

TEST_F(FramewiseProgram, ClipThatCannotBeOpenedEndsWithStatusZero)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString notVideo = dir.filePath(QStringLiteral("notes.mkv"));
    {
        QFile f(notVideo);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a clip\n");
    }
    const QString missing = dir.filePath(QStringLiteral("missing.mkv"));

    struct Row {
        const char *name;
        QString second;
        bool missingFile;   // the dialog refuses it; it is then cancelled, giving an empty name
    };
    const Row rows[] = {
        {"a missing file typed into the second dialog", missing, true},
        {"a second file that is no clip", notVideo, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ProgramRun run;
        ASSERT_TRUE(run.started());
        ASSERT_TRUE(run.answerDialog(testsupport::clipPath("h264_aac.mp4")));
        ASSERT_TRUE(run.answerDialog(row.second));
        if (row.missingFile) {
            // The dialog's own "file not found" warning carries the dialog's caption.
            ASSERT_TRUE(waitUntil([] { return windowsNamed(QStringLiteral("^Open Video$")).size() >= 2; },
                                  kWindowWaitMs))
                << "no warning about the missing file";
            xdo({"key", "Escape"});
            ASSERT_TRUE(waitUntil([] { return windowsNamed(QStringLiteral("^Open Video$")).size() == 1; },
                                  kWindowWaitMs));
            const QString dialog = windowsNamed(QStringLiteral("^Open Video$")).value(0);
            xdo({"windowfocus", "--sync", dialog}, 5);
            xdo({"key", "Escape"});
        }
        const QString box = waitForWindow(QStringLiteral("^Cannot open file$"));
        ASSERT_FALSE(box.isEmpty()) << "no message box" << run.outputTail().toStdString();
        // The program waits for the box to be closed.
        QThread::msleep(300);
        EXPECT_TRUE(run.running());
        EXPECT_TRUE(windowsNamed(QStringLiteral("^framewise")).isEmpty());
        xdo({"windowfocus", "--sync", box}, 5);
        xdo({"key", "Return"});
        ASSERT_TRUE(run.process().waitForFinished(20000)) << "still running after the box closed";
        EXPECT_EQ(run.process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(run.process().exitCode(), 0);
    }
}

} // namespace
