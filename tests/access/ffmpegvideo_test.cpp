// FFMpegVideo on real clips: opened through "file://" and a FileVideoDriver, decoded by the real
// engine, with sound going to SDL's dummy driver.

#include "playbacktestsupport.h"

#include "access/ffmpegvideo.h"
#include "access/filevideodriver.h"
#include "access/videoengine.h"
#include "engine/decoderagent.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <memory>

using namespace playbacktest;

namespace {

// The file driver, plus a record of the calls that tell whether the video drives its source in
// the right order: nothing may be read from a source once it is closed.
class WatchedFileDriver : public FileVideoDriver {
public:
    qint64 open(const char *name) override
    {
        const qint64 handle = FileVideoDriver::open(name);
        if (handle)
            m_Closed = false;
        return handle;
    }
    void close(qint64 handle) override
    {
        FileVideoDriver::close(handle);
        m_Closed = true;
        log("close");
    }
    void paused(qint64 handle) override
    {
        FileVideoDriver::paused(handle);
        log("paused");
    }
    void started(qint64 handle) override
    {
        FileVideoDriver::started(handle);
        log("started");
    }
    qint64 read(qint64 handle, char *buffer, qint64 offset, qint64 size) override
    {
        if (m_Closed)
            ++m_ReadsAfterClose;
        ++m_Reads;
        return FileVideoDriver::read(handle, buffer, offset, size);
    }

    QStringList calls() const { return m_Calls; }
    std::atomic<int> m_Reads{0};
    std::atomic<int> m_ReadsAfterClose{0};

private:
    void log(const char *call) { m_Calls << call; }   // GUI thread only
    std::atomic<bool> m_Closed{false};
    QStringList m_Calls;
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
        auto video = std::make_unique<FFMpegVideo>(&m_Engine, "file://" + testsupport::clipPath(name),
                                                   nullptr, options);
        EXPECT_TRUE(video->open()) << name.toStdString() << ": " << video->errorString().toStdString();
        return video;
    }

    WatchedFileDriver m_Driver;
    VideoEngine m_Engine;
};

