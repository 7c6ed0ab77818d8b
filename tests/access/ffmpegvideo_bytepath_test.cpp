// Every byte the demultiplexer uses must have come through the program's own driver: plays real
// clips through "file://" with a listener on the driver and checks the reads it saw against the
// packets that libavformat, opening the same file by its path, finds in it.

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

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <map>

using namespace playbacktest;

namespace {

struct PacketSpan {
    qint64 pos;
    qint64 size;
};

struct Demuxed {
    bool ok = false;
    std::vector<PacketSpan> packets;   // packets whose position in the file is known
    qint64 firstPacketPos = -1;
};

// The packets of a file as libavformat finds them when it opens the file itself.
Demuxed demuxByPath(const QString &path)
{
    Demuxed result;
    AVFormatContext *context = nullptr;
    if (avformat_open_input(&context, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return result;
    if (avformat_find_stream_info(context, nullptr) >= 0) {
        AVPacket *packet = av_packet_alloc();
        bool first = true;
        while (av_read_frame(context, packet) >= 0) {
            if (first && packet->pos >= 0)
                result.firstPacketPos = packet->pos;
            first = false;
            if (packet->pos >= 0 && packet->size > 0)
                result.packets.push_back({packet->pos, packet->size});
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        result.ok = true;
    }
    avformat_close_input(&context);
    return result;
}

// The union of read ranges as sorted, disjoint [begin, end) intervals.
std::map<qint64, qint64> unionOf(const std::vector<std::pair<qint64, qint64>> &reads)
{
    std::vector<std::pair<qint64, qint64>> spans;
    for (const auto &[offset, size] : reads)
        if (size > 0)
            spans.emplace_back(offset, offset + size);
    std::sort(spans.begin(), spans.end());
    std::map<qint64, qint64> merged;
    qint64 begin = -1, end = -1;
    for (const auto &[b, e] : spans) {
        if (begin >= 0 && b <= end) {
            end = std::max(end, e);
            continue;
        }
        if (begin >= 0)
            merged[begin] = end;
        begin = b;
        end = e;
    }
    if (begin >= 0)
        merged[begin] = end;
    return merged;
}

bool covers(const std::map<qint64, qint64> &merged, qint64 begin, qint64 end)
{
    auto it = merged.upper_bound(begin);
    if (it == merged.begin())
        return false;
    --it;
    return it->first <= begin && end <= it->second;
}

qint64 coveredWithin(const std::map<qint64, qint64> &merged, qint64 fileSize)
{
    qint64 total = 0;
    for (const auto &[b, e] : merged)
        total += std::max<qint64>(0, std::min(e, fileSize) - std::max<qint64>(b, 0));
    return total;
}

class ByteCoverageTest : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override { useDummyAudio(); }
};

TEST_P(ByteCoverageTest, EveryDemuxedPacketWasReadThroughTheDriver)
{
    const QString path = testsupport::clipPath(GetParam());
    ASSERT_TRUE(QFileInfo::exists(path)) << path.toStdString();
    const qint64 fileSize = QFileInfo(path).size();

    const Demuxed reference = demuxByPath(path);
    ASSERT_TRUE(reference.ok);
    ASSERT_FALSE(reference.packets.empty());

    ByteRangeListener listener;
    FileVideoDriver driver;
    driver.m_Listener = &listener;
    VideoEngine engine;
    engine.registerDriver("file", &driver);

    int ends = 0;
    {
        FFMpegVideo video(&engine, "file://" + path, nullptr, fastSeekmark());
        QObject::connect(&video, &Video::videoEnd, [&ends] { ++ends; });
        ASSERT_TRUE(video.open()) << video.errorString().toStdString();
        EXPECT_EQ(video.dataOffset(), static_cast<int>(reference.firstPacketPos));
        video.play();
        drainUntil(video.agent(), [&ends] { return ends > 0; });
        ASSERT_EQ(ends, 1) << "the clip was not played to its end";
    }

    EXPECT_EQ(listener.opened(), std::vector<qint64>{fileSize});

    const auto merged = unionOf(listener.reads());
    int missed = 0;
    for (const PacketSpan &packet : reference.packets) {
        if (!covers(merged, packet.pos, packet.pos + packet.size) && ++missed <= 5)
            ADD_FAILURE() << "packet at " << packet.pos << " (" << packet.size << " bytes) never read";
    }
    EXPECT_EQ(missed, 0) << "of " << reference.packets.size() << " packets";

    qint64 requested = 0;
    for (const auto &read : listener.reads())
        requested += read.second;
    const qint64 covered = coveredWithin(merged, fileSize);
    std::cout << "[ coverage ] " << GetParam() << ": file " << fileSize << " bytes, " << covered
              << " covered (" << (100.0 * covered / fileSize) << " %), " << listener.reads().size()
              << " reads asking for " << requested << " bytes ("
              << (static_cast<double>(requested) / fileSize) << " x the file)\n";
    RecordProperty("covered_bytes", static_cast<int>(covered));
    RecordProperty("file_bytes", static_cast<int>(fileSize));
}

INSTANTIATE_TEST_SUITE_P(Clips, ByteCoverageTest,
                         ::testing::Values("h264_aac.mp4", "mpeg2_mp2.mpg", "vp9_opus.mkv",
                                           "ts_offset10.ts", "odd_321x241.mkv", "subtitles.mkv",
                                           "vfr.mkv"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             std::string name = info.param;
                             std::replace_if(name.begin(), name.end(),
                                             [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
                             return name;
                         });

} // namespace
