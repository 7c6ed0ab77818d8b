// The data access layer by table: the storage profiles, the file driver over real files, the
// URL-to-driver path of a Video, and FFMpegVideo on real clips through "file://" and a file driver
// that watches the order of its calls, with sound going to SDL's dummy driver.
#include "access/ffmpegvideo.h"
#include "access/filevideodriver.h"
#include "access/ifileaccess.h"
#include "access/storageprofile.h"
#include "access/videoengine.h"
#include "tests/common/enginerun.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>
#include <QTemporaryDir>

#include <atomic>
#include <climits>
#include <memory>
#include <utility>
#include <vector>

using namespace testsupport;

namespace {

using Kind = StorageProfile::Kind;

// Bytes offset .. offset + count of every patterned test source.
QByteArray pattern(qint64 offset, qint64 count)
{
    QByteArray bytes;
    for (qint64 i = offset; i < offset + count; ++i)
        bytes.append(char((i * 7 + 3) & 0xFF));
    return bytes;
}

// What a driver tells its listener (the file access view): "opened 3000", "read 1000 4096".
struct Listener : IFileAccess {
    QStringList events;
    void readBlock(qint64 offset, qint64 size) override { events << QString("read %1 %2").arg(offset).arg(size); }
    void fileOpened(qint64 size) override { events << QString("opened %1").arg(size); }
    QStringList take() { return std::exchange(events, {}); }
};

TEST(StorageProfile, LabelsInTheOrderOfTheKeyAndTheDelayOfARead)
{
    // S in seekmark: three presses come back to where they started.
    QStringList labels;
    for (StorageProfile p = StorageProfile(); labels.size() < 4; p = p.next())
        labels << p.label();
    EXPECT_EQ(labels, (QStringList{"local disk (no added delay)", "hard disk (8 ms per seek, 100 MB/s)",
                                   "network share (2 ms per request, 10 MB/s)", "local disk (no added delay)"}));
    constexpr qint64 None = StorageProfile::NoPreviousRead;
    const struct {
        const char *what;
        Kind kind;
        qint64 offset, bytes, previousEnd, delayUs;
    } rows[] = {
        {"local: first read", Kind::LocalDisk, 0, 32768, None, 0},
        // 32768 bytes at 100 MB/s are 327.68 us.
        {"disk: the first read moves the head", Kind::HardDisk, 0, 32768, None, 8328},
        {"disk: reading on", Kind::HardDisk, 32768, 32768, 32768, 328},
        {"disk: a jump back", Kind::HardDisk, 0, 32768, 32768, 8328},
        {"disk: a jump of one byte is a seek", Kind::HardDisk, 32769, 100, 32768, 8001},
        {"disk: nothing left to read there", Kind::HardDisk, 5000, 0, 5000, 0},
        {"disk: a jump to the end still moves", Kind::HardDisk, 5000, 0, 0, 8000},
        {"disk: a negative count moves no bytes", Kind::HardDisk, 0, -5, 0, 0},
        // 32768 bytes at 10 MB/s are 3276.8 us; every read is a request, jump or not.
        {"share: first read", Kind::NetworkShare, 0, 32768, None, 5277},
        {"share: reading on", Kind::NetworkShare, 32768, 32768, 32768, 5277},
        {"share: a jump", Kind::NetworkShare, 1 << 20, 4096, 0, 2410},
        {"share: an empty request", Kind::NetworkShare, 0, 0, 0, 2000},
        {"share: one megabyte", Kind::NetworkShare, 0, 1000000, 0, 102000},
        // Absurd counts are capped, never overflow into a negative wait.
        {"share: an absurd count", Kind::NetworkShare, 0, qint64(1) << 62, 0,
         2000 + ((qint64(1) << 40) * 1000000 + 5000000) / 10000000},
    };
    for (const auto &r : rows)
        EXPECT_EQ(StorageProfile(r.kind).delayUs(r.offset, r.bytes, r.previousEnd), r.delayUs) << r.what;
}

class FileVideoDriverTest : public ::testing::Test {
protected:
    void SetUp() override { m_Driver.m_Listener = &m_Listener; }
    QString write(const QString &name, const QByteArray &bytes)
    {
        QFile file(m_Dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }
    qint64 open(const QString &name) { return m_Driver.open(name.toUtf8().constData()); }

    QTemporaryDir m_Dir;
    const QString m_Source = write("source.bin", pattern(0, 3000));
    Listener m_Listener;
    FileVideoDriver m_Driver;
};

TEST_F(FileVideoDriverTest, OpenReportsTheSizeAndReadReturnsTheBytesAtTheOffsetOfItsOwnSource)
{
    ASSERT_TRUE(QDir(m_Dir.path()).mkdir("folder"));
    const std::pair<QString, QStringList> cases[] = {   // name, what the listener hears (nothing: no open)
        {m_Dir.filePath("missing.bin"), {}},
        {m_Dir.filePath("folder"), {}},
        {QString(), {}},
        {write("empty.bin", {}), {"opened 0"}},
        {m_Source, {"opened 3000"}},
        {write(QString::fromUtf8("кадр 映像.bin"), QByteArray(5, 'x')), {"opened 5"}},   // UTF-8 names intact
    };
    for (const auto &[name, heard] : cases) {
        const qint64 handle = open(name);
        EXPECT_EQ(handle != 0, !heard.isEmpty()) << name.toStdString();
        EXPECT_EQ(m_Listener.take(), heard) << name.toStdString();
        m_Driver.close(handle);
    }
    EXPECT_EQ(m_Driver.open(nullptr), 0);

    // Every read starts at its own offset, not where the last ended; a negative offset fails
    // instead of reading elsewhere; two handles are two files; the no-source handle 0, which a
    // caller that failed to open holds, gets neutral answers instead of a null file; the listener
    // hears only of reads that happen.
    const qint64 handles[] = {0, open(m_Source), open(write("other.bin", pattern(0, 50)))};
    ASSERT_TRUE(handles[1] && handles[2]);
    const qint64 reads[][4] = {   // source, offset, size, count
        {1, 0, 100, 100},   {1, 1000, 4096, 2000}, {2, 45, 10, 5},    {1, 10, 20, 20}, {1, 2999, 10, 1},
        {1, 3000, 10, 0},   {1, 5000, 4096, 0},    {1, 0, 0, 0},      {1, -1, 16, -1}, {1, 0, 3000, 3000},
        {0, 0, 10, -1},
    };
    m_Listener.take();
    for (const auto &[source, offset, size, count] : reads) {
        SCOPED_TRACE(testing::Message() << "source " << source << " offset " << offset << " size " << size);
        QByteArray buffer(int(size), '\0');
        EXPECT_EQ(m_Driver.read(handles[source], buffer.data(), offset, size), count);
        EXPECT_EQ(m_Listener.take(), count < 0 ? QStringList{} : QStringList{QString("read %1 %2").arg(offset).arg(size)});
        const qint64 got = qMax<qint64>(count, 0);
        EXPECT_EQ(buffer, pattern(offset, got) + QByteArray(int(size - got), '\0'));
    }
    EXPECT_EQ(m_Driver.size(handles[2]), 50);
    m_Driver.close(handles[2]);
    EXPECT_EQ(m_Driver.size(handles[1]), 3000);
    m_Driver.close(0);
    m_Driver.paused(0);
    m_Driver.started(0);
    EXPECT_EQ(m_Driver.size(0) + m_Driver.totalSize(0) + m_Driver.pendingSize(0), 0);
    EXPECT_FALSE(m_Driver.isAvailable(0, 0, 8));
    EXPECT_TRUE(m_Listener.take().isEmpty());
    m_Driver.m_Listener = nullptr;
    char byte;
    EXPECT_EQ(m_Driver.read(handles[1], &byte, 2999, 1), 1);
    m_Driver.close(handles[1]);
}

// What the driver adds to the storage model: each source remembers where its last read ended (a
// short read where it got to), only the bytes the file holds there are charged, a changed profile
// applies from the next read, and the driver really waits that long.
TEST_F(FileVideoDriverTest, StorageWaitsFollowEachSourceAndTheBytesThere)
{
    const qint64 handles[] = {open(m_Source), open(m_Source)};
    const struct {
        Kind kind;
        int source;
        qint64 offset, size, waitUs;
    } reads[] = {
        {Kind::LocalDisk, 0, 0, 1000, 0},
        {Kind::HardDisk, 0, 1000, 1000, 10},     // reading on after the switch: no seek
        {Kind::HardDisk, 1, 2000, 1000, 8010},   // the other source starts with a seek
        {Kind::HardDisk, 1, 2500, 4096, 8005},   // a jump back; only the 500 bytes left count
        {Kind::HardDisk, 1, 3000, 100, 0},       // on from where the short read ended
        {Kind::HardDisk, 0, 5000, 4096, 8000},   // past the end: the head moves, no bytes
        {Kind::NetworkShare, 0, 0, 1000, 2100},
    };
    QElapsedTimer timer;
    timer.start();
    for (const auto &r : reads) {
        SCOPED_TRACE(testing::Message() << "source " << r.source << " offset " << r.offset);
        m_Driver.setStorageProfile(r.kind);
        EXPECT_EQ(m_Driver.storageProfile(), StorageProfile(r.kind));
        const qint64 before = m_Driver.storageWaitUs();
        QByteArray buffer(int(r.size), '\0');
        const qint64 expected = std::clamp<qint64>(3000 - r.offset, 0, r.size);
        EXPECT_EQ(m_Driver.read(handles[r.source], buffer.data(), r.offset, r.size), expected);
        EXPECT_EQ(buffer.left(int(expected)), pattern(r.offset, expected));
        EXPECT_EQ(m_Driver.storageWaitUs() - before, r.waitUs);
    }
    // A unit slip (milliseconds slept for microseconds) would be a thousand times over.
    const qint64 elapsedUs = timer.nsecsElapsed() / 1000;
    EXPECT_GE(elapsedUs, m_Driver.storageWaitUs());
    EXPECT_LT(elapsedUs, 10 * m_Driver.storageWaitUs() + 2000000);
}

// Records what a video asks of it: the names opened (any but "missing" opens m_Redirect, when
// set), "started", "paused", "close <handle>", and the range of every read. m_Calls is
// the GUI thread's; reads come from the decoder's worker too, their ranges under m_Lock.
class WatchedDriver : public FileVideoDriver {
public:
    qint64 open(const char *name) override
    {
        m_Opened << QString::fromUtf8(name);
        if (m_Redirect.isEmpty())
            return FileVideoDriver::open(name);
        return m_Opened.last() == "missing" ? 0 : FileVideoDriver::open(m_Redirect.toUtf8().constData());
    }
    void close(qint64 handle) override
    {
        FileVideoDriver::close(handle);
        m_Closed = true;
        m_Calls << QString("close %1").arg(handle);
    }
    void paused(qint64) override { m_Calls << "paused"; }
    void started(qint64) override { m_Calls << "started"; }
    qint64 read(qint64 handle, char *buffer, qint64 offset, qint64 size) override
    {
        m_ReadsAfterClose += m_Closed ? 1 : 0;
        QMutexLocker lock(&m_Lock);
        m_Read.emplace_back(offset, offset + size);
        return FileVideoDriver::read(handle, buffer, offset, size);
    }
    int reads()
    {
        QMutexLocker lock(&m_Lock);
        return int(m_Read.size());
    }

