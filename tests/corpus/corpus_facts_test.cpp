// The facts about the generated clips that other tests build on and that would otherwise let them
// pass without testing anything (a start time of zero, no B-frames, an even size, a constant rate,
// the tone on every channel, sparse keyframes), read with libavformat and libavcodec directly. A
// failure here points at the clip generators (or a different ffmpeg), not at the code under test.
// The frame number on every picture is read back by the engine tests.
#include "engine/ffmpegptr.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

enum Flags {
    VariableRate = 1,     // gaps alternate 40 and 80 ms, though the container reports 25
    IrregularKeys = 2,
    Sample = 4,           // the programs' default clip, not in the corpus folder
};

struct Clip {
    const char *name;
    AVCodecID video;
    int width, height, fps, pictures;
    int bFrames;          // -1 unchecked
    double firstPicture;  // seconds
    AVCodecID audio;
    int channels;
    unsigned tone;        // bit c: channel c carries the tone, the others are silent
    double start, startTolerance, duration;
    int flags;
};

void PrintTo(const Clip &clip, std::ostream *os)
{
    *os << clip.name;
}

constexpr AVCodecID H264 = AV_CODEC_ID_H264, AAC = AV_CODEC_ID_AAC, NONE = AV_CODEC_ID_NONE;

// Matroska shifts every stream by the audio encoder's start-up delay (21 ms AAC, 7 ms Opus).
const Clip clips[] = {
    {"h264_aac.mp4", H264, 320, 240, 25, 200, 1, 0.0, AAC, 2, 3, 0.0, 0.05, 8, 0},
    // Same picture times as h264_aac.mp4: its audio starts 21 ms before zero instead.
    {"h264_nobframes.mkv", H264, 320, 240, 25, 200, 0, 0.0, AAC, 2, 3, 0.0, 0.05, 8, 0},
    {"mpeg2_mp2.mpg", AV_CODEC_ID_MPEG2VIDEO, 320, 240, 25, 200, 1, 0.54, AV_CODEC_ID_MP2, 2, 3, 0.53, 0.1, 8, 0},
    {"vp9_opus.mkv", AV_CODEC_ID_VP9, 320, 240, 25, 200, 0, 0.007, AV_CODEC_ID_OPUS, 2, 3, 0.0, 0.05, 8, 0},
    {"h264_noaudio.mp4", H264, 320, 240, 25, 200, 1, 0.0, NONE, 0, 0, 0.0, 0.05, 8, 0},
    {"audio_only.m4a", NONE, 0, 0, 0, 0, -1, 0.0, AAC, 2, 3, 0.0, 0.05, 8, IrregularKeys},
    // The tone on the centre channel only: a downmix that keeps the first two channels is silent.
    {"surround51.mp4", H264, 320, 240, 25, 200, 1, 0.0, AAC, 6, 4, 0.0, 0.05, 8, 0},
    {"odd_321x241.mkv", AV_CODEC_ID_MPEG4, 321, 241, 25, 200, 0, 0.021, AAC, 2, 3, 0.0, 0.05, 8, 0},
    {"subtitles.mkv", H264, 320, 240, 25, 200, 1, 0.021, AAC, 2, 3, 0.0, 0.05, 8, 0},
    {"ts_offset10.ts", H264, 320, 240, 25, 200, 1, 11.4, AAC, 2, 3, 11.4, 0.5, 8, 0},
    {"h264_60fps.mp4", H264, 320, 240, 60, 240, 1, 0.0, AAC, 2, 3, 0.0, 0.05, 4, 0},
    {"vfr.mkv", H264, 320, 240, 25, 100, -1, 0.021, AAC, 2, 3, 0.0, 0.05, 6, VariableRate | IrregularKeys},
    {"no_decoder.mkv", NONE, 320, 240, 25, 200, -1, 0.021, AAC, 2, 3, 0.0, 0.05, 8, 0},
    {"h264_long.mp4", H264, 320, 240, 25, 1000, 1, 0.0, AAC, 2, 3, 0.0, 0.05, 40, 0},
    {"sample.mp4", H264, 640, 360, 25, 1500, 1, 0.0, AAC, 2, 3, 0.0, 0.05, 60, Sample},
};

FormatContextPtr openClip(const Clip &clip)
{
    const std::string path = (clip.flags & Sample ? testsupport::sampleClip() : testsupport::clipPath(clip.name)).toStdString();
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return nullptr;
    FormatContextPtr format(raw);
    return avformat_find_stream_info(raw, nullptr) < 0 ? nullptr : std::move(format);
}

// Index of the only stream of this type, -1 when there is none; more than one is a failure.
int onlyStream(const AVFormatContext *format, AVMediaType type)
{
    int found = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (format->streams[i]->codecpar->codec_type == type) {
            EXPECT_EQ(found, -1) << "more than one " << av_get_media_type_string(type) << " stream";
            found = static_cast<int>(i);
        }
    }
    return found;
}

class CorpusClip : public testing::TestWithParam<Clip> {};

