// The facts about the generated clips that other tests build on and that would otherwise let them
// pass without testing anything (a start time of zero, the first picture at the start, a keyframe
// at every picture, another codec), read with libavformat directly. A failure here points at the
// clip generators (or a different ffmpeg), not at the code under test. Sizes, rates, B-frames,
// every picture's number and time and the sound are read back by the engine tests.
#include "engine/ffmpegptr.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

TEST(Corpus, StreamsStartAndKeyframesAreAsGenerated)
{
    constexpr AVCodecID H264 = AV_CODEC_ID_H264, AAC = AV_CODEC_ID_AAC, NONE = AV_CODEC_ID_NONE;
    // Matroska shifts every stream by the audio encoder's start-up delay (21 ms AAC, 7 ms Opus).
    const struct {
        const char *name;
        AVCodecID video, audio;
        double firstPicture, start, duration;   // seconds; one keyframe at every whole second, no other
    } clips[] = {
        {"h264_aac.mp4", H264, AAC, 0.0, 0.0, 8},
        {"mpeg2_mp2.mpg", AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MP2, 0.54, 0.53, 8},
        {"vp9_opus.mkv", AV_CODEC_ID_VP9, AV_CODEC_ID_OPUS, 0.007, 0.0, 8},
        {"odd_321x241.mkv", AV_CODEC_ID_MPEG4, AAC, 0.021, 0.0, 8},
        {"ts_offset10.ts", H264, AAC, 11.4, 11.4, 8},
        {"h264_long.mp4", H264, AAC, 0.0, 0.0, 40},
        {"sample.mp4", H264, AAC, 0.0, 0.0, 60},   // the programs' default clip
    };
    for (const auto &want : clips) {
        SCOPED_TRACE(want.name);
        const QString name = want.name;
        const std::string path = (name == "sample.mp4" ? testsupport::sampleClip() : testsupport::clipPath(name)).toStdString();
        AVFormatContext *raw = nullptr;
        ASSERT_GE(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), 0);
        FormatContextPtr format(raw);
        ASSERT_GE(avformat_find_stream_info(raw, nullptr), 0);
        const int video = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        const int audio = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        ASSERT_GE(video, 0);
        EXPECT_EQ(format->streams[video]->codecpar->codec_id, want.video);
        EXPECT_EQ(audio < 0 ? NONE : format->streams[audio]->codecpar->codec_id, want.audio);
        EXPECT_NEAR(format->start_time / double(AV_TIME_BASE), want.start, want.start > 1 ? 0.5 : 0.05);
        EXPECT_NEAR(format->duration / double(AV_TIME_BASE), want.duration, 0.3);
        std::vector<double> keys, times;
        PacketPtr packet(av_packet_alloc());
        while (av_read_frame(raw, packet.get()) >= 0) {
            const double tb = av_q2d(format->streams[packet->stream_index]->time_base);
            if (packet->stream_index == video && packet->pts != AV_NOPTS_VALUE)
                times.push_back(packet->pts * tb);
            if (packet->stream_index == video && (packet->flags & AV_PKT_FLAG_KEY))
                keys.push_back((packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts) * tb);
            av_packet_unref(packet.get());
        }
        // MPEG-PS stamps only some packets, but its first picture.
        EXPECT_NEAR(*std::min_element(times.begin(), times.end()), want.firstPicture, 0.002);
        ASSERT_EQ(keys.size(), static_cast<size_t>(std::lround(want.duration)));
        for (size_t i = 0; i < keys.size(); ++i)
            EXPECT_NEAR(keys[i] - keys[0], static_cast<double>(i), 0.01) << "keyframe " << i;
    }
}

} // namespace
