#pragma once

// Shared pieces of the hostile-input, fault and stress tests: the hostile corpus, a watchdog that
// turns a hang into a failed run, readings of the process's memory and open files, and loops that
// play a file through either form of the engine.

#include "tests/common/enginerun.h"

#include <QApplication>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class IFileAccess;
class Player;

namespace hostile {

inline QString corpusPath(const QString &name)
{
    return QStringLiteral(HOSTILE_DIR "/") + name;
}

// Ends the process with a message on stderr when nobody has called pet() for longer than the
// limit (times slowdown()) while the object lives: a thread that hangs in FFmpeg or on a lock
// cannot fail its own test, and ctest's timeout would not say where it hung.
//
// Threads: the watcher runs its own thread; pet() comes from the watched one. m_Deadline and
// m_Quit are under m_Mutex.
class Watchdog {
public:
    Watchdog(const QString &what, int limitMs);
    ~Watchdog();
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;
    void pet();

private:
    const std::string m_What;
    const std::chrono::milliseconds m_Limit;
    std::mutex m_Mutex;
    std::condition_variable m_Wake;
    bool m_Quit = false;
    std::chrono::steady_clock::time_point m_Deadline;
    std::thread m_Thread;   // last: starts once the rest is set up
};

// Resident memory now, and the most since resetPeak() (false where the kernel cannot reset it).
qint64 residentBytes();
qint64 peakResidentBytes();
bool resetPeak();
int openFileCount();

struct PlayResult {
    bool opened = false;
    QString error;                // why it did not open
    int pictures = 0;             // until the end, before any seek after it
    int picturesAfterSeeks = 0;
    bool ended = false;           // seekmark form: videoEnd() arrived
    bool timedOut = false;
    int seeksPlayed = 0;          // seeks after the end that played to the end again
};

// The seekmark form: an FFMpegVideo on "file://" + path through a FileVideoDriver, played until
// videoEnd() taking every picture and sound block as it comes. duringPlay runs once after the
// first picture was taken or, with waitForFullQueue, once the worker has stopped reading because a
// queue is full. Then each of seeksAfterEnd seeks (to seeded seconds in the second half of the
// clip and beyond its end) is played to the end again.
struct SeekmarkRun {
    bool waitForFullQueue = false;
    std::function<void()> duringPlay;
    int seeksAfterEnd = 0;
};
PlayResult playSeekmarkForm(const QString &path, int timeoutMs, const SeekmarkRun &run = {});

// The framewise form: a DecoderAgent opened by path with framewise options, its pictures taken
// until `enough` have come (when positive) or none has come for quietMs.
PlayResult playFramewiseForm(const QString &path, int timeoutMs, int enough, int quietMs);

// Whether windows can be shown (the test runs under an X server).
inline bool hasDisplay()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

// The seekmark window on a clip, shown and exposed, writing its report to reportFile.
std::unique_ptr<Player> showPlayer(const QString &clip, const QString &reportFile);

} // namespace hostile