// Streams, start, the pictures' times and the keyframes (seek tests count on one at every whole
// second after the first picture and no other), from the packets.
TEST_P(CorpusClip, StreamsStartPicturesAndKeyframesAreAsGenerated)
{
    const Clip &want = GetParam();
    FormatContextPtr format = openClip(want);
    ASSERT_TRUE(format);
    const int video = onlyStream(format.get(), AVMEDIA_TYPE_VIDEO);
    const int audio = onlyStream(format.get(), AVMEDIA_TYPE_AUDIO);
    ASSERT_EQ(video >= 0, want.width > 0);
    ASSERT_EQ(audio >= 0, want.audio != NONE);
    if (video >= 0) {
        const AVCodecParameters *p = format->streams[video]->codecpar;
        EXPECT_EQ(p->codec_id, want.video) << avcodec_get_name(p->codec_id);
        EXPECT_EQ(p->width, want.width);
        EXPECT_EQ(p->height, want.height);
        EXPECT_EQ(av_cmp_q(format->streams[video]->r_frame_rate, AVRational{want.fps, 1}), 0);
        EXPECT_TRUE(want.bFrames < 0 || (p->video_delay > 0) == (want.bFrames == 1)) << "reorder delay " << p->video_delay;
    }
    if (audio >= 0) {
        EXPECT_EQ(format->streams[audio]->codecpar->codec_id, want.audio);
        EXPECT_EQ(format->streams[audio]->codecpar->ch_layout.nb_channels, want.channels);
    }
    EXPECT_NEAR(format->start_time / double(AV_TIME_BASE), want.start, want.startTolerance);
    EXPECT_NEAR(format->duration / double(AV_TIME_BASE), want.duration, 0.3);

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
    std::sort(times.begin(), times.end());
    // MPEG-PS stamps only some packets: its pictures' times are not all here.
    if (want.video != AV_CODEC_ID_MPEG2VIDEO) {
        ASSERT_EQ(static_cast<int>(times.size()), want.pictures);
        for (size_t i = 1; i < times.size(); ++i) {
            const double gap = want.flags & VariableRate ? (i % 2 ? 0.04 : 0.08) : 1.0 / want.fps;
            EXPECT_NEAR(times[i] - times[i - 1], gap, 0.002) << "picture " << i;
        }
    }
    if (!times.empty()) {
        EXPECT_NEAR(times[0], want.firstPicture, 0.002);
    }
    if (!(want.flags & IrregularKeys)) {
        ASSERT_EQ(keys.size(), static_cast<size_t>(std::lround(want.duration)));
        for (size_t i = 0; i < keys.size(); ++i)
            EXPECT_NEAR(keys[i] - keys[0], static_cast<double>(i), 0.01) << "keyframe " << i;
    }
}

// The sound is 440 Hz at ffmpeg's default sine level (1/8, RMS 0.088) on the tone channels only.
TEST_P(CorpusClip, TheToneIsOnItsChannels)
{
    const Clip &want = GetParam();
    FormatContextPtr format = openClip(want);
    ASSERT_TRUE(format);
    const int index = onlyStream(format.get(), AVMEDIA_TYPE_AUDIO);
    if (index < 0)
        return;
    const AVStream *stream = format->streams[index];
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    CodecContextPtr decoder(avcodec_alloc_context3(codec));
    ASSERT_GE(avcodec_parameters_to_context(decoder.get(), stream->codecpar), 0);
    ASSERT_GE(avcodec_open2(decoder.get(), codec, nullptr), 0);
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    // Past the encoders' start-up ramp, then half a second.
    std::vector<double> squares(want.channels);
    int skip = 4096, taken = 0;
    while (taken < 24000 && av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(decoder.get(), packet.get()) >= 0) {
            while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
                const auto sampleFormat = static_cast<AVSampleFormat>(frame->format);
                const bool planar = av_sample_fmt_is_planar(sampleFormat);
                const bool floats = av_get_packed_sample_fmt(sampleFormat) == AV_SAMPLE_FMT_FLT;
                ASSERT_TRUE(floats || av_get_packed_sample_fmt(sampleFormat) == AV_SAMPLE_FMT_S16);
                for (int i = 0; i < frame->nb_samples && taken < 24000; ++i) {
                    if (skip > 0 && skip--)
                        continue;
                    for (int c = 0; c < want.channels; ++c) {
                        const uint8_t *base = frame->extended_data[planar ? c : 0];
                        const int at = planar ? i : i * want.channels + c;
                        const double v = floats ? reinterpret_cast<const float *>(base)[at]
                                                : reinterpret_cast<const int16_t *>(base)[at] / 32768.0;
                        squares[c] += v * v;
                    }
                    ++taken;
                }
            }
        }
        av_packet_unref(packet.get());
    }
    ASSERT_EQ(taken, 24000);
    for (int c = 0; c < want.channels; ++c)
        EXPECT_NEAR(std::sqrt(squares[c] / taken), want.tone & (1u << c) ? 0.088 : 0.0, 0.02) << "channel " << c;
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusClip, testing::ValuesIn(clips), [](const testing::TestParamInfo<Clip> &info) {
    std::string n = info.param.name;
    std::replace_if(n.begin(), n.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return n;
});

} // namespace
