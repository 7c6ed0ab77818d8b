// The data access layer: the storage profiles by table, the URL-to-driver
// path of a Video, and FFMpegVideo playing real clips through "file://" and a file driver that
// watches its calls, with sound going to SDL's dummy driver.
#include "access/ffmpegvideo.h"
#include "access/filevideodriver.h"
#include "access/storageprofile.h"
#include "access/videoengine.h"
#include "tests/common/enginerun.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>

using namespace testsupport;

namespace {

TEST(StorageProfile, TheDelayOfARead)
{
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
        EXPECT_EQ(StorageProfile(StorageProfile::Kind(kind)).delayUs(offset, bytes, previousEnd), delayUs) << kind << " " << offset;
}

// The scheme picks the driver (a second registration replaces the first) and the rest is the
// name; a video that did not open says why and answers neutrally.
TEST(FFMpegVideoUrl, TheSchemePicksTheDriverAndAnUnopenedVideoSaysWhy)
{
    FileVideoDriver file, mem;
    VideoEngine engine;
    engine.registerDriver("file", &mem);
    engine.registerDriver("file", &file);
    engine.registerDriver("mem", &mem);
    const std::tuple<QString, FileVideoDriver *, QString, QString> cases[] = {   // url, driver, name, why
        {"file:///nowhere/clip.mp4", &file, "/nowhere/clip.mp4", "cannot open file"},
        {"file:/a", &file, "", "cannot open file"},   // one slash still takes two characters
        {"file", &file, "", "cannot open file"},      // no colon: the whole URL is the scheme
        {"mem:a:b", &mem, "a:b", "cannot open file"},   // only the first colon ends the scheme
        {"FILE://x", nullptr, "", "no driver for scheme \"FILE\""},   // schemes are case-sensitive
    };
    for (const auto &[url, driver, name, why] : cases) {
        FFMpegVideo video(&engine, url, nullptr, fastSeekmark());
        EXPECT_TRUE(video.driver() == driver && video.name() == name && !video.open()) << url.toStdString();
        EXPECT_TRUE(video.errorString().contains(why)) << video.errorString().toStdString();
        video.play();
        video.seek(3);
        EXPECT_TRUE(video.nextPicture() == nullptr && video.width() + video.duration() + video.position() == 0);
    }
}

// Records the range of every read (from the decoder's worker, under m_Lock) and the reads that
// came after a close.
class WatchedDriver : public FileVideoDriver {
public:
    void close(qint64 handle) override
    {
        FileVideoDriver::close(handle);
        ++m_Closes;
    }
    qint64 read(qint64 handle, char *buffer, qint64 offset, qint64 size) override
    {
        m_ReadsAfterClose += m_Closes ? 1 : 0;
        QMutexLocker lock(&m_Lock);
        m_Read.emplace_back(offset, offset + size);
        return FileVideoDriver::read(handle, buffer, offset, size);
    }

    QMutex m_Lock;
    std::vector<std::pair<qint64, qint64>> m_Read;   // [from, to) of every read
    std::atomic<int> m_ReadsAfterClose{0}, m_Closes{0};
};

// The byte path must be complete: a clip played through the file driver reads every packet that
// libavformat finds in the file opened by its path, and decodes every picture once, in order,
// with one end of the clip. A second open() ends the first decoder (which reads the same source)
// and the new one plays from the start; destroying the video while it reads ends its decoder
// before the source is closed.
class ThroughTheDriver : public ::testing::TestWithParam<const char *> {};

TEST_P(ThroughTheDriver, EveryPacketIsReadAndEveryPictureDecoded)
{
    useDummyAudio();
    WatchedDriver driver;
    VideoEngine engine;
    engine.registerDriver("file", &driver);
    const QString path = clipPath(GetParam());
    auto video = std::make_unique<FFMpegVideo>(&engine, "file://" + path, nullptr, fastSeekmark());
    ASSERT_TRUE(video->open()) << video->errorString().toStdString();
    const QPointer<DecoderAgent> first = video->agent();
    video->play();
    ASSERT_TRUE(video->open());
    EXPECT_TRUE(first.isNull()) << "the first decoder is still alive, reading the same source";
    int ends = 0;
    QObject::connect(video.get(), &Video::videoEnd, [&ends] { ++ends; });
    video->play();
    std::vector<Picture> pictures;
    waitFor([&] { return takeQueued(*video->agent(), &pictures) >= 0 && ends > 0; }, 60000);
    takeQueued(*video->agent(), &pictures);
    ASSERT_EQ(ends, 1) << "the clip was not played to its end";
    for (size_t i = 0; i < pictures.size(); ++i)
        ASSERT_EQ(pictures[i].number, int(i)) << "picture " << i;

    std::vector<bool> read(QFileInfo(path).size());
    auto at = [&read](qint64 offset) { return read.begin() + std::clamp<qint64>(offset, 0, read.size()); };
    for (const auto &[from, to] : driver.m_Read)
        std::fill(at(from), at(to), true);
    AVFormatContext *context = nullptr;
    ASSERT_EQ(avformat_open_input(&context, QFile::encodeName(path).constData(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(context, nullptr), 0);
    const int videoStream = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    AVPacket *packet = av_packet_alloc();
    size_t videoPackets = 0;
    for (int n = 0, missed = 0; av_read_frame(context, packet) >= 0; ++n, av_packet_unref(packet)) {
        EXPECT_TRUE(n > 0 || video->dataOffset() == int(packet->pos)) << "the first packet is at " << packet->pos;
        videoPackets += packet->stream_index == videoStream ? 1 : 0;
        const auto end = at(packet->pos + packet->size);
        if (packet->pos >= 0 && std::find(at(packet->pos), end, false) != end && ++missed <= 5)
            ADD_FAILURE() << "packet at " << packet->pos << " (" << packet->size << " bytes) never read";
    }
    av_packet_free(&packet);
    avformat_close_input(&context);
    // One picture a packet in these clips: the pictures the decoder still held at the end count too.
    EXPECT_EQ(pictures.size(), videoPackets) << "pictures decoded against the clip's video packets";

    video->seek(0);
    video->play();
    video.reset();
    EXPECT_EQ(driver.m_Closes.load(), 1);
    EXPECT_EQ(driver.m_ReadsAfterClose.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Clips, ThroughTheDriver,
                         ::testing::Values("h264_aac.mp4", "mpeg2_mp2.mpg", "vp9_opus.mkv", "ts_offset10.ts",
                                           "odd_321x241.mkv", "subtitles.mkv", "vfr.mkv"),
                         [](const auto &info) { return std::string(info.param).replace(std::string(info.param).find('.'), 1, "_"); });

} // namespace
