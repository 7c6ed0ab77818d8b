// The facts about the generated clips that other tests build on and that would otherwise let them
// pass without testing anything (a start time of zero, the first picture at the start, the tone on
// every channel, a keyframe at every picture), read with libavformat and libavcodec directly. A
// failure here points at the clip generators (or a different ffmpeg), not at the code under test.
// Sizes, rates, B-frames and every picture's number and time are read back by the engine tests.
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
    unsigned tone;        // bit c: channel c carries the tone, the others are silent
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
    {"h264_aac.mp4", H264, 0.0, AAC, 2, 3, 0.0, 0.05, 8, false},
    {"h264_nobframes.mkv", H264, 0.0, AAC, 2, 3, 0.0, 0.05, 8, false},   // its audio starts 21 ms before zero
    {"mpeg2_mp2.mpg", AV_CODEC_ID_MPEG2VIDEO, 0.54, AV_CODEC_ID_MP2, 2, 3, 0.53, 0.1, 8, false},
    {"vp9_opus.mkv", AV_CODEC_ID_VP9, 0.007, AV_CODEC_ID_OPUS, 2, 3, 0.0, 0.05, 8, false},
    {"h264_noaudio.mp4", H264, 0.0, NONE, 0, 0, 0.0, 0.05, 8, false},
    {"audio_only.m4a", NONE, 0.0, AAC, 2, 3, 0.0, 0.05, 8, true},
    // The tone on the centre channel only: a downmix that keeps the first two channels is silent.
    {"surround51.mp4", H264, 0.0, AAC, 6, 4, 0.0, 0.05, 8, false},
    {"odd_321x241.mkv", AV_CODEC_ID_MPEG4, 0.021, AAC, 2, 3, 0.0, 0.05, 8, false},
    {"subtitles.mkv", H264, 0.021, AAC, 2, 3, 0.0, 0.05, 8, false},
    {"ts_offset10.ts", H264, 11.4, AAC, 2, 3, 11.4, 0.5, 8, false},
    {"h264_60fps.mp4", H264, 0.0, AAC, 2, 3, 0.0, 0.05, 4, false},
    {"vfr.mkv", H264, 0.021, AAC, 2, 3, 0.0, 0.05, 6, true},
    {"no_decoder.mkv", NONE, 0.021, AAC, 2, 3, 0.0, 0.05, 8, false},
    {"h264_long.mp4", H264, 0.0, AAC, 2, 3, 0.0, 0.05, 40, false},
    {"sample.mp4", H264, 0.0, AAC, 2, 3, 0.0, 0.05, 60, false},   // the programs' default clip
};

class CorpusClip : public testing::TestWithParam<Clip> {};

// The sound is 440 Hz at ffmpeg's default sine level (1/8, RMS 0.088) on the tone channels only,
// measured over half a second past the encoders' start-up ramp.
TEST_P(CorpusClip, StreamsStartKeyframesAndToneAreAsGenerated)
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

    CodecContextPtr decoder;
    if (audio >= 0) {
        const AVStream *stream = format->streams[audio];
        EXPECT_EQ(stream->codecpar->codec_id, want.audio);
        ASSERT_EQ(stream->codecpar->ch_layout.nb_channels, want.channels);
        const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
        decoder.reset(avcodec_alloc_context3(codec));
        ASSERT_GE(avcodec_parameters_to_context(decoder.get(), stream->codecpar), 0);
        ASSERT_GE(avcodec_open2(decoder.get(), codec, nullptr), 0);
    }
    std::vector<double> keys, times, squares(want.channels);
    int skip = 4096, taken = 0;
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        const double tb = av_q2d(format->streams[packet->stream_index]->time_base);
        if (packet->stream_index == video && packet->pts != AV_NOPTS_VALUE)
            times.push_back(packet->pts * tb);
        if (packet->stream_index == video && (packet->flags & AV_PKT_FLAG_KEY))
            keys.push_back((packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts) * tb);
        if (packet->stream_index == audio && taken < 24000 && avcodec_send_packet(decoder.get(), packet.get()) >= 0) {
            while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
                const auto sampleFormat = av_get_packed_sample_fmt(static_cast<AVSampleFormat>(frame->format));
                const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame->format));
                ASSERT_TRUE(sampleFormat == AV_SAMPLE_FMT_FLT || sampleFormat == AV_SAMPLE_FMT_S16);
                for (int i = 0; i < frame->nb_samples && taken < 24000; ++i) {
                    if (skip > 0 && skip--)
                        continue;
                    for (int c = 0; c < want.channels; ++c) {
                        const uint8_t *base = frame->extended_data[planar ? c : 0];
                        const int at = planar ? i : i * want.channels + c;
                        const double v = sampleFormat == AV_SAMPLE_FMT_FLT ? reinterpret_cast<const float *>(base)[at]
                                                                           : reinterpret_cast<const int16_t *>(base)[at] / 32768.0;
                        squares[c] += v * v;
                    }
                    ++taken;
                }
            }
        }
        av_packet_unref(packet.get());
    }
    // MPEG-PS stamps only some packets, but its first picture.
    EXPECT_NEAR(times.empty() ? 0.0 : *std::min_element(times.begin(), times.end()), want.firstPicture, 0.002);
    if (video >= 0 && !want.irregularKeys) {
        ASSERT_EQ(keys.size(), static_cast<size_t>(std::lround(want.duration)));
        for (size_t i = 0; i < keys.size(); ++i)
            EXPECT_NEAR(keys[i] - keys[0], static_cast<double>(i), 0.01) << "keyframe " << i;
    }
    ASSERT_EQ(taken, audio >= 0 ? 24000 : 0);
    for (int c = 0; c < want.channels; ++c)
        EXPECT_NEAR(std::sqrt(squares[c] / taken), want.tone & (1u << c) ? 0.088 : 0.0, 0.02) << "channel " << c;
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusClip, testing::ValuesIn(clips), [](const testing::TestParamInfo<Clip> &info) {
    std::string n = info.param.name;
    std::replace_if(n.begin(), n.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return n;
});

} // namespace
