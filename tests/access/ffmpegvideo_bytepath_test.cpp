// The byte path must be complete and invisible: a clip played through "file://" and the file
// driver reads every packet that libavformat finds in the file opened by its path, and decodes to
// exactly the pictures (frame numbers and times) that the engine gives by path.
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

#include <algorithm>
#include <cctype>

using namespace testsupport;

namespace {

struct Demuxed {
    bool ok = false;
    std::vector<std::pair<qint64, qint64>> packets;   // (pos, size) where the position is known
    qint64 firstPacketPos = -1;
};

Demuxed demuxByPath(const QString &path)
{
    Demuxed result;
    AVFormatContext *context = nullptr;
    if (avformat_open_input(&context, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return result;
    if (avformat_find_stream_info(context, nullptr) >= 0) {
        AVPacket *packet = av_packet_alloc();
        for (bool first = true; av_read_frame(context, packet) >= 0; first = false) {
            if (first)
                result.firstPacketPos = packet->pos;
            if (packet->pos >= 0 && packet->size > 0)
                result.packets.emplace_back(packet->pos, packet->size);
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        result.ok = true;
    }
    avformat_close_input(&context);
    return result;
}

std::vector<Picture> playByPath(const QString &path)
{
    DecoderAgent agent(nullptr, fastSeekmark());
    EXPECT_TRUE(agent.open(path));
    int ends = 0;
    QObject context;
    QObject::connect(&agent, &DecoderAgent::videoEnd, &context, [&ends] { ++ends; });
    agent.start();
    std::vector<Picture> pictures = drainUntil(&agent, [&ends] { return ends > 0; });
    EXPECT_EQ(ends, 1);
    return pictures;
}

class ThroughTheDriver : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override { useDummyAudio(); }
};

TEST_P(ThroughTheDriver, EveryPacketIsReadAndThePicturesAreThoseByPath)
{
    const QString path = testsupport::clipPath(GetParam());
    ASSERT_TRUE(QFileInfo::exists(path)) << path.toStdString();
    const Demuxed reference = demuxByPath(path);
    ASSERT_TRUE(reference.ok);
    ASSERT_FALSE(reference.packets.empty());

    ByteRangeListener listener;
    FileVideoDriver driver;
    driver.m_Listener = &listener;
    VideoEngine engine;
    engine.registerDriver("file", &driver);
    std::vector<Picture> throughDriver;
    {
        FFMpegVideo video(&engine, "file://" + path, nullptr, fastSeekmark());
        int ends = 0;
        QObject::connect(&video, &Video::videoEnd, [&ends] { ++ends; });
        ASSERT_TRUE(video.open()) << video.errorString().toStdString();
        EXPECT_EQ(video.dataOffset(), static_cast<int>(reference.firstPacketPos));
        video.play();
        throughDriver = drainUntil(video.agent(), [&ends] { return ends > 0; });
        ASSERT_EQ(ends, 1) << "the clip was not played to its end";
    }
    EXPECT_EQ(listener.opened(), std::vector<qint64>{QFileInfo(path).size()});

    // Which bytes of the file some read asked for.
    std::vector<bool> read(QFileInfo(path).size());
    auto at = [&read](qint64 offset) { return read.begin() + std::clamp<qint64>(offset, 0, read.size()); };
    for (const auto &[offset, size] : listener.reads())
        std::fill(at(offset), at(offset + size), true);
    int missed = 0;
    for (const auto &[pos, size] : reference.packets) {
        if (std::find(at(pos), at(pos + size), false) != at(pos + size) && ++missed <= 5)
            ADD_FAILURE() << "packet at " << pos << " (" << size << " bytes) never read";
    }
    EXPECT_EQ(missed, 0) << "of " << reference.packets.size() << " packets";

    const std::vector<Picture> byPath = playByPath(path);
    ASSERT_GE(byPath.size(), 90u) << "too few pictures to compare";
    EXPECT_EQ(std::count_if(byPath.begin(), byPath.end(), [](const Picture &p) { return p.number < 0; }), 0);
    ASSERT_EQ(throughDriver.size(), byPath.size());
    const auto differ = std::mismatch(byPath.begin(), byPath.end(), throughDriver.begin());
    if (differ.first != byPath.end())
        ADD_FAILURE() << "picture " << (differ.first - byPath.begin()) << ": frame " << differ.second->number
                      << " at " << differ.second->time << " s through the driver, frame " << differ.first->number
                      << " at " << differ.first->time << " s by path";
}

INSTANTIATE_TEST_SUITE_P(Clips, ThroughTheDriver,
                         ::testing::Values("h264_aac.mp4", "mpeg2_mp2.mpg", "vp9_opus.mkv", "ts_offset10.ts",
                                           "odd_321x241.mkv", "subtitles.mkv", "vfr.mkv"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             std::string name = info.param;
                             std::replace_if(
                                 name.begin(), name.end(),
                                 [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
                             return name;
                         });

} // namespace