// The container's duration in microseconds as libavformat reports it opening the file by path.
int64_t durationByPath(const QString &path)
{
    AVFormatContext *context = nullptr;
    if (avformat_open_input(&context, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return -1;
    int64_t duration = -1;
    if (avformat_find_stream_info(context, nullptr) >= 0)
        duration = context->duration;
    avformat_close_input(&context);
    return duration;
}

TEST_F(FFMpegVideoTest, QueriesDescribeTheOpenedClip)
{
    struct Case {
        const char *clip;
        int width;
        int height;
        double frameRate;
        bool audio;
    };
    const Case cases[] = {
        {"h264_aac.mp4", 320, 240, 25.0, true},
        {"odd_321x241.mkv", 321, 241, 25.0, true},
        {"h264_60fps.mp4", 320, 240, 60.0, true},
        {"h264_noaudio.mp4", 320, 240, 25.0, false},
        {"ts_offset10.ts", 320, 240, 25.0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.clip);
        auto video = openClip(c.clip);
        ASSERT_TRUE(video->isOpened());
        EXPECT_TRUE(video->errorString().isEmpty());
        EXPECT_EQ(video->width(), c.width);
        EXPECT_EQ(video->height(), c.height);
        EXPECT_DOUBLE_EQ(video->frameRate(), c.frameRate);
        EXPECT_EQ(video->aspectRatio(), 0.0f);

        const int64_t us = durationByPath(testsupport::clipPath(c.clip));
        ASSERT_GT(us, 0);
        EXPECT_EQ(video->durationMs(), us / 1000);
        EXPECT_EQ(video->duration(), us / 1000000);   // truncated, also for the 8.0x s clips

        video->setVolume(30);
        EXPECT_EQ(video->volume(), c.audio ? 30 : 0);
        video->setVolume(150);
        EXPECT_EQ(video->volume(), c.audio ? 100 : 0);
    }
}

TEST_F(FFMpegVideoTest, PositionRoundsTheClockAndClimbsWhileStopped)
{
    auto video = openClip("h264_aac.mp4");
    ASSERT_TRUE(video->isOpened());

    // Before the first play() each query moves the clock on by 40 ms.
    EXPECT_EQ(video->positionMs(), 40);
    EXPECT_EQ(video->positionMs(), 80);

    struct Case {
        double clock;
        qint64 seconds;
    };
    for (const Case &c : {Case{12.5, 13}, Case{12.49, 12}, Case{0.0, 0}, Case{0.5, 1}, Case{7.4999, 7}}) {
        SCOPED_TRACE(c.clock);
        video->agent()->m_Clock.store(c.clock);
        EXPECT_EQ(video->position(), c.seconds);
    }

    // From 0 the clock climbs in steps of 40 ms (a double summed 200 times may lose a millisecond
    // to truncation) and then stays at the duration.
    video->agent()->m_Clock.store(0.0);
    const qint64 end = video->durationMs();
    qint64 last = 0;
    int calls = 0;
    for (; calls < 1000; ++calls) {
        const qint64 now = video->positionMs();
        if (now == end && last == end)
            break;
        EXPECT_GE(now - last, now == end ? 0 : 39) << "at " << last;
        EXPECT_LE(now - last, 41) << "at " << last;
        last = now;
    }
    EXPECT_EQ(last, end);
    EXPECT_NEAR(calls, end / 40, 3);
}

TEST_F(FFMpegVideoTest, UnopenedVideoAnswersNeutrallyAndSaysWhy)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString empty = dir.filePath("empty.mp4");
    const QString text = dir.filePath("notes.mp4");
    {
        QFile f(empty);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QFile t(text);
        ASSERT_TRUE(t.open(QIODevice::WriteOnly));
        for (int i = 0; i < 2000; ++i)
            t.write("this is not a clip\n");
    }

    struct Case {
        QString url;
        bool callOpen;
        QString error;   // what errorString() contains
    };
    const Case cases[] = {
        {"mem:x", true, "no driver for scheme \"mem\""},
        {"file://" + dir.filePath("missing.mp4"), true, "cannot open file"},
        {"file://" + empty, true, "the file is empty"},
        {"file://" + text, true, "not a readable media file"},
        {"file://" + testsupport::clipPath("audio_only.m4a"), true, "no video stream"},
        {"file://" + testsupport::clipPath("no_decoder.mkv"), true, "no decoder for the video codec"},
        // The source is open (isOpened() says so) but open() was never called: there is no
        // decoder to ask yet.
        {"file://" + testsupport::clipPath("h264_aac.mp4"), false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        auto video = std::make_unique<FFMpegVideo>(&m_Engine, c.url, nullptr, fastSeekmark());
        if (c.callOpen) {
            EXPECT_FALSE(video->open());
        }
        if (c.callOpen) {
            EXPECT_FALSE(video->isOpened());
        }
        EXPECT_TRUE(video->errorString().contains(c.error)) << video->errorString().toStdString();
        if (c.callOpen) {
            EXPECT_FALSE(video->errorString().isEmpty());
        }

        video->play();
        video->setVolume(70);
        video->seek(3);
        video->randomAccess();
        video->pause();
        EXPECT_EQ(video->width(), 0);
        EXPECT_EQ(video->height(), 0);
        EXPECT_EQ(video->nextPicture(), nullptr);
        EXPECT_EQ(video->volume(), 0);
        EXPECT_EQ(video->positionMs(), 0);
        EXPECT_EQ(video->positionMs(), 0);
        EXPECT_EQ(video->position(), 0);
        EXPECT_EQ(video->durationMs(), 0);
        EXPECT_EQ(video->duration(), 0);
        EXPECT_EQ(video->aspectRatio(), 0.0f);
        EXPECT_EQ(video->frameRate(), 1.0);
        EXPECT_EQ(video->dataOffset(), 0);
        if (DecoderAgent *agent = video->agent()) {
            EXPECT_TRUE(agent->isStopped());
        }
        video.reset();
    }
    // No play() reached a driver, and every source that was opened was closed.
    EXPECT_FALSE(m_Driver.calls().contains("started"));
    EXPECT_EQ(m_Driver.calls().count("close"), 5);
}

class SamePicturesTest : public FFMpegVideoTest, public ::testing::WithParamInterface<const char *> {};

// The byte path must be invisible in what comes out: the clip read through the driver decodes to
// exactly the pictures, in the same order and with the same times, as the clip opened by its path.
TEST_P(SamePicturesTest, ThroughTheDriverAsByPath)
{
    const QString name = GetParam();

    std::vector<Picture> throughDriver;
    {
        auto video = openClip(name);
        ASSERT_TRUE(video->isOpened());
        int ends = 0;
        QObject::connect(video.get(), &Video::videoEnd, [&ends] { ++ends; });
        video->play();
        throughDriver = drainUntil(video->agent(), [&ends] { return ends > 0; });
        ASSERT_EQ(ends, 1);
    }

    std::vector<Picture> byPath;
    {
        DecoderAgent agent(nullptr, fastSeekmark());
        ASSERT_TRUE(agent.open(testsupport::clipPath(name)));
        int ends = 0;
        QObject context;
        QObject::connect(&agent, &DecoderAgent::videoEnd, &context, [&ends] { ++ends; });
        agent.start();
        byPath = drainUntil(&agent, [&ends] { return ends > 0; });
        ASSERT_EQ(ends, 1);
    }

    ASSERT_GE(byPath.size(), 90u) << "too few pictures to compare";
    int unreadable = 0;
    for (const Picture &p : byPath)
        unreadable += p.number < 0;
    EXPECT_EQ(unreadable, 0);
    ASSERT_EQ(throughDriver.size(), byPath.size());
    for (size_t i = 0; i < byPath.size(); ++i) {
        if (!(throughDriver[i] == byPath[i])) {
            ADD_FAILURE() << "picture " << i << ": frame " << throughDriver[i].number << " at "
                          << throughDriver[i].time << " s through the driver, frame " << byPath[i].number
                          << " at " << byPath[i].time << " s by path";
            break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Clips, SamePicturesTest,
                         ::testing::Values("h264_aac.mp4", "mpeg2_mp2.mpg", "vp9_opus.mkv",
                                           "ts_offset10.ts", "odd_321x241.mkv", "vfr.mkv"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             std::string name = info.param;
                             for (char &ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

TEST_F(FFMpegVideoTest, DecoderSignalsReachListenersOnTheGuiThread)
{
    auto video = openClip("h264_aac.mp4");
    ASSERT_TRUE(video->isOpened());

    // Direct connections run where the video emits: that is where its relay delivers.
    QThread *const gui = QCoreApplication::instance()->thread();
    std::vector<QThread *> seekThreads;
    std::vector<QThread *> endThreads;
    QObject::connect(video.get(), &Video::seekDone, video.get(),
                     [&] { seekThreads.push_back(QThread::currentThread()); }, Qt::DirectConnection);
    QObject::connect(video.get(), &Video::videoEnd, video.get(),
                     [&] { endThreads.push_back(QThread::currentThread()); }, Qt::DirectConnection);

    video->play();
    video->seek(2);
    drainUntil(video->agent(), [&] { return !endThreads.empty(); });
    ASSERT_EQ(endThreads.size(), 1u) << "the clip was not played to its end";
    // Anything still queued would arrive now.
    waitFor([] { return false; }, 300);

    EXPECT_EQ(endThreads.size(), 1u);
    EXPECT_EQ(endThreads.front(), gui);
    ASSERT_GE(seekThreads.size(), 1u);
    for (QThread *thread : seekThreads)
        EXPECT_EQ(thread, gui);
}

TEST_F(FFMpegVideoTest, RandomSeekTargetsStayInsideTheClip)
{
    struct Case {
        qint64 seconds;
        int r;
        int target;   // -1: no seek
    };
    const Case cases[] = {
        {100, 0, 0},     {100, 88, 88},  {100, 89, 0},    {100, 1000, 1000 % 89},
        {40, 28, 28},    {40, 29, 0},    {40, RAND_MAX, RAND_MAX % 29},
        {12, 12345, 0},  // one second to pick from
        {11, 5, -1},     // would divide by zero
        {8, 5, -1},      // the remainder of a negative divisor could land past the end
        {0, 5, -1},      {-3, 5, -1},
        {qint64(1) << 40, INT_MAX, INT_MAX},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.seconds << " s, r " << c.r);
        EXPECT_EQ(FFMpegVideo::randomSeekTarget(c.seconds, c.r), c.target);
    }
}

TEST_F(FFMpegVideoTest, RandomAccessSeeksOnlyWithinLongEnoughClips)
{
    {
        auto video = openClip("h264_aac.mp4");   // 8 s
        ASSERT_TRUE(video->isOpened());
        video->randomAccess();
        EXPECT_FALSE(video->agent()->isSeekPending());
        EXPECT_EQ(video->agent()->lastSeek(), 0);
    }
    {
        auto video = openClip("h264_long.mp4");   // 40 s
        ASSERT_TRUE(video->isOpened());
        ASSERT_EQ(video->duration(), 40);
        std::srand(7);
        const int r = std::rand();
        std::srand(7);
        video->randomAccess();
        EXPECT_TRUE(video->agent()->isSeekPending());
        EXPECT_EQ(video->agent()->lastSeek(), r % 29);
        EXPECT_GE(video->agent()->lastSeek(), 0);
        EXPECT_LE(video->agent()->lastSeek(), 28);
    }
}

// Destroying a playing video must end the decoder, which reads on its own thread through this
// video's source, before the source is closed.
TEST_F(FFMpegVideoTest, DestroyingAPlayingVideoStopsReadingBeforeTheSourceCloses)
{
    EngineOptions slow = fastSeekmark();
    slow.afterWorkMs = 2;   // still playing when the test pulls the plug
    auto video = openClip("h264_long.mp4", slow);
    ASSERT_TRUE(video->isOpened());
    const int readsAtOpen = m_Driver.m_Reads.load();
    video->play();
    // The pictures have to be taken, or the full queue holds the worker back from reading.
    drainUntil(video->agent(), [&] { return m_Driver.m_Reads.load() > readsAtOpen + 2; }, 30000);
    ASSERT_GT(m_Driver.m_Reads.load(), readsAtOpen + 2);
    EXPECT_FALSE(video->agent()->isStopped());
    video.reset();

    EXPECT_EQ(m_Driver.calls(), (QStringList{"started", "paused", "close"}));
    EXPECT_EQ(m_Driver.m_ReadsAfterClose.load(), 0);
}

TEST_F(FFMpegVideoTest, OpeningTwiceReplacesTheDecoder)
{
    auto video = openClip("h264_aac.mp4");
    ASSERT_TRUE(video->isOpened());
    video->play();
    ASSERT_TRUE(waitFor([&] { return !video->agent()->videoAgent()->pictures().isEmpty(); }));

    const QPointer<DecoderAgent> first = video->agent();
    ASSERT_TRUE(video->open());
    EXPECT_TRUE(first.isNull()) << "the first decoder is still alive, reading the same source";
    EXPECT_TRUE(video->agent()->isStopped());
    int ends = 0;
    QObject::connect(video.get(), &Video::videoEnd, [&ends] { ++ends; });
    video->play();
    const std::vector<Picture> pictures = drainUntil(video->agent(), [&ends] { return ends > 0; });
    ASSERT_EQ(ends, 1);
    ASSERT_FALSE(pictures.empty());
    EXPECT_EQ(pictures.front().number, 0);   // the new decoder read the clip from its start
}

} // namespace
