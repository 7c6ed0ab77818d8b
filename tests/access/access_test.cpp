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

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>
#include <QTemporaryDir>

#include <climits>

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

TEST(StorageProfile, LabelsInTheOrderOfTheKeyAndTheDelayOfARead)
{
    // S in seekmark: three presses come back to where they started.
    QStringList labels;
    for (StorageProfile p = StorageProfile(); labels.size() < 4; p = p.next())
        labels << p.label();
    EXPECT_EQ(labels, (QStringList{"local disk (no added delay)", "hard disk (8 ms per seek, 100 MB/s)",
                                   "network share (2 ms per request, 10 MB/s)", "local disk (no added delay)"}));
    const qint64 rows[][5] = {   // kind, offset, bytes, end of the previous read, delay
        {0, 0, 32768, StorageProfile::NoPreviousRead, 0},
        {1, 0, 32768, StorageProfile::NoPreviousRead, 8328},   // 32768 bytes at 100 MB/s are 327.68 us
        {1, 32768, 32768, 32768, 328},   // reading on
        {1, 32769, 100, 32768, 8001},    // a jump of one byte is a seek
        {1, 5000, 0, 0, 8000},           // a jump to the end still moves, nothing to read
        {1, 0, -5, 0, 0},                // a negative count moves no bytes
        {2, 32768, 32768, 32768, 5277},  // every read is a request, jump or not
        {2, 0, 1000000, 0, 102000},
        // Absurd counts are capped, never overflow into a negative wait.
        {2, 0, qint64(1) << 62, 0, 2000 + ((qint64(1) << 40) * 1000000 + 5000000) / 10000000},
    };
    for (const auto &[kind, offset, bytes, previousEnd, delayUs] : rows)
        EXPECT_EQ(StorageProfile(Kind(kind)).delayUs(offset, bytes, previousEnd), delayUs) << kind << " " << offset;
}

// What a driver tells its listener (the file access view): "opened 3000", "read 1000 4096".
struct Listener : IFileAccess {
    QStringList events;
    void readBlock(qint64 offset, qint64 size) override { events << QString("read %1 %2").arg(offset).arg(size); }
    void fileOpened(qint64 size) override { events << QString("opened %1").arg(size); }
    QStringList take() { return std::exchange(events, {}); }
};

// Opening reports the size (UTF-8 names intact); every read starts at its own offset, not where
// the last ended, a negative offset fails instead of reading elsewhere, two handles are two files,
// the no-source handle 0 that a caller that failed to open holds gets neutral answers. The storage
// wait: each source remembers where its last read ended (a short read where it got to), only the
// bytes the file holds there are charged, and the driver really waits that long.
TEST(FileVideoDriver, OpensReadsAtTheOffsetOfItsOwnSourceAndWaitsAsTheStorageWould)
{
    QTemporaryDir dir;
    const auto write = [&dir](const QString &name, const QByteArray &bytes) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return file.fileName();
    };
    Listener listener;
    FileVideoDriver driver;
    driver.m_Listener = &listener;
    const std::pair<QString, QStringList> opens[] = {   // name, what the listener hears (nothing: no open)
        {dir.filePath("missing.bin"), {}}, {dir.path(), {}}, {QString(), {}}, {write("empty.bin", {}), {"opened 0"}},
        {write(QString::fromUtf8("кадр 映像.bin"), QByteArray(5, 'x')), {"opened 5"}},
    };
    for (const auto &[name, heard] : opens) {
        const qint64 handle = driver.open(name.toUtf8().constData());
        EXPECT_EQ(handle != 0, !heard.isEmpty()) << name.toStdString();
        EXPECT_EQ(listener.take(), heard) << name.toStdString();
        driver.close(handle);
    }
    const QString source = write("source.bin", pattern(0, 3000));
    const qint64 handles[] = {0, driver.open(source.toUtf8().constData()), driver.open(source.toUtf8().constData()),
                              driver.open(write("other.bin", pattern(0, 50)).toUtf8().constData())};
    EXPECT_EQ(listener.take(), (QStringList{"opened 3000", "opened 3000", "opened 50"}));
    const qint64 reads[][6] = {   // kind, source, offset, size, count, wait
        {0, 1, 0, 1000, 1000, 0},
        {1, 1, 1000, 1000, 1000, 10},     // reading on after the switch: no seek
        {1, 2, 2000, 1000, 1000, 8010},   // the other source starts with a seek
        {1, 2, 2500, 4096, 500, 8005},    // a jump back; only the 500 bytes left count
        {1, 2, 3000, 100, 0, 0},          // on from where the short read ended
        {1, 1, 5000, 4096, 0, 8000},      // past the end: the head moves, no bytes
        {2, 1, 0, 1000, 1000, 2100},
        {0, 3, 45, 10, 5, 0},   {0, 1, 2999, 10, 1, 0}, {0, 1, 0, 0, 0, 0}, {0, 1, -1, 16, -1, 0},
        {0, 0, 0, 10, -1, 0},
    };
    QElapsedTimer timer;
    timer.start();
    for (const auto &[kind, source, offset, size, count, waitUs] : reads) {
        SCOPED_TRACE(testing::Message() << "source " << source << " offset " << offset << " size " << size);
        driver.setStorageProfile(Kind(kind));
        const qint64 before = driver.storageWaitUs();
        QByteArray buffer(int(size), '\0');
        EXPECT_EQ(driver.read(handles[source], buffer.data(), offset, size), count);
        EXPECT_EQ(listener.take(), count < 0 ? QStringList{} : QStringList{QString("read %1 %2").arg(offset).arg(size)});
        EXPECT_EQ(buffer, pattern(offset, qMax<qint64>(count, 0)) + QByteArray(int(size - qMax<qint64>(count, 0)), '\0'));
        EXPECT_EQ(driver.storageWaitUs() - before, waitUs);
    }
    // A unit slip (milliseconds slept for microseconds) would be a thousand times over.
    const qint64 elapsedUs = timer.nsecsElapsed() / 1000;
    EXPECT_TRUE(elapsedUs >= driver.storageWaitUs() && elapsedUs < 10 * driver.storageWaitUs() + 2000000) << elapsedUs;
    EXPECT_EQ(driver.size(handles[3]) + driver.size(0) + driver.totalSize(0) + driver.pendingSize(0), 50);
    EXPECT_FALSE(driver.isAvailable(0, 0, 8));
    for (const qint64 handle : handles)
        driver.close(handle);
}

