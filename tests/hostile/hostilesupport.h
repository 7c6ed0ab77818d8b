#pragma once

// Shared pieces of the hostile-input, fault and stress tests: the hostile corpus, a watchdog that
// turns a hang into a failed run, readings of the process's memory and open files, and a loop that
// plays a file as seekmark does.

#include "access/ffmpegvideo.h"
#include "access/filevideodriver.h"
#include "access/videoengine.h"
#include "seekmark/player.h"
#include "tests/common/enginerun.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <unistd.h>

namespace hostile {

using namespace testsupport;

inline QString corpusPath(const QString &name)
{
    return QStringLiteral(HOSTILE_DIR "/") + name;
}

// 40 s, 1000 pictures, a keyframe every second, with sound.
inline QString longClip()
{
    return clipPath(QStringLiteral("h264_long.mp4"));
}

// Ends the process with a message on stderr when nobody has called pet() for longer than the limit
// (whole seconds, times slowdown()) while the object lives: a thread that hangs in FFmpeg or on a
// lock cannot fail its own test, and ctest's timeout would not say where it hung. One at a time:
// SIGALRM is the process's.
class Watchdog {
public:
    Watchdog(const QString &what, int limitMs) : m_Seconds(unsigned(limitMs / 1000 * slowdown()))
    {
        qstrncpy(s_What, what.toUtf8().constData(), sizeof s_What);
        std::signal(SIGALRM, [](int) {
            const char intro[] = "\nWATCHDOG: no progress while ";
            (void)!write(2, intro, sizeof intro - 1);
            (void)!write(2, s_What, strlen(s_What));
            std::abort();
        });
        pet();
    }
    ~Watchdog() { alarm(0); }
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;
    void pet() { alarm(m_Seconds); }

private:
    const unsigned m_Seconds;
    static inline char s_What[200];
};

// A line of /proc/self/status in bytes: "VmRSS:" resident memory now, "VmHWM:" the most since
// resetPeak() (false where the kernel cannot reset it).
inline qint64 statusBytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(strlen(field))).trimmed().split(' ').value(0).toLongLong() * 1024;
    return -1;
}
inline bool resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}
inline int openFileCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

struct PlayResult {
    bool opened = false;
    QString error;        // why it did not open
    int pictures = 0;     // until the end, before any seek after it
    bool timedOut = false;
    int seeksPlayed = 0;  // seeks after the end that played to the end again
};

// An FFMpegVideo on "file://" + path through a FileVideoDriver, played until videoEnd() taking
// every picture and sound block as it comes. duringPlay runs once the worker has stopped reading
// because a queue is full. Then each of seeksAfterEnd seeks (to seeded seconds in the second half
// of the clip and beyond its end) is played to the end again.
inline PlayResult play(const QString &path, int seeksAfterEnd, const std::function<void()> &duringPlay = {})
{
    useDummyAudio();
    PlayResult result;
    VideoEngine engine;
    FileVideoDriver driver;
    engine.registerDriver(QStringLiteral("file"), &driver);
    Watchdog dog(QStringLiteral("playing ") + path, 20000);
    auto video = std::make_unique<FFMpegVideo>(&engine, QStringLiteral("file://") + path, nullptr, fastSeekmark());
    result.opened = video->open();
    result.error = video->errorString();
    bool ended = false;
    QObject::connect(video.get(), &Video::videoEnd, [&ended] { ended = true; });
    DecoderAgent *agent = video->agent();
    QDeadlineTimer deadline(60000 * slowdown());
    std::mt19937 rng(qHash(QFileInfo(path).fileName()));
    for (int seek = 0; result.opened && seek <= seeksAfterEnd && !result.timedOut; ++seek) {
        if (seek > 0)   // the second half and a little beyond the end; an unknown length near the start
            video->seek(video->duration() > 0 ? int(video->duration() / 2 + rng() % (video->duration() / 2 + 3))
                                              : int(rng() % 4));
        ended = false;
        video->play();
        bool queueFull = false;
        while (!(ended && agent->isStopped()) && !(result.timedOut = deadline.hasExpired())) {
            if (duringPlay && !queueFull && (agent->videoAgent()->pictures().count() >= VideoAgent::queueCapacity
                                              || agent->audioQueue().count() >= DecoderAgent::audioQueueCapacity)) {
                duringPlay();
                queueFull = true;
            }
            const int taken = !duringPlay || queueFull ? takeQueued(*agent) : 0;
            result.pictures += seek == 0 ? taken : 0;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
            dog.pet();
        }
        result.pictures += seek == 0 ? takeQueued(*agent) : 0;
        result.seeksPlayed += seek > 0 && !result.timedOut ? 1 : 0;
    }
    video.reset();
    return result;
}

// A watchdog fed from the GUI thread's event loop: if that loop stops (a deadlock in a control, a
// wait that never ends) the feeding stops and the watchdog ends the run.
class Heartbeat {
public:
    Heartbeat(const QString &what, int limitMs) : m_Dog(what, limitMs)
    {
        QObject::connect(&m_Timer, &QTimer::timeout, [this] { m_Dog.pet(); });
        m_Timer.start(50);
    }

private:
    Watchdog m_Dog;
    QTimer m_Timer;
};

// 300 actions a random 10 to 50 ms apart, each drawn from 20 shares: 3 pauses, 3 resumes, 13 seeks
// and one more seek at the engine, a T (seek test runs start and stop) on the window.
enum class Action { Pause, Resume, Seek, Other };
constexpr int kStormEvents = 300;
inline Action draw(std::mt19937 &rng)
{
    const unsigned a = rng() % 20;
    return a < 3 ? Action::Pause : a < 6 ? Action::Resume : a < 19 ? Action::Seek : Action::Other;
}

// Whether windows can be shown (the test runs under an X server).
inline bool hasDisplay()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

// The seekmark window on a clip, shown and exposed, writing its report to reportFile.
inline std::unique_ptr<Player> showPlayer(const QString &clip, const QString &reportFile)
{
    useDummyAudio();
    Player::Setup setup;
    setup.askForClip = false;
    setup.clip = clip;
    setup.reportFile = reportFile;
    auto player = std::make_unique<Player>(setup);
    player->resize(400, 300);
    player->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(player.get(), 20000));
    return player;
}

} // namespace hostile
