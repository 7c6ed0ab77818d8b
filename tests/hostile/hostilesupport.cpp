#include "hostilesupport.h"

#include "access/ffmpegvideo.h"
#include "access/filevideodriver.h"
#include "access/videoengine.h"
#include "engine/audiopacket.h"
#include "engine/decoderagent.h"
#include "engine/pixelpacket.h"
#include "engine/videoagent.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QMutexLocker>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <unistd.h>

namespace hostile {

QString corpusDir()
{
    return QStringLiteral(HOSTILE_DIR);
}

QString corpusPath(const QString &name)
{
    return corpusDir() + QLatin1Char('/') + name;
}

bool sanitizerBuild()
{
#ifdef SEEKMARK_SANITIZE_BUILD
    return true;
#else
    return false;
#endif
}

int slowdown()
{
    return sanitizerBuild() ? 3 : 1;
}

// ---- Watchdog

Watchdog::Watchdog() : m_Thread([this] { watch(); }) {}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Quit = true;
    }
    m_Wake.notify_all();
    m_Thread.join();
}

void Watchdog::arm(const QString &what, int limitMs)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_What = what.toStdString();
    m_Limit = std::chrono::milliseconds(static_cast<long long>(limitMs) * slowdown());
    m_Deadline = std::chrono::steady_clock::now() + m_Limit;
    m_Armed = true;
}

void Watchdog::pet()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Deadline = std::chrono::steady_clock::now() + m_Limit;
}

void Watchdog::disarm()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Armed = false;
}

void Watchdog::watch()
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    while (!m_Quit) {
        m_Wake.wait_for(lock, std::chrono::milliseconds(100));
        if (m_Quit || !m_Armed || std::chrono::steady_clock::now() < m_Deadline)
            continue;
        std::fprintf(stderr, "\nWATCHDOG: no progress for %lld ms while %s: hung, ending the test run\n",
                     static_cast<long long>(m_Limit.count()), m_What.c_str());
        std::fflush(stderr);
        std::abort();
    }
}

// ---- Process readings

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : -1;
}

qint64 peakResidentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

bool resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

int openFileCount()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                                .size());
}

// ---- Byte source

FileSource::FileSource(const QString &path) : m_File(path)
{
    m_File.open(QIODevice::ReadOnly);
}

qint64 FileSource::read(char *buffer, qint64 offset, qint64 size)
{
    QMutexLocker lock(&m_Mutex);
    if (!m_File.isOpen() || !m_File.seek(offset))
        return -1;
    return m_File.read(buffer, size);
}

qint64 FileSource::sourceSize()
{
    QMutexLocker lock(&m_Mutex);
    return m_File.isOpen() ? m_File.size() : 0;
}

// ---- Engine forms

EngineOptions fastSeekmark()
{
    EngineOptions options = EngineOptions::seekmark();
    options.afterWorkMs = 0;
    options.idleWaitMs = 0;
    options.afterIdleMs = 1;
    options.pausedMs = 5;
    options.logChannels = false;
    return options;
}

EngineOptions fastFramewise()
{
    EngineOptions options = EngineOptions::framewise();
    options.afterWorkMs = 0;
    options.afterIdleMs = 1;
    options.pausedMs = 5;
    options.pictureDebugLines = false;
    return options;
}