    QString m_Redirect;
    QStringList m_Opened, m_Calls;
    QMutex m_Lock;
    std::vector<std::pair<qint64, qint64>> m_Read;   // [from, to) of every read
    std::atomic<int> m_ReadsAfterClose{0};
    std::atomic<bool> m_Closed{false};   // since the first close: the tests that look read one source
};

// The scheme picks the driver and the rest is the name; only a source that opened is closed, once,
// with its own handle (a real driver would be handed a null file otherwise). A second registration
// of a scheme replaces the first, which the engine must not delete.
TEST_F(FileVideoDriverTest, UrlSelectsTheDriverAndTheNameAndOnlyAnOpenSourceIsClosed)
{
    WatchedDriver file, mem;
    file.m_Redirect = mem.m_Redirect = m_Source;
    VideoEngine engine;
    engine.registerDriver("file", &mem);
    engine.registerDriver("file", &file);
    engine.registerDriver("mem", &mem);
    const struct {
        QString url;
        WatchedDriver *driver;   // null: no driver found
        QString name;
        bool opened;
    } cases[] = {
        {"file://C:/a.mp4", &file, "C:/a.mp4", true},
        {"file:C:/a.mp4", &file, "C:/a.mp4", true},
        {"file:///tmp/clip.mp4", &file, "/tmp/clip.mp4", true},
        {"file:/a", &file, "", true},   // one slash still takes two characters
        {"file", &file, "", true},      // no colon: the whole URL is the scheme
        {"file://missing", &file, "missing", false},
        {"mem:a:b", &mem, "a:b", true},   // only the first colon ends the scheme
        {QString::fromUtf8("file://кадр 映像.mp4"), &file, QString::fromUtf8("кадр 映像.mp4"), true},
        {"FILE://x", nullptr, "", false},   // schemes are case-sensitive
        {"C:/a.mp4", nullptr, "", false},
        {"", nullptr, "", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        for (WatchedDriver *d : {&file, &mem}) {
            d->m_Opened.clear();
            d->m_Calls.clear();
        }
        qint64 handle = 0;
        {
            FFMpegVideo video(&engine, c.url, nullptr, fastSeekmark());
            handle = video.handle();
            EXPECT_EQ(video.driver(), c.driver);
            EXPECT_EQ(video.name(), c.name);
            EXPECT_EQ(video.isOpened(), c.opened);
            EXPECT_EQ(handle != 0, c.opened);
            EXPECT_EQ(video.sourceSize(), c.opened ? 3000 : 0);
        }
        for (WatchedDriver *d : {&file, &mem}) {
            EXPECT_EQ(d->m_Opened, d == c.driver ? QStringList{c.name} : QStringList{});
            EXPECT_EQ(d->m_Calls, d == c.driver && c.opened ? QStringList{QString("close %1").arg(handle)} : QStringList{});
        }
    }
    EXPECT_FALSE(FFMpegVideo(nullptr, "file://C:/a.mp4", nullptr, fastSeekmark()).isOpened());
}

class FFMpegVideoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        useDummyAudio();
        m_Engine.registerDriver("file", &m_Driver);
    }
    std::unique_ptr<FFMpegVideo> openClip(const QString &name, const EngineOptions &options = fastSeekmark())
    {
        auto video = std::make_unique<FFMpegVideo>(&m_Engine, "file://" + clipPath(name), nullptr, options);
        EXPECT_TRUE(video->open()) << name.toStdString() << ": " << video->errorString().toStdString();
        return video;
    }
    // Takes every picture and sound block as they come until ended() holds or the deadline passes.
    static std::vector<Picture> drainUntil(DecoderAgent *agent, const std::function<bool()> &ended, int ms = 60000)
    {
        std::vector<Picture> pictures;
        waitFor([&] { return takeQueued(*agent, &pictures) >= 0 && ended(); }, ms);
        takeQueued(*agent, &pictures);
        return pictures;
    }

