#include "hostilesupport.h"

#include "access/ffmpegvideo.h"
#include "access/filevideodriver.h"
#include "access/videoengine.h"
#include "seekmark/player.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QStringList>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <unistd.h>
#include <utility>

namespace hostile {

Watchdog::Watchdog(const QString &what, int limitMs)
    : m_What(what.toStdString()), m_Limit(static_cast<long long>(limitMs) * slowdown()),
      m_Deadline(std::chrono::steady_clock::now() + m_Limit), m_Thread([this] {
          std::unique_lock<std::mutex> lock(m_Mutex);
          while (!m_Quit) {
              const auto deadline = m_Deadline;
              if (m_Wake.wait_until(lock, deadline) == std::cv_status::timeout && !m_Quit
                  && std::chrono::steady_clock::now() >= m_Deadline) {
                  std::fprintf(stderr, "\nWATCHDOG: no progress for %lld ms while %s: hung, ending the test run\n",
                               static_cast<long long>(m_Limit.count()), m_What.c_str());
                  std::fflush(stderr);
                  std::abort();
              }
          }
      })
{
}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Quit = true;
    }
    m_Wake.notify_all();
    m_Thread.join();
}

void Watchdog::pet()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Deadline = std::chrono::steady_clock::now() + m_Limit;
}

namespace {

QList<QByteArray> procLines(const char *file, char separator)
{
    QFile f(QString::fromLatin1(file));
    return f.open(QIODevice::ReadOnly) ? f.readAll().split(separator) : QList<QByteArray>();
}

} // namespace

