#pragma once

// Driving a built program as a person would under the test's X server: xdotool for keys, clicks,
// dialogs and window titles, ImageMagick's import for screenshots. Every tool runs under
// `timeout` so a stuck X client never hangs a test; every wait polls against a deadline.
#include "tests/common/testclips.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <functional>

namespace testsupport {

inline QByteArray tool(const QString &program, const QStringList &args, int seconds)
{
    QProcess p;
    p.start(QStringLiteral("timeout"), QStringList{QString::number(seconds), program} + args);
    if (!p.waitForFinished((seconds + 5) * 1000)) {
        p.kill();
        p.waitForFinished(2000);
    }
    return p.readAllStandardOutput();
}

inline QByteArray xdo(const QStringList &args, int seconds = 10) { return tool(QStringLiteral("xdotool"), args, seconds); }

// Polls without processing events: the program runs in its own process.
inline bool poll(const std::function<bool()> &condition, int timeoutMs, int everyMs = 200)
{
    for (QDeadlineTimer deadline(timeoutMs); !condition(); QThread::msleep(everyMs))
        if (deadline.hasExpired())
            return false;
    return true;
}

// Why the program tests cannot run here; empty when they can.
inline QString missingXTools()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return QStringLiteral("needs an X server (run under Xvfb)");
    for (const char *name : {"xdotool", "import", "timeout", "ffmpeg"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty())
            return QString::fromLatin1(name) + QStringLiteral(" is not installed");
    return QString();
}

inline QStringList windowsNamed(const QString &pattern)
{
    return QString::fromLatin1(xdo({"search", "--onlyvisible", "--name", pattern}, 5))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The first visible window matching pattern that is not among notThese; empty after the time-out.
inline QString waitForWindow(const QString &pattern, const QStringList &notThese = {}, int timeoutMs = 30000)
{
    QString found;
    poll(
        [&] {
            for (const QString &id : windowsNamed(pattern))
                if (!notThese.contains(id))
                    return !(found = id.trimmed()).isEmpty();
            return false;
        },
        timeoutMs, 150);
    return found;
}

inline QString windowName(const QString &id) { return id.isEmpty() ? QString() : QString::fromUtf8(xdo({"getwindowname", id}, 5)).trimmed(); }

inline QImage screenshot(const QString &id)
{
    QImage image;
    if (!id.isEmpty())   // an empty id would make import grab the whole server and hang
        image.loadFromData(tool(QStringLiteral("import"), {"-window", id, "png:-"}, 15), "PNG");
    return image;
}

// A click at a fraction of the window's width, half way down.
inline void clickAt(const QString &id, int button, double fractionX)
{
    const QImage image = screenshot(id);
    const int width = image.isNull() ? 640 : image.width();
    const int height = image.isNull() ? 480 : image.height();
    xdo({"mousemove", "--window", id, QString::number(int(width * fractionX)), QString::number(height / 2),
         "click", QString::number(button)});
}

// No window manager: focus the window ourselves before typing.
inline void keyTo(const QString &id, const QString &key)
{
    xdo({"windowfocus", "--sync", id}, 5);
    xdo({"key", key});
}

// One run of a built program with its own home and runtime folders, its output (stdout and stderr)
// in a file; asked to terminate, then killed, when the object goes. With debugOutput the run
// shows its debug lines (SEEKMARK_DEBUG=1), which most tests read.
class ProgramRun {
public:
    explicit ProgramRun(const QString &program, const QStringList &arguments = {}, bool debugOutput = true)
    {
        const QString runtime = m_Home.filePath(QStringLiteral("runtime"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));   // the remembered dialog folder stays in HOME
        env.remove(QStringLiteral("SEEKMARK_DEBUG"));
        for (const auto &[name, value] : {std::pair{"QT_QPA_PLATFORM", QStringLiteral("xcb")}, {"SDL_AUDIODRIVER", QStringLiteral("dummy")},
                                          {"HOME", m_Home.path()}, {"XDG_RUNTIME_DIR", runtime},
                                          {debugOutput ? "SEEKMARK_DEBUG" : "", QStringLiteral("1")}})
            if (*name)
                env.insert(QString::fromLatin1(name), value);
        m_Process.setProcessEnvironment(env);
        m_Process.setProcessChannelMode(QProcess::MergedChannels);
        m_Process.setStandardOutputFile(homeFile(QStringLiteral("output.txt")));
        m_Process.start(binDir() + QLatin1Char('/') + program, arguments);
        m_Started = m_Process.waitForStarted(10000);
    }
    ~ProgramRun()
    {
        if (m_Process.state() != QProcess::NotRunning && (m_Process.terminate(), !m_Process.waitForFinished(10000))) {
            m_Process.kill();
            m_Process.waitForFinished(5000);
        }
    }

    bool started() const { return m_Started; }
    bool running() const { return m_Process.state() == QProcess::Running; }
    QProcess &process() { return m_Process; }
    QString homeFile(const QString &name) const { return m_Home.filePath(name); }
    QString output() const { return readText(homeFile(QStringLiteral("output.txt"))); }
    std::string outputTail() const { return "\n" + output().right(3000).toStdString(); }

    // Waits for the next open dialog, types the path into it and confirms.
    bool answerDialog(const QString &path)
    {
        const QString dialog = waitForWindow(QStringLiteral("^Open Video$"), m_Dialogs);
        if (dialog.isEmpty())
            return false;
        m_Dialogs << dialog;
        xdo({"windowfocus", "--sync", dialog}, 5);
        xdo({"type", "--delay", "15", path}, 30);
        xdo({"key", "Return"});
        return true;
    }

    static QString readText(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(f.readAll()) : QString();
    }

private:
    QTemporaryDir m_Home;
    QProcess m_Process;
    QStringList m_Dialogs;
    bool m_Started = false;
};

} // namespace testsupport