    WatchedDriver m_Driver;
    VideoEngine m_Engine;
};

// A video that did not open (no driver, no source, a source but no decoder) says why; one whose
// decoder was never made answers as neutrally. No play() reaches a driver then, and every source
// that was opened is closed. Sound decides the volume; whole seconds round half up, unlike every
// other time here.
TEST_F(FFMpegVideoTest, UnopenedVideoAnswersNeutrallyAndSaysWhyAndAnOpenOneRoundsSeconds)
{
    const std::pair<QString, QString> cases[] = {   // url, why (empty: open() is not called)
        {"mem:x", "no driver for scheme \"mem\""},
        {"file://" + clipPath("missing.mp4"), "cannot open file"},
        {"file://" + testsSourceDir() + "/clips/make_clips.sh", "not a readable media file"},
        {"file://" + clipPath("h264_aac.mp4"), ""},
    };
    for (const auto &[url, why] : cases) {
        SCOPED_TRACE(url.toStdString());
        auto video = std::make_unique<FFMpegVideo>(&m_Engine, url, nullptr, fastSeekmark());
        if (!why.isEmpty()) {
            EXPECT_FALSE(video->open() || video->isOpened());
            EXPECT_TRUE(video->errorString().contains(why)) << video->errorString().toStdString();
        }
        video->play();
        video->setVolume(70);
        video->seek(3);
        video->randomAccess();
        video->pause();
        EXPECT_EQ(video->width() + video->height() + video->volume() + video->dataOffset(), 0);
        EXPECT_EQ(video->nextPicture(), nullptr);
        EXPECT_EQ(video->positionMs() + video->position() + video->durationMs() + video->duration(), 0);
        EXPECT_EQ(video->frameRate(), 1.0);
        EXPECT_TRUE(!video->agent() || video->agent()->isStopped());
    }
    EXPECT_FALSE(m_Driver.m_Calls.contains("started"));
    EXPECT_EQ(m_Driver.m_Calls.filter("close").size(), 2);

    for (const auto &[clip, volume] : {std::pair{"odd_321x241.mkv", 100}, std::pair{"h264_noaudio.mp4", 0}}) {
        auto video = openClip(clip);
        video->setVolume(150);
        EXPECT_EQ(video->volume(), volume) << clip;
    }
    auto video = openClip("h264_aac.mp4");
    for (const auto &[clock, seconds] : {std::pair{12.5, 13}, {12.49, 12}, {0.5, 1}, {7.4999, 7}}) {
        video->agent()->m_Clock.store(clock);
        EXPECT_EQ(video->position(), seconds) << clock;
    }
}

TEST(FFMpegVideoRandomSeek, TargetsStayInsideTheClip)
{
    const qint64 cases[][3] = {   // seconds, r, target (-1: no seek)
        {100, 88, 88},  {100, 89, 0},  {40, RAND_MAX, RAND_MAX % 29},
        {12, 12345, 0},   // one second to pick from
        {11, 5, -1},      // would divide by zero
        {8, 5, -1},       // the remainder of a negative divisor could land past the end
        {-3, 5, -1},    {qint64(1) << 40, INT_MAX, INT_MAX},
    };
    for (const auto &[seconds, r, target] : cases)
        EXPECT_EQ(FFMpegVideo::randomSeekTarget(seconds, int(r)), target) << seconds << " s, r " << r;
}

// The decoder reads on its own thread through this video's source: it must be ended before the
// source is closed.
TEST_F(FFMpegVideoTest, DestroyingAPlayingVideoStopsReadingBeforeTheSourceCloses)
{
    EngineOptions slow = fastSeekmark();
    slow.afterWorkMs = 2;   // still playing when the test pulls the plug
    auto video = openClip("h264_long.mp4", slow);
    const qint64 handle = video->handle();
    const int readsAtOpen = m_Driver.reads();
    video->play();
    // The pictures have to be taken, or the full queue holds the worker back from reading.
    drainUntil(video->agent(), [&] { return m_Driver.reads() > readsAtOpen + 2; }, 30000);
    ASSERT_GT(m_Driver.reads(), readsAtOpen + 2);
    EXPECT_FALSE(video->agent()->isStopped());
    video.reset();
    EXPECT_EQ(m_Driver.m_Calls, (QStringList{"started", "paused", QString("close %1").arg(handle)}));
    EXPECT_EQ(m_Driver.m_ReadsAfterClose.load(), 0);
}

// A second open() must end the first decoder (which reads the same source); the new one plays
// from the start, and its signals arrive once each, on the GUI thread.
TEST_F(FFMpegVideoTest, OpeningTwiceReplacesTheDecoderWhoseSignalsReachTheGuiThread)
{
    auto video = openClip("h264_aac.mp4");
    video->play();
    ASSERT_TRUE(waitFor([&] { return !video->agent()->videoAgent()->pictures().isEmpty(); }));
    const QPointer<DecoderAgent> first = video->agent();
    ASSERT_TRUE(video->open());
    EXPECT_TRUE(first.isNull()) << "the first decoder is still alive, reading the same source";
    EXPECT_TRUE(video->agent()->isStopped());

    // Direct connections run where the video emits, which is where its relay delivers.
    std::vector<QThread *> seekThreads, endThreads;
    QObject::connect(video.get(), &Video::seekDone, video.get(),
                     [&] { seekThreads.push_back(QThread::currentThread()); }, Qt::DirectConnection);
    QObject::connect(video.get(), &Video::videoEnd, video.get(),
                     [&] { endThreads.push_back(QThread::currentThread()); }, Qt::DirectConnection);
    video->play();
    std::vector<Picture> pictures;
    ASSERT_TRUE(waitFor([&] { return takeQueued(*video->agent(), &pictures) > 0; }));
    EXPECT_EQ(pictures.front().number, 0);
    video->seek(2);
    drainUntil(video->agent(), [&] { return !endThreads.empty(); });
    waitFor([] { return false; }, 300);   // anything still queued would arrive now
    QThread *const gui = QCoreApplication::instance()->thread();
    EXPECT_EQ(endThreads, std::vector<QThread *>{gui}) << "the clip was not played to its end once";
    ASSERT_GE(seekThreads.size(), 1u);
    EXPECT_EQ(seekThreads, std::vector<QThread *>(seekThreads.size(), gui));
}

// The byte path must be complete: a clip played through the file driver reads every packet that
// libavformat finds in the file opened by its path (the driver tells the file access view of each
// read), and decodes every picture once, in order. That the byte path and the path form decode
// the same pictures at the same times is the engine's decode test.
class ThroughTheDriver : public FFMpegVideoTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(ThroughTheDriver, EveryPacketIsReadAndEveryPictureDecoded)
{
    auto video = openClip(GetParam());
    int ends = 0;
    QObject::connect(video.get(), &Video::videoEnd, [&ends] { ++ends; });
    video->play();
    const std::vector<Picture> pictures = drainUntil(video->agent(), [&ends] { return ends > 0; });
    ASSERT_EQ(ends, 1) << "the clip was not played to its end";
    ASSERT_GE(pictures.size(), 90u);
    for (size_t i = 0; i < pictures.size(); ++i)
        ASSERT_EQ(pictures[i].number, int(i)) << "picture " << i;