void useDummyAudio()
{
    if (!qEnvironmentVariableIsSet("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "dummy");
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(static_cast<qint64>(timeoutMs) * slowdown());
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

namespace {

constexpr int kStageMs = 20000;

// Takes every queued picture and sound block; returns whether a picture came.
bool takeAll(DecoderAgent *agent, PlayResult &result)
{
    bool took = false;
    if (VideoAgent *scheduler = agent->videoAgent()) {
        while (DataPacket *picture = scheduler->pictures().take()) {
            delete picture;
            ++result.pictures;
            took = true;
        }
    }
    while (DataPacket *block = agent->audioQueue().take()) {
        delete block;
        ++result.audioBlocks;
    }
    return took;
}

} // namespace

PlayResult playSeekmarkForm(const QString &path, Watchdog &dog, int timeoutMs, const SeekmarkRun &run)
{
    useDummyAudio();
    PlayResult result;
    VideoEngine engine;
    FileVideoDriver driver;
    driver.m_Listener = run.listener;
    engine.registerDriver(QStringLiteral("file"), &driver);

    std::unique_ptr<FFMpegVideo> video;
    {
        Watchdog::Scope scope(dog, QStringLiteral("opening %1 in the seekmark form").arg(path), kStageMs);
        video = std::make_unique<FFMpegVideo>(&engine, QStringLiteral("file://") + path, nullptr, fastSeekmark());
        result.opened = video->open();
    }
    if (!result.opened) {
        result.error = video->errorString();
        Watchdog::Scope scope(dog, QStringLiteral("closing the unopened %1").arg(path), kStageMs);
        video.reset();
        return result;
    }

    bool ended = false;
    QObject::connect(video.get(), &Video::videoEnd, [&ended] { ended = true; });
    DecoderAgent *agent = video->agent();
    QDeadlineTimer deadline(static_cast<qint64>(timeoutMs) * slowdown());
    // Plays until the decoder has stopped at the end; false when the deadline came first.
    auto playToEnd = [&] {
        while (!(ended && agent->isStopped())) {
            if (deadline.hasExpired())
                return false;
            takeAll(agent, result);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
            dog.pet();
        }
        takeAll(agent, result);
        return true;
    };
    {
        Watchdog::Scope scope(dog, QStringLiteral("playing %1 in the seekmark form").arg(path), kStageMs);
        video->play();
        bool duringDone = !run.duringPlay;
        while (!(ended && agent->isStopped())) {
            if (deadline.hasExpired()) {
                result.timedOut = true;
                break;
            }
            if (!duringDone) {
                const bool ready = run.waitForFullQueue
                    ? (agent->videoAgent()->pictures().isFull() || agent->audioQueue().isFull())
                    : result.pictures > 0;
                if (ready) {
                    run.duringPlay();
                    duringDone = true;
                }
            }
            if (!run.waitForFullQueue || duringDone)
                takeAll(agent, result);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
            dog.pet();
        }
        takeAll(agent, result);
    }
    result.ended = ended;
    if (result.ended && run.seeksAfterEnd > 0) {
        Watchdog::Scope scope(dog, QStringLiteral("seeking in %1 in the seekmark form").arg(path), kStageMs);
        const qint64 duration = video->duration();
        std::mt19937 rng(qHash(QFileInfo(path).fileName()));
        const int toTheEnd = result.pictures;
        for (int i = 0; i < run.seeksAfterEnd && !result.timedOut; ++i) {
            // The second half and a little beyond the end; a clip of unknown length near its start.
            const int target = duration > 0 ? int(duration / 2 + rng() % (duration / 2 + 3)) : int(rng() % 4);
            ended = false;
            video->seek(target);
            video->play();
            if (playToEnd())
                ++result.seeksPlayed;
            else
                result.timedOut = true;
        }
        result.picturesAfterSeeks = result.pictures - toTheEnd;
        result.pictures = toTheEnd;
    }
    {
        Watchdog::Scope scope(dog, QStringLiteral("closing %1 in the seekmark form").arg(path), kStageMs);
        video.reset();
    }
    return result;
}

PlayResult playFramewiseForm(const QString &path, Watchdog &dog, int timeoutMs, int enough, int quietMs,
                             const std::function<void()> &duringPlay)
{
    useDummyAudio();
    PlayResult result;
    auto decoder = std::make_unique<DecoderAgent>(nullptr, fastFramewise());
    {
        Watchdog::Scope scope(dog, QStringLiteral("opening %1 in the framewise form").arg(path), kStageMs);
        result.opened = decoder->open(path);
    }
    if (!result.opened) {
        result.error = decoder->openError();
        Watchdog::Scope scope(dog, QStringLiteral("closing the unopened %1").arg(path), kStageMs);
        decoder.reset();
        return result;
    }
    {
        Watchdog::Scope scope(dog, QStringLiteral("playing %1 in the framewise form").arg(path), kStageMs);
        decoder->start();
        bool duringDone = !duringPlay;
        QElapsedTimer sinceLast;
        sinceLast.start();
        const qint64 quiet = static_cast<qint64>(quietMs) * slowdown();
        QDeadlineTimer deadline(static_cast<qint64>(timeoutMs) * slowdown());
        while (!(enough > 0 && result.pictures >= enough) && sinceLast.elapsed() < quiet) {
            if (deadline.hasExpired()) {
                result.timedOut = true;
                break;
            }
            if (takeAll(decoder.get(), result))
                sinceLast.restart();
            if (!duringDone && result.pictures > 0) {
                duringPlay();
                duringDone = true;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
            dog.pet();
        }
    }
    {
        Watchdog::Scope scope(dog, QStringLiteral("stopping %1 in the framewise form").arg(path), kStageMs);
        decoder->stop();
        decoder.reset();
    }
    return result;
}

// ---- Messages

namespace {
QMutex s_LogMutex;
QStringList s_LogLines;
QtMessageHandler s_PreviousHandler = nullptr;
constexpr int kMaxLogLines = 50000;
} // namespace

MessageLog::MessageLog()
{
    QMutexLocker lock(&s_LogMutex);
    s_LogLines.clear();
    s_PreviousHandler = qInstallMessageHandler(&MessageLog::handler);
}

MessageLog::~MessageLog()
{
    qInstallMessageHandler(s_PreviousHandler);
    QMutexLocker lock(&s_LogMutex);
    s_LogLines.clear();
}

QStringList MessageLog::lines() const
{
    QMutexLocker lock(&s_LogMutex);
    return s_LogLines;
}

int MessageLog::count(const QString &text) const
{
    int n = 0;
    for (const QString &line : lines())
        if (line.contains(text))
            ++n;
    return n;
}

void MessageLog::handler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    // The per-read and per-tick lines would only crowd out the ones that tell something.
    if (text.startsWith(QLatin1String("FileAccessView::READ BLOCK")) || text.startsWith(QLatin1String("FPS DELAY"))
        || text.startsWith(QLatin1String("shown ")))
        return;
    QMutexLocker lock(&s_LogMutex);
    if (s_LogLines.size() < kMaxLogLines)
        s_LogLines << (type >= QtWarningMsg ? QStringLiteral("WARNING: ") : QString()) + text;
}

} // namespace hostile