// Records what a video asks of it: the names opened (any but "missing" opens m_Redirect, when
// set), "started", "paused", "close <handle>", and the range of every read. m_Calls is
// the GUI thread's; reads come from the decoder's worker too, their ranges under m_Lock.
class WatchedDriver : public FileVideoDriver {
public:
    qint64 open(const char *name) override
    {
        m_Calls << QString::fromUtf8(name);
        const bool redirect = !m_Redirect.isEmpty() && QString::fromUtf8(name) != "missing";
        return m_Redirect.isEmpty() || redirect ? FileVideoDriver::open(redirect ? m_Redirect.toUtf8().constData() : name) : 0;
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
    QStringList m_Calls;
    QMutex m_Lock;
    std::vector<std::pair<qint64, qint64>> m_Read;   // [from, to) of every read
    std::atomic<int> m_ReadsAfterClose{0};
    std::atomic<bool> m_Closed{false};   // since the first close: the tests that look read one source
};

// The scheme picks the driver and the rest is the name; a video that did not open says why and
// answers neutrally, no play() reaches its driver, and only a source that opened is closed, once,
// with its own handle (a real driver would be handed a null file otherwise). A second
// registration of a scheme replaces the first, which the engine must not delete.
TEST(FFMpegVideoUrl, SelectsTheDriverAndTheNameAndAnUnopenedVideoSaysWhy)
{
    QTemporaryDir dir;
    QFile source(dir.filePath("source.bin"));
    ASSERT_TRUE(source.open(QIODevice::WriteOnly) && source.write(pattern(0, 3000)) == 3000);
    source.close();
    WatchedDriver file, mem;
    file.m_Redirect = mem.m_Redirect = source.fileName();
    VideoEngine engine;
    engine.registerDriver("file", &mem);
    engine.registerDriver("file", &file);
    engine.registerDriver("mem", &mem);
    const struct {
        QString url;
        WatchedDriver *driver;   // null: no driver found
        QString name, why;
    } cases[] = {
        {"file://C:/a.mp4", &file, "C:/a.mp4", "not a readable media file"},
        {"file:C:/a.mp4", &file, "C:/a.mp4", "not a readable media file"},
        {"file:///tmp/clip.mp4", &file, "/tmp/clip.mp4", "not a readable media file"},
        {"file:/a", &file, "", "not a readable media file"},   // one slash still takes two characters
        {"file", &file, "", "not a readable media file"},      // no colon: the whole URL is the scheme
        {"file://missing", &file, "missing", "cannot open file"},
        {"mem:a:b", &mem, "a:b", "not a readable media file"},   // only the first colon ends the scheme
        {QString::fromUtf8("file://кадр 映像.mp4"), &file, QString::fromUtf8("кадр 映像.mp4"), "not a readable"},
        {"FILE://x", nullptr, "", "no driver for scheme \"FILE\""},   // schemes are case-sensitive
        {"C:/a.mp4", nullptr, "", "no driver for scheme"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        file.m_Calls.clear();
        mem.m_Calls.clear();
        const bool opened = c.why != "cannot open file" && c.driver;
        qint64 handle = 0;
        {
            FFMpegVideo video(&engine, c.url, nullptr, fastSeekmark());
            handle = video.handle();
            EXPECT_EQ(video.driver(), c.driver);
            EXPECT_EQ(video.name(), c.name);
            EXPECT_EQ(handle != 0 && video.isOpened() && video.sourceSize() == 3000, opened);
            EXPECT_FALSE(video.open() || video.isOpened());
            EXPECT_TRUE(video.errorString().contains(c.why)) << video.errorString().toStdString();
            video.play();
            video.setVolume(70);
            video.seek(3);
            video.randomAccess();
            video.pause();
            EXPECT_EQ(video.width() + video.height() + video.volume() + video.dataOffset(), 0);
            EXPECT_EQ(video.positionMs() + video.position() + video.durationMs() + video.duration(), 0);
            EXPECT_TRUE(video.nextPicture() == nullptr && video.frameRate() == 1.0);
        }
        for (WatchedDriver *d : {&file, &mem})
            EXPECT_EQ(d->m_Calls, d != c.driver ? QStringList{} : QStringList{c.name} + (opened ? QStringList{QString("close %1").arg(handle)} : QStringList{}));
    }
    EXPECT_FALSE(FFMpegVideo(nullptr, "file://C:/a.mp4", nullptr, fastSeekmark()).isOpened());
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

    WatchedDriver m_Driver;
    VideoEngine m_Engine;
};

// A second open() must end the first decoder (which reads the same source), and the new one plays
// from the start. The decoder reads on its own thread through the video's source: destroying a
// playing video must end it before the source is closed. Sound decides the volume; whole seconds
// round half up, unlike every other time here.
TEST_F(FFMpegVideoTest, ReopeningEndsTheFirstDecoderAndDestroyingStopsReadingBeforeTheSourceCloses)
{
    EngineOptions slow = fastSeekmark();
    slow.afterWorkMs = 2;   // still playing when the test pulls the plug
    auto video = openClip("h264_long.mp4", slow);
    const QPointer<DecoderAgent> first = video->agent();
    video->play();
    ASSERT_TRUE(waitFor([&] { return !first->videoAgent()->pictures().isEmpty(); }));
    ASSERT_TRUE(video->open());
    EXPECT_TRUE(first.isNull()) << "the first decoder is still alive, reading the same source";
    video->setVolume(150);
    EXPECT_EQ(video->volume(), 100);
    for (const auto &[clock, seconds] : {std::pair{12.5, 13}, {12.49, 12}, {0.5, 1}, {7.4999, 7}}) {
        video->agent()->m_Clock.store(clock);
        EXPECT_EQ(video->position(), seconds) << clock;
    }
    video->play();
    const int readsBefore = m_Driver.reads();
    std::vector<Picture> pictures;
    // The pictures have to be taken, or the full queue holds the worker back from reading.
    ASSERT_TRUE(waitFor([&] { return takeQueued(*video->agent(), &pictures) >= 0 && m_Driver.reads() > readsBefore + 2; }));
    EXPECT_EQ(pictures.at(0).number, 0);
    EXPECT_FALSE(video->agent()->isStopped());
    const qint64 handle = video->handle();
    video.reset();
    EXPECT_EQ(m_Driver.m_Calls.filter("close").join(' '), QString("close %1").arg(handle));
    EXPECT_EQ(m_Driver.m_Calls.last(), QString("close %1").arg(handle));
    EXPECT_EQ(m_Driver.m_ReadsAfterClose.load(), 0);
}

// The byte path must be complete: a clip played through the file driver reads every packet that
// libavformat finds in the file opened by its path, and decodes every picture once, in order,
// with one end of the clip.
class ThroughTheDriver : public FFMpegVideoTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(ThroughTheDriver, EveryPacketIsReadAndEveryPictureDecoded)
{
    auto video = openClip(GetParam());
    int ends = 0;
    QObject::connect(video.get(), &Video::videoEnd, [&ends] { ++ends; });
    video->play();
    std::vector<Picture> pictures;
    waitFor([&] { return takeQueued(*video->agent(), &pictures) >= 0 && ends > 0; }, 60000);
    takeQueued(*video->agent(), &pictures);
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
                         [](const auto &info) { return std::string(info.param).replace(std::string(info.param).find('.'), 1, "_"); });

} // namespace