qint64 residentBytes()
{
    const QList<QByteArray> fields = procLines("/proc/self/statm", ' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : -1;
}

qint64 peakResidentBytes()
{
    for (const QByteArray &line : procLines("/proc/self/status", '\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return -1;
}

bool resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

int openFileCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

FileSource::FileSource(const QString &path) : m_File(path)
{
    m_File.open(QIODevice::ReadOnly);
}

qint64 FileSource::read(char *buffer, qint64 offset, qint64 size)
{
    QMutexLocker lock(&m_Mutex);
    return m_File.isOpen() && m_File.seek(offset) ? m_File.read(buffer, size) : -1;
}

qint64 FileSource::sourceSize()
{
    QMutexLocker lock(&m_Mutex);
    return m_File.isOpen() ? m_File.size() : 0;
}

namespace {
constexpr int kStageMs = 20000;

// One pass of the event loop while polling: queued signals arrive, the watchdog hears of it.
void turn(Watchdog &dog)
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
    dog.pet();
}
} // namespace

PlayResult playSeekmarkForm(const QString &path, int timeoutMs, const SeekmarkRun &run)
{
    useDummyAudio();
    PlayResult result;
    VideoEngine engine;
    FileVideoDriver driver;
    driver.m_Listener = run.listener;
    engine.registerDriver(QStringLiteral("file"), &driver);
    std::unique_ptr<FFMpegVideo> video;
    {
        Watchdog dog(QStringLiteral("opening %1 in the seekmark form").arg(path), kStageMs);
        video = std::make_unique<FFMpegVideo>(&engine, QStringLiteral("file://") + path, nullptr, fastSeekmark());
        result.opened = video->open();
        result.error = video->errorString();
    }
    if (result.opened) {
        bool ended = false;
        QObject::connect(video.get(), &Video::videoEnd, [&ended] { ended = true; });
        DecoderAgent *agent = video->agent();
        QDeadlineTimer deadline(static_cast<qint64>(timeoutMs) * slowdown());
        bool duringDone = !run.duringPlay;
        // Plays until the decoder has stopped at the end; false when the deadline came first.
        auto playToEnd = [&](int &pictures) {
            Watchdog dog(QStringLiteral("playing %1 in the seekmark form").arg(path), kStageMs);
            ended = false;
            video->play();
            while (!(ended && agent->isStopped())) {
                if (deadline.hasExpired())
                    return false;
                if (!duringDone
                    && (run.waitForFullQueue
                            ? agent->videoAgent()->pictures().count() >= VideoAgent::queueCapacity
                                  || agent->audioQueue().count() >= DecoderAgent::audioQueueCapacity
                            : pictures > 0)) {
                    run.duringPlay();
                    duringDone = true;
                }
                if (!run.waitForFullQueue || duringDone)
                    pictures += testsupport::takeQueued(*agent);
                turn(dog);
            }
            pictures += testsupport::takeQueued(*agent);
            return true;
        };
        result.timedOut = !playToEnd(result.pictures);
        result.ended = ended;
        const qint64 duration = video->duration();
        std::mt19937 rng(qHash(QFileInfo(path).fileName()));
        for (int i = 0; result.ended && !result.timedOut && i < run.seeksAfterEnd; ++i) {
            // The second half and a little beyond the end; a clip of unknown length near its start.
            video->seek(duration > 0 ? int(duration / 2 + rng() % (duration / 2 + 3)) : int(rng() % 4));
            result.timedOut = !playToEnd(result.picturesAfterSeeks);
            result.seeksPlayed += result.timedOut ? 0 : 1;
        }
    }
    Watchdog dog(QStringLiteral("closing %1 in the seekmark form").arg(path), kStageMs);
    video.reset();
    return result;
}

PlayResult playFramewiseForm(const QString &path, int timeoutMs, int enough, int quietMs,
                             std::function<void()> duringPlay)
{
    useDummyAudio();
    PlayResult result;
    auto decoder = std::make_unique<DecoderAgent>(nullptr, fastFramewise());
    {
        Watchdog dog(QStringLiteral("opening %1 in the framewise form").arg(path), kStageMs);
        result.opened = decoder->open(path);
        result.error = decoder->openError();
    }
    if (result.opened) {
        Watchdog dog(QStringLiteral("playing %1 in the framewise form").arg(path), kStageMs);
        decoder->start();
        QElapsedTimer sinceLast;
        sinceLast.start();
        QDeadlineTimer deadline(static_cast<qint64>(timeoutMs) * slowdown());
        while (!(enough > 0 && result.pictures >= enough) && sinceLast.elapsed() < qint64(quietMs) * slowdown()) {
            if (deadline.hasExpired()) {
                result.timedOut = true;
                break;
            }
            if (const int taken = testsupport::takeQueued(*decoder)) {
                result.pictures += taken;
                sinceLast.restart();
            }
            if (duringPlay && result.pictures > 0)
                std::exchange(duringPlay, nullptr)();
            turn(dog);
        }
        decoder->stop();
    }
    Watchdog dog(QStringLiteral("closing %1 in the framewise form").arg(path), kStageMs);
    decoder.reset();
    return result;
}

bool hasDisplay()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

std::unique_ptr<Player> showPlayer(const QString &clip, const QString &reportFile)
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

namespace {
QMutex s_LogMutex;
QStringList s_LogLines;
QtMessageHandler s_PreviousHandler = nullptr;

void collect(QtMsgType, const QMessageLogContext &, const QString &text)
{
    if (text.startsWith(QLatin1String("FileAccessView::READ BLOCK")) || text.startsWith(QLatin1String("FPS DELAY"))
        || text.startsWith(QLatin1String("shown ")))
        return;
    QMutexLocker lock(&s_LogMutex);
    if (s_LogLines.size() < 50000)
        s_LogLines << text;
}
} // namespace

MessageLog::MessageLog()
{
    QMutexLocker lock(&s_LogMutex);
    s_LogLines.clear();
    s_PreviousHandler = qInstallMessageHandler(&collect);
}

MessageLog::~MessageLog()
{
    qInstallMessageHandler(s_PreviousHandler);
}

int MessageLog::count(const QString &text) const
{
    QMutexLocker lock(&s_LogMutex);
    return int(std::count_if(s_LogLines.begin(), s_LogLines.end(), [&](const QString &line) { return line.contains(text); }));
}

} // namespace hostile
