// The built seekmark program driven as a person would, under the test's X server: its open dialog
// answered with xdotool, its windows found by their titles, its picture read from screenshots,
// a right click and the T key sent to its window, and its report and debug output read back.
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

namespace {

// Runs a command under `timeout`, so a stuck X client never hangs the test. Returns its output;
// ok tells whether it ended by itself with exit code 0.
QByteArray run(const QString &program, const QStringList &args, int seconds, bool *ok = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("timeout"), QStringList{QString::number(seconds), program} + args);
    const bool finished = p.waitForFinished((seconds + 5) * 1000);
    if (!finished) {
        p.kill();
        p.waitForFinished(2000);
    }
    if (ok)
        *ok = finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return p.readAllStandardOutput();
}

QByteArray xdotool(const QStringList &args, int seconds = 10, bool *ok = nullptr)
{
    return run(QStringLiteral("xdotool"), args, seconds, ok);
}

// The first visible window whose name matches, waiting up to `seconds`; empty when none.
QString findWindow(const QString &namePattern, int seconds)
{
    const QByteArray out = xdotool({"search", "--sync", "--onlyvisible", "--name", namePattern}, seconds);
    return QString::fromLatin1(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts).value(0).trimmed();
}

QString windowName(const QString &window)
{
    if (window.isEmpty())
        return QString();
    return QString::fromUtf8(xdotool({"getwindowname", window}, 5)).trimmed();
}

QImage screenshot(const QString &window)
{
    // An empty id would make import grab the whole server and hang.
    if (window.isEmpty())
        return QImage();
    return QImage::fromData(run(QStringLiteral("import"), {"-window", window, "png:-"}, 15), "PNG");
}

// The frame number on a screenshot of the player; the picture is fitted into the window.
int frameOnScreen(const QString &window, QSize picture)
{
    const QImage image = screenshot(window).convertToFormat(QImage::Format_RGB888);
    if (image.isNull())
        return -1;
    const double scale = std::min(double(image.width()) / picture.width(),
                                  double(image.height()) / picture.height());
    const int w = int(picture.width() * scale);
    const int h = int(picture.height() * scale);
    return testsupport::readFrameNumber(image.constBits(), int(image.bytesPerLine()),
                                        (image.width() - w) / 2, (image.height() - h) / 2, w, h);
}

bool poll(const std::function<bool()> &condition, int timeoutMs, int everyMs = 200)
{
    QDeadlineTimer deadline(timeoutMs);
    while (true) {
        if (condition())
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(everyMs);
    }
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(file.readAll()) : QString();
}

class SeekmarkProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            GTEST_SKIP() << "needs an X server (run under xvfb-run)";
        for (const char *tool : {"xdotool", "import", "timeout"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
        ASSERT_TRUE(m_Home.isValid());
        QDir(m_Home.path()).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(m_Home.filePath(QStringLiteral("runtime")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        m_Errors = m_Home.filePath(QStringLiteral("stderr.txt"));
    }

    void TearDown() override
    {
        if (m_Program.state() != QProcess::NotRunning) {
            m_Program.terminate();
            if (!m_Program.waitForFinished(10000)) {
                m_Program.kill();
                m_Program.waitForFinished(5000);
            }
        }
    }

    void start()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
        env.insert(QStringLiteral("HOME"), m_Home.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_Home.filePath(QStringLiteral("runtime")));
        m_Program.setProcessEnvironment(env);
        m_Program.setStandardErrorFile(m_Errors);
        m_Program.setStandardOutputFile(QProcess::nullDevice());
        const QString program = testsupport::binDir() + QStringLiteral("/seekmark");
        ASSERT_TRUE(QFileInfo(program).isExecutable()) << "not built: " << program.toStdString();
        m_Program.start(program, {});
        ASSERT_TRUE(m_Program.waitForStarted(10000));
    }

    QString errors() const { return readText(m_Errors); }
    QString report() const { return readText(m_Home.filePath(QStringLiteral("report.txt"))); }

    QTemporaryDir m_Home;
    QString m_Errors;
    QProcess m_Program;
};

TEST_F(SeekmarkProgram, CancelledDialogPlaysTheSampleAndASeekTestBatchReachesTheReport)
{
    start();
    if (HasFatalFailure())
        return;

    // The open dialog comes first; cancelling it leaves the name empty.
    const QString dialog = findWindow(QStringLiteral("^Open Video$"), 30);
    ASSERT_FALSE(dialog.isEmpty()) << "no open dialog";
    xdotool({"key", "--window", dialog, "Escape"});
    if (!findWindow(QStringLiteral("^Open Video$"), 1).isEmpty())
        xdotool({"key", "--window", dialog, "Escape"});

    const QString player = findWindow(QStringLiteral("^seekmark"), 30);
    ASSERT_FALSE(player.isEmpty()) << "no player window";
    EXPECT_TRUE(poll([&] { return windowName(player) == QStringLiteral("seekmark - sample.mp4"); }, 20000))
        << windowName(player).toStdString();
    EXPECT_FALSE(findWindow(QStringLiteral("^File access$"), 10).isEmpty()) << "no file access window";

    // The sample plays: the frame number on screen moves on. (640 x 360 pictures.)
    const QSize picture(640, 360);
    int first = -1;
    ASSERT_TRUE(poll([&] { return (first = frameOnScreen(player, picture)) >= 0; }, 30000));
    int later = -1;
    EXPECT_TRUE(poll([&] { return (later = frameOnScreen(player, picture)) > first; }, 30000))
        << first << " then " << later;

    // A right click at the middle of the window asks for the middle of the one-minute clip.
    const QByteArray geometry = xdotool({"getwindowgeometry", "--shell", player}, 5);
    const QRegularExpressionMatch w = QRegularExpression(QStringLiteral("WIDTH=(\\d+)")).match(QString::fromLatin1(geometry));
    const QRegularExpressionMatch h = QRegularExpression(QStringLiteral("HEIGHT=(\\d+)")).match(QString::fromLatin1(geometry));
    ASSERT_TRUE(w.hasMatch() && h.hasMatch()) << geometry.toStdString();
    const int width = w.captured(1).toInt();
    xdotool({"mousemove", "--window", player, QString::number(width / 2),
             QString::number(h.captured(1).toInt() / 2), "click", "3"});
    const int expected = 60 * (width / 2) / width;   // the sample lasts 60 s
    EXPECT_TRUE(poll([&] { return errors().contains(QStringLiteral("vado sono su  %1").arg(expected)); }, 15000));
    int landed = -1;
    EXPECT_TRUE(poll([&] { return std::abs((landed = frameOnScreen(player, picture)) - expected * 25) <= 75; },
                     20000))
        << "frame on screen " << landed;

    // T starts random seeks; a batch of 21 ends in a report line.
    xdotool({"key", "--window", player, "t"});
    EXPECT_TRUE(poll([&] { return windowName(player).contains(QStringLiteral("seek test: batch 1")); }, 20000))
        << windowName(player).toStdString();
    const bool reported = poll([&] { return !report().isEmpty(); }, 120000, 500);
    ASSERT_TRUE(reported) << "no report line; title " << windowName(player).toStdString();
    const QString line = report().split(QLatin1Char('\n'), Qt::SkipEmptyParts).value(0);
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^Average (\\d+) MAX DIFF (\\d+) MIN DIFF (\\d+)$")).match(line);
    ASSERT_TRUE(m.hasMatch()) << line.toStdString();
    EXPECT_LE(m.captured(2).toInt(), 1) << line.toStdString();

    const QString out = errors();
    for (const char *text : {"vado sono su ", "richiedo", "ora sono su ", "Average", "FileAccessView::OPENED", "FPS 25"})
        EXPECT_TRUE(out.contains(QString::fromLatin1(text))) << "missing debug line: " << text;

    // The program ends when asked to.
    m_Program.terminate();
    EXPECT_TRUE(m_Program.waitForFinished(15000)) << "seekmark ignored SIGTERM";
}

} // namespace
