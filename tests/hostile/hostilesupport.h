#pragma once

// Shared pieces of the hostile-input, fault and stress tests: where the hostile corpus lies, a
// watchdog that ends the process when the thread it watches stops making progress (a hang cannot
// fail a test from inside), readings of the process's memory and open files, a byte source over a
// plain file, and loops that play a clip through either form of the engine to its end.

#include "engine/bytesource.h"
#include "engine/engineoptions.h"

#include <QFile>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class IFileAccess;

namespace hostile {

// The generated hostile corpus and one file in it.
QString corpusDir();
QString corpusPath(const QString &name);

// Sanitizer builds run two to three times slower: every deadline is multiplied by this.
int slowdown();
bool sanitizerBuild();

// Ends the process with a message on stderr when nobody has called pet() for longer than the
// current limit. A thread that hangs (in FFmpeg, on a lock) cannot fail its own test; this turns
// the hang into a failed test run that says where it hung.
//
// Threads: the watcher runs its own thread; pet(), arm() and disarm() come from the watched thread.
// Everything shared is under m_Mutex.
class Watchdog {
public:
    Watchdog();
    ~Watchdog();
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

    // Starts watching: what is being done, and how long it may go without a pet().
    void arm(const QString &what, int limitMs);
    void pet();
    void disarm();

    // While alive, the watchdog is armed with what and limitMs (times slowdown()).
    class Scope {
    public:
        Scope(Watchdog &dog, const QString &what, int limitMs) : m_Dog(dog) { m_Dog.arm(what, limitMs); }
        ~Scope() { m_Dog.disarm(); }
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        Watchdog &m_Dog;
    };

private:
    void watch();

    std::mutex m_Mutex;
    std::condition_variable m_Wake;
    bool m_Quit = false;
    bool m_Armed = false;
    std::string m_What;
    std::chrono::steady_clock::time_point m_Deadline;
    std::chrono::milliseconds m_Limit{0};
    std::thread m_Thread;
};

// The resident memory of this process now, and the most since the last resetPeak() (or since the
// start, where the kernel cannot reset it).
qint64 residentBytes();
qint64 peakResidentBytes();
bool resetPeak();
// Open file descriptors of this process.
int openFileCount();

// A byte source over a plain file, for decoders driven without the access layer. read() and
// sourceSize() come from whichever thread drives libavformat; the file is under m_Mutex.
class FileSource : public ByteSource {
public:
    explicit FileSource(const QString &path);
    qint64 read(char *buffer, qint64 offset, qint64 size) override;
    qint64 sourceSize() override;

private:
    QMutex m_Mutex;
    QFile m_File;
};

// The programs' engine options with the worker's sleeps taken out (and no log lines), so a clip
// decodes as fast as the machine allows.
EngineOptions fastSeekmark();
EngineOptions fastFramewise();

// SDL's dummy audio driver unless the environment chose one: the machine has no sound card.
void useDummyAudio();

// Polls, processing events, until the condition holds or the deadline passes.
bool waitFor(const std::function<bool()> &condition, int timeoutMs);

struct PlayResult {
    bool opened = false;
    QString error;          // why it did not open
    int pictures = 0;       // pictures that came out until the end (before any seek after it)
    int picturesAfterSeeks = 0;   // pictures that came out after the seeks after the end
    int audioBlocks = 0;    // sound blocks that came out
    bool ended = false;     // seekmark form: videoEnd() arrived and the worker stopped
    bool timedOut = false;  // the deadline passed first
    int seeksPlayed = 0;    // seeks after the end that played to the end again
};

// The seekmark form: an FFMpegVideo on "file://" + path through a FileVideoDriver (reporting to
// listener, when given), played until videoEnd() with every picture and sound block taken off the
// queues as it comes. duringPlay, when given, runs once after the first picture was taken (or,
// with waitForFullQueue, once the worker has stopped reading because a queue is full).
// After the end, each of seeksAfterEnd seeks (to seeded seconds in the second half of the clip and
// beyond its end) is followed by play() and played to the end again.
struct SeekmarkRun {
    IFileAccess *listener = nullptr;
    bool waitForFullQueue = false;
    std::function<void()> duringPlay;
    int seeksAfterEnd = 0;
};
PlayResult playSeekmarkForm(const QString &path, Watchdog &dog, int timeoutMs, const SeekmarkRun &run = {});

// The framewise form: a DecoderAgent opened by path with framewise options, started, its pictures
// taken until `enough` have come (when positive) or none has come for quietMs.
PlayResult playFramewiseForm(const QString &path, Watchdog &dog, int timeoutMs, int enough, int quietMs,
                             const std::function<void()> &duringPlay = {});

// Collects Qt's debug and warning lines (from any thread) while alive, instead of printing them;
// the per-read and per-tick lines are left out. One at a time; the lines are under one mutex.
class MessageLog {
public:
    MessageLog();
    ~MessageLog();
    QStringList lines() const;
    // Lines that contain text.
    int count(const QString &text) const;

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text);
};

} // namespace hostile
