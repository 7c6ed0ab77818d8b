// The facts about the generated clips that other tests build on and that would otherwise let them
// pass without testing anything (a start time of zero, the first picture at the start, a keyframe
// at every picture, another codec or channel count), read with libavformat directly. A failure
// here points at the clip generators (or a different ffmpeg), not at the code under test. Sizes,
// rates, B-frames, every picture's number and time and the tone's level after the downmix are read
// back by the engine tests.
#include "engine/ffmpegptr.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

struct Clip {
    const char *name;
    AVCodecID video;
    double firstPicture;  // seconds
    AVCodecID audio;
    int channels;
    double start, startTolerance, duration;
    bool irregularKeys;   // else one keyframe at every whole second after the first picture, no other
};

void PrintTo(const Clip &clip, std::ostream *os)
{
    *os << clip.name;
}

constexpr AVCodecID H264 = AV_CODEC_ID_H264, AAC = AV_CODEC_ID_AAC, NONE = AV_CODEC_ID_NONE;

// Matroska shifts every stream by the audio encoder's start-up delay (21 ms AAC, 7 ms Opus).
const Clip clips[] = {
    {"h264_aac.mp4", H264, 0.0, AAC, 2, 0.0, 0.05, 8, false},
    {"h264_nobframes.mkv", H264, 0.0, AAC, 2, 0.0, 0.05, 8, false},   // its audio starts 21 ms before zero
    {"mpeg2_mp2.mpg", AV_CODEC_ID_MPEG2VIDEO, 0.54, AV_CODEC_ID_MP2, 2, 0.53, 0.1, 8, false},
    {"vp9_opus.mkv", AV_CODEC_ID_VP9, 0.007, AV_CODEC_ID_OPUS, 2, 0.0, 0.05, 8, false},
    {"h264_noaudio.mp4", H264, 0.0, NONE, 0, 0.0, 0.05, 8, false},
    {"audio_only.m4a", NONE, 0.0, AAC, 2, 0.0, 0.05, 8, true},
    {"surround51.mp4", H264, 0.0, AAC, 6, 0.0, 0.05, 8, false},
    {"odd_321x241.mkv", AV_CODEC_ID_MPEG4, 0.021, AAC, 2, 0.0, 0.05, 8, false},
    {"subtitles.mkv", H264, 0.021, AAC, 2, 0.0, 0.05, 8, false},
    {"ts_offset10.ts", H264, 11.4, AAC, 2, 11.4, 0.5, 8, false},
    {"h264_60fps.mp4", H264, 0.0, AAC, 2, 0.0, 0.05, 4, false},
    {"vfr.mkv", H264, 0.021, AAC, 2, 0.0, 0.05, 6, true},
    {"no_decoder.mkv", NONE, 0.021, AAC, 2, 0.0, 0.05, 8, false},
    {"h264_long.mp4", H264, 0.0, AAC, 2, 0.0, 0.05, 40, false},
    {"sample.mp4", H264, 0.0, AAC, 2, 0.0, 0.05, 60, false},   // the programs' default clip
};

class CorpusClip : public testing::TestWithParam<Clip> {};

TEST_P(CorpusClip, StreamsStartAndKeyframesAreAsGenerated)
{
    const Clip &want = GetParam();
    const std::string path = (want.name == std::string("sample.mp4") ? testsupport::sampleClip()
                                                                      : testsupport::clipPath(want.name)).toStdString();
    AVFormatContext *raw = nullptr;
    ASSERT_GE(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), 0);
    FormatContextPtr format(raw);
    ASSERT_GE(avformat_find_stream_info(raw, nullptr), 0);
    int video = -1, audio = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVMediaType type = format->streams[i]->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO) {
            int &index = type == AVMEDIA_TYPE_VIDEO ? video : audio;
            ASSERT_EQ(index, -1) << "more than one " << av_get_media_type_string(type) << " stream";
            index = static_cast<int>(i);
        }
    }
    ASSERT_EQ(video >= 0, want.name != std::string("audio_only.m4a"));
    ASSERT_EQ(audio >= 0, want.audio != NONE);
    EXPECT_TRUE(video < 0 || format->streams[video]->codecpar->codec_id == want.video);
    EXPECT_NEAR(format->start_time / double(AV_TIME_BASE), want.start, want.startTolerance);
    EXPECT_NEAR(format->duration / double(AV_TIME_BASE), want.duration, 0.3);

    if (audio >= 0) {
        EXPECT_EQ(format->streams[audio]->codecpar->codec_id, want.audio);
        EXPECT_EQ(format->streams[audio]->codecpar->ch_layout.nb_channels, want.channels);
    }
    std::vector<double> keys, times;
    PacketPtr packet(av_packet_alloc());
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        const double tb = av_q2d(format->streams[packet->stream_index]->time_base);
        if (packet->stream_index == video && packet->pts != AV_NOPTS_VALUE)
            times.push_back(packet->pts * tb);
        if (packet->stream_index == video && (packet->flags & AV_PKT_FLAG_KEY))
            keys.push_back((packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts) * tb);
        av_packet_unref(packet.get());
    }
    // MPEG-PS stamps only some packets, but its first picture.
    EXPECT_NEAR(times.empty() ? 0.0 : *std::min_element(times.begin(), times.end()), want.firstPicture, 0.002);
    if (video >= 0 && !want.irregularKeys) {
        ASSERT_EQ(keys.size(), static_cast<size_t>(std::lround(want.duration)));
        for (size_t i = 0; i < keys.size(); ++i)
            EXPECT_NEAR(keys[i] - keys[0], static_cast<double>(i), 0.01) << "keyframe " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusClip, testing::ValuesIn(clips), [](const testing::TestParamInfo<Clip> &info) {
    std::string n = info.param.name;
    std::replace_if(n.begin(), n.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return n;
});

} // namespace
