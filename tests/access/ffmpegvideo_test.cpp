// FFMpegVideo on real clips through "file://" and a file driver that watches the order of its
// calls, with sound going to SDL's dummy driver.
#include "accessfakes.h"

#include "access/ffmpegvideo.h"
#include "access/filevideodriver.h"
#include "access/videoengine.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTemporaryDir>

#include <atomic>
#include <climits>
#include <memory>

using namespace testsupport;

namespace {

// Records the calls that show the order in which a video drives its source: nothing may be read
// once it is closed. m_Calls is the GUI thread's; reads come from the decoder's worker too.
class WatchedFileDriver : public FileVideoDriver {
public:
    void close(qint64 handle) override
    {
        FileVideoDriver::close(handle);
        m_Closed = true;
        m_Calls << "close";
    }
    void paused(qint64) override { m_Calls << "paused"; }
    void started(qint64) override { m_Calls << "started"; }
    qint64 read(qint64 handle, char *buffer, qint64 offset, qint64 size) override
    {
        m_ReadsAfterClose += m_Closed ? 1 : 0;
        ++m_Reads;
        return FileVideoDriver::read(handle, buffer, offset, size);
    }

    QStringList m_Calls;
    std::atomic<int> m_Reads{0};
    std::atomic<int> m_ReadsAfterClose{0};
    std::atomic<bool> m_Closed{false};   // since the first close: the tests that look read one source
};

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

    WatchedFileDriver m_Driver;
    VideoEngine m_Engine;
};

TEST_F(FFMpegVideoTest, VolumeAndWholeSeconds)
{
    for (const auto &[clip, audio] : {std::pair{"odd_321x241.mkv", true}, std::pair{"h264_noaudio.mp4", false}}) {
        SCOPED_TRACE(clip);
        auto video = openClip(clip);
        EXPECT_TRUE(video->isOpened() && video->errorString().isEmpty());
        video->setVolume(150);
        EXPECT_EQ(video->volume(), audio ? 100 : 0);
    }
    // The position in whole seconds is rounded half up, unlike every other time here.
    auto video = openClip("h264_aac.mp4");
    for (const auto &[clock, seconds] : {std::pair{12.5, 13}, {12.49, 12}, {0.5, 1}, {7.4999, 7}}) {
        video->agent()->m_Clock.store(clock);
        EXPECT_EQ(video->position(), seconds) << clock;
    }
}

TEST_F(FFMpegVideoTest, UnopenedVideoAnswersNeutrallyAndSaysWhy)
{
    QTemporaryDir dir;
    const QString text = dir.filePath("notes.mp4");
    {
        QFile t(text);
        ASSERT_TRUE(t.open(QIODevice::WriteOnly));
        t.write(QByteArray("this is not a clip\n").repeated(2000));
    }
    // No driver, no source, a source but no decoder, a source whose decoder was never made. The
    // player's title and the hostile corpus check the other reasons.
    const struct {
        QString url;
        bool callOpen;
        QString error;
    } cases[] = {
        {"mem:x", true, "no driver for scheme \"mem\""},
        {"file://" + dir.filePath("missing.mp4"), true, "cannot open file"},
        {"file://" + text, true, "not a readable media file"},
        {"file://" + clipPath("h264_aac.mp4"), false, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        auto video = std::make_unique<FFMpegVideo>(&m_Engine, c.url, nullptr, fastSeekmark());
        if (c.callOpen) {
            EXPECT_FALSE(video->open());
            EXPECT_FALSE(video->isOpened());
            EXPECT_TRUE(video->errorString().contains(c.error)) << video->errorString().toStdString();
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
    // No play() reached a driver, and every source that was opened was closed.
    EXPECT_FALSE(m_Driver.m_Calls.contains("started"));
    EXPECT_EQ(m_Driver.m_Calls.count("close"), 2);
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
    const int readsAtOpen = m_Driver.m_Reads.load();
    video->play();
    // The pictures have to be taken, or the full queue holds the worker back from reading.
    drainUntil(video->agent(), [&] { return m_Driver.m_Reads.load() > readsAtOpen + 2; }, 30000);
    ASSERT_GT(m_Driver.m_Reads.load(), readsAtOpen + 2);
    EXPECT_FALSE(video->agent()->isStopped());
    video.reset();
    EXPECT_EQ(m_Driver.m_Calls, (QStringList{"started", "paused", "close"}));
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

// The byte path must be complete: a clip played through the file driver reads (and tells the
// listener, which the file access view is, of) every packet that libavformat finds in the file
// opened by its path, and decodes every picture once, in order. (That the engine's byte path and
// the path form decode the same pictures at the same times is the engine's decode test.)
class ThroughTheDriver : public FFMpegVideoTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(ThroughTheDriver, EveryPacketIsReadAndEveryPictureDecoded)
{
    const QString path = clipPath(GetParam());
    RecordingListener listener;
    m_Driver.m_Listener = &listener;
    auto video = openClip(GetParam());
    int ends = 0;
    QObject::connect(video.get(), &Video::videoEnd, [&ends] { ++ends; });
    video->play();
    const std::vector<Picture> pictures = drainUntil(video->agent(), [&ends] { return ends > 0; });
    ASSERT_EQ(ends, 1) << "the clip was not played to its end";
    ASSERT_GE(pictures.size(), 90u);
    for (size_t i = 0; i < pictures.size(); ++i)
        ASSERT_EQ(pictures[i].number, int(i)) << "picture " << i;

    std::vector<bool> read(QFileInfo(path).size());
    auto at = [&read](qint64 offset) { return read.begin() + std::clamp<qint64>(offset, 0, read.size()); };
    const QStringList events = listener.events();
    EXPECT_EQ(events.first(), QString("opened %1").arg(read.size()));
    for (const QString &event : events.filter(QStringLiteral("read "))) {
        const QStringList f = event.split(' ');
        std::fill(at(f[1].toLongLong()), at(f[1].toLongLong() + f[2].toLongLong()), true);
    }
    AVFormatContext *context = nullptr;
    ASSERT_EQ(avformat_open_input(&context, QFile::encodeName(path).constData(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(context, nullptr), 0);
    AVPacket *packet = av_packet_alloc();
    for (int n = 0, missed = 0; av_read_frame(context, packet) >= 0; ++n, av_packet_unref(packet)) {
        if (n == 0) {
            EXPECT_EQ(video->dataOffset(), int(packet->pos));
        }
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