    const QString path = clipPath(GetParam());
    std::vector<bool> read(QFileInfo(path).size());
    auto at = [&read](qint64 offset) { return read.begin() + std::clamp<qint64>(offset, 0, read.size()); };
    for (const auto &[from, to] : m_Driver.m_Read)
        std::fill(at(from), at(to), true);
    AVFormatContext *context = nullptr;
    ASSERT_EQ(avformat_open_input(&context, QFile::encodeName(path).constData(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(context, nullptr), 0);
    AVPacket *packet = av_packet_alloc();
    for (int n = 0, missed = 0; av_read_frame(context, packet) >= 0; ++n, av_packet_unref(packet)) {
        EXPECT_TRUE(n > 0 || video->dataOffset() == int(packet->pos)) << "the first packet is at " << packet->pos;
        const auto end = at(packet->pos + packet->size);
        if (packet->pos >= 0 && std::find(at(packet->pos), end, false) != end && ++missed <= 5)
            ADD_FAILURE() << "packet at " << packet->pos << " (" << packet->size << " bytes) never read";
    }
    av_packet_free(&packet);
    avformat_close_input(&context);
}

INSTANTIATE_TEST_SUITE_P(Clips, ThroughTheDriver,
                         ::testing::Values("h264_aac.mp4", "mpeg2_mp2.mpg", "vp9_opus.mkv", "ts_offset10.ts",
                                           "odd_321x241.mkv", "subtitles.mkv", "vfr.mkv"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             std::string name = info.param;
                             return name.replace(name.find('.'), 1, "_");
                         });

} // namespace
