// The facts about the generated clips that the engine and program tests build on, read with
// libavformat and libavcodec directly: streams, sizes, rates, start times and lengths, keyframes
// every second, a frame number on every picture and the 440 Hz tone on the right channels. A
// failure here points at the clip generators (or a different ffmpeg), not at the code under test.
#include "engine/ffmpegptr.h"
#include "tests/common/framenumber.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

enum Flags {
    Subtitles = 1,
    VariableRate = 2,     // gaps alternate 40 and 80 ms, though the container reports 25
    LastUntimed = 4,      // MPEG-PS drains its last picture without any time stamp
    NoDecoder = 8,
    IrregularKeys = 16,
    Sample = 32,          // the programs' default clip, not in the corpus folder
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
    std::string path() const
    {
        return (flags & Sample ? testsupport::sampleClip() : testsupport::clipPath(name)).toStdString();
    }
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
    {"mpeg2_mp2.mpg", AV_CODEC_ID_MPEG2VIDEO, 320, 240, 25, 200, 1, 0.54, AV_CODEC_ID_MP2, 2, 3, 0.53, 0.1, 8,
     LastUntimed},
    {"vp9_opus.mkv", AV_CODEC_ID_VP9, 320, 240, 25, 200, 0, 0.007, AV_CODEC_ID_OPUS, 2, 3, 0.0, 0.05, 8, 0},
    {"h264_noaudio.mp4", H264, 320, 240, 25, 200, 1, 0.0, NONE, 0, 0, 0.0, 0.05, 8, 0},
    {"audio_only.m4a", NONE, 0, 0, 0, 0, -1, 0.0, AAC, 2, 3, 0.0, 0.05, 8, IrregularKeys},
    // The tone on the centre channel only: a downmix that keeps the first two channels is silent.
    {"surround51.mp4", H264, 320, 240, 25, 200, 1, 0.0, AAC, 6, 4, 0.0, 0.05, 8, 0},
    {"odd_321x241.mkv", AV_CODEC_ID_MPEG4, 321, 241, 25, 200, 0, 0.021, AAC, 2, 3, 0.0, 0.05, 8, 0},
    {"subtitles.mkv", H264, 320, 240, 25, 200, 1, 0.021, AAC, 2, 3, 0.0, 0.05, 8, Subtitles},
    {"ts_offset10.ts", H264, 320, 240, 25, 200, 1, 11.4, AAC, 2, 3, 11.4, 0.5, 8, 0},
    {"h264_60fps.mp4", H264, 320, 240, 60, 240, 1, 0.0, AAC, 2, 3, 0.0, 0.05, 4, 0},
    {"vfr.mkv", H264, 320, 240, 25, 100, -1, 0.021, AAC, 2, 3, 0.0, 0.05, 6, VariableRate | IrregularKeys},
    {"no_decoder.mkv", NONE, 320, 240, 25, 0, -1, 0.0, AAC, 2, 3, 0.0, 0.05, 8, NoDecoder},
    {"h264_long.mp4", H264, 320, 240, 25, 1000, 1, 0.0, AAC, 2, 3, 0.0, 0.05, 40, 0},
    {"sample.mp4", H264, 640, 360, 25, 1500, 1, 0.0, AAC, 2, 3, 0.0, 0.05, 60, Sample},
};

FormatContextPtr openClip(const std::string &path)
{
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << path;
        return nullptr;
    }
    FormatContextPtr format(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0) {
        ADD_FAILURE() << "no stream information in " << path;
        return nullptr;
    }
    return format;
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

// Decodes the clip's stream of the type, handing each frame to onFrame until it returns false or
// the stream is drained. Returns the decoder's reorder delay at the end; -1 on failure.
int decode(const std::string &path, AVMediaType type, const std::function<bool(const AVFrame *, double)> &onFrame)
{
    FormatContextPtr format = openClip(path);
    const int index = format ? onlyStream(format.get(), type) : -1;
    if (index < 0)
        return -1;
    const AVStream *stream = format->streams[index];
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    CodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!codec || !decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0)
        return -1;
    decoder->pkt_timebase = stream->time_base;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return -1;
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    for (bool more = true; more;) {
        const bool atEnd = av_read_frame(format.get(), packet.get()) < 0;
        if (!atEnd && packet->stream_index != index) {
            av_packet_unref(packet.get());
            continue;
        }
        int err = avcodec_send_packet(decoder.get(), atEnd ? nullptr : packet.get());
        av_packet_unref(packet.get());
        EXPECT_TRUE(err >= 0 || err == AVERROR_EOF) << "decoding failed";
        while (more && (err = avcodec_receive_frame(decoder.get(), frame.get())) >= 0) {
            const int64_t ts = frame->best_effort_timestamp;
            more = onFrame(frame.get(), ts == AV_NOPTS_VALUE ? NAN : ts * av_q2d(stream->time_base));
            av_frame_unref(frame.get());
        }
        more = more && !atEnd;
    }
    return decoder->has_b_frames;
}

struct Picture {
    int number;   // read from the bands, -1 when unreadable
    double time;  // seconds, from the best-effort time stamp
};

// The first `count` pictures in display order with the number read off each.
std::vector<Picture> decodePictures(const Clip &clip, size_t count, int *bFrames = nullptr)
{
    std::vector<Picture> pictures;
    const int delay = decode(clip.path(), AVMEDIA_TYPE_VIDEO, [&](const AVFrame *frame, double time) {
        EXPECT_EQ(frame->width, clip.width);
        EXPECT_EQ(frame->height, clip.height);
        // The bands are in the luma plane, whatever the chroma sampling.
        pictures.push_back({testsupport::readFrameNumber(frame->data[0], frame->linesize[0], 0, 0, frame->width,
                                                         frame->height, 1),
                            time});
        return pictures.size() < count;
    });
    if (bFrames)
        *bFrames = delay;
    return pictures;
}

class CorpusClip : public testing::TestWithParam<Clip> {};

TEST_P(CorpusClip, StreamsKeyframesAndCuesAreAsGenerated)
{
    const Clip &want = GetParam();
    FormatContextPtr format = openClip(want.path());
    ASSERT_TRUE(format);
    const int video = onlyStream(format.get(), AVMEDIA_TYPE_VIDEO);
    const int audio = onlyStream(format.get(), AVMEDIA_TYPE_AUDIO);
    const int subtitle = onlyStream(format.get(), AVMEDIA_TYPE_SUBTITLE);
    ASSERT_EQ(video >= 0, want.width > 0);
    ASSERT_EQ(audio >= 0, want.audio != NONE);
    ASSERT_EQ(subtitle >= 0, (want.flags & Subtitles) != 0);
    if (video >= 0) {
        const AVStream *s = format->streams[video];
        EXPECT_EQ(s->codecpar->codec_id, want.video) << avcodec_get_name(s->codecpar->codec_id);
        EXPECT_EQ(s->codecpar->width, want.width);
        EXPECT_EQ(s->codecpar->height, want.height);
        EXPECT_EQ(av_cmp_q(s->r_frame_rate, AVRational{want.fps, 1}), 0);
        EXPECT_EQ(avcodec_find_decoder(s->codecpar->codec_id) != nullptr, !(want.flags & NoDecoder));
    }
    if (audio >= 0) {
        const AVCodecParameters *p = format->streams[audio]->codecpar;
        EXPECT_EQ(p->codec_id, want.audio) << avcodec_get_name(p->codec_id);
        EXPECT_EQ(p->ch_layout.nb_channels, want.channels);
        EXPECT_EQ(p->sample_rate, 48000);
    }
    EXPECT_TRUE(subtitle < 0 || format->streams[subtitle]->codecpar->codec_id == AV_CODEC_ID_SUBRIP);
    ASSERT_NE(format->start_time, AV_NOPTS_VALUE);
    EXPECT_NEAR(format->start_time / double(AV_TIME_BASE), want.start, want.startTolerance);
    EXPECT_NEAR(format->duration / double(AV_TIME_BASE), want.duration, 0.3);

    // Seek tests count on a keyframe at every whole second after the first picture and no other;
    // the log test on four subtitle cues of two seconds each.
    std::vector<double> keys;
    std::vector<std::pair<double, double>> cues;
    PacketPtr packet(av_packet_alloc());
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        const AVRational tb = format->streams[packet->stream_index]->time_base;
        const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (packet->stream_index == video && (packet->flags & AV_PKT_FLAG_KEY))
            keys.push_back(ts == AV_NOPTS_VALUE ? NAN : ts * av_q2d(tb));
        if (packet->stream_index == subtitle)
            cues.emplace_back(ts * av_q2d(tb), packet->duration * av_q2d(tb));
        av_packet_unref(packet.get());
    }
    if (!(want.flags & IrregularKeys)) {
        ASSERT_EQ(keys.size(), static_cast<size_t>(std::lround(want.duration)));
        for (size_t i = 0; i < keys.size(); ++i)
            EXPECT_NEAR(keys[i] - keys[0], static_cast<double>(i), 0.01) << "keyframe " << i;
    }
    ASSERT_EQ(cues.size(), want.flags & Subtitles ? 4u : 0u);
    for (size_t i = 0; i < cues.size(); ++i) {
        EXPECT_NEAR(cues[i].first, 2.0 * static_cast<double>(i), 0.05) << "cue " << i;
        EXPECT_NEAR(cues[i].second, 2.0, 0.05) << "cue " << i;
    }
}

// The first picture shown is frame 0 and the numbers go up by one to the last picture, each at
// its time; the sound is 440 Hz at ffmpeg's default sine level (1/8) on the tone channels only.
TEST_P(CorpusClip, PicturesCarryTheirNumbersAndSoundIsTheTone)
{
    const Clip &want = GetParam();
    if (want.pictures > 0) {
        int bFrames = -1;
        const std::vector<Picture> pictures = decodePictures(want, SIZE_MAX, &bFrames);
        ASSERT_EQ(static_cast<int>(pictures.size()), want.pictures);
        EXPECT_NEAR(pictures[0].time, want.firstPicture, 0.002);
        for (int i = 0; i < want.pictures; ++i) {
            const Picture &p = pictures[i];
            ASSERT_EQ(p.number, i) << "picture " << i << " at " << p.time << " s";
            const bool untimed = (want.flags & LastUntimed) && i + 1 == want.pictures;
            EXPECT_EQ(std::isnan(p.time), untimed) << "picture " << i;
            const double gap = want.flags & VariableRate ? (i % 2 ? 0.04 : 0.08) : 1.0 / want.fps;
            if (i > 0 && !untimed) {
                EXPECT_NEAR(p.time - pictures[i - 1].time, gap, 0.002) << "picture " << i;
            }
        }
        EXPECT_TRUE(want.bFrames < 0 || (bFrames > 0) == (want.bFrames == 1)) << "reorder delay " << bFrames;
    }
    if (want.audio == NONE)
        return;
    // Past the encoders' start-up ramp, then half a second.
    std::vector<std::vector<float>> channels(want.channels);
    int skip = 4096;
    decode(want.path(), AVMEDIA_TYPE_AUDIO, [&](const AVFrame *frame, double) {
        if (frame->ch_layout.nb_channels != want.channels) {
            ADD_FAILURE() << frame->ch_layout.nb_channels << " channels";
            return false;
        }
        const auto format = static_cast<AVSampleFormat>(frame->format);
        const bool planar = av_sample_fmt_is_planar(format);
        for (int i = 0; i < frame->nb_samples && channels[0].size() < 24000; ++i) {
            if (skip > 0 && skip--)
                continue;
            for (int c = 0; c < want.channels; ++c) {
                const uint8_t *base = frame->extended_data[planar ? c : 0];
                const int at = planar ? i : i * want.channels + c;
                switch (av_get_packed_sample_fmt(format)) {
                case AV_SAMPLE_FMT_FLT: channels[c].push_back(reinterpret_cast<const float *>(base)[at]); break;
                case AV_SAMPLE_FMT_S16: channels[c].push_back(reinterpret_cast<const int16_t *>(base)[at] / 32768.0f); break;
                default: ADD_FAILURE() << "unexpected sample format " << av_get_sample_fmt_name(format); return false;
                }
            }
        }
        return channels[0].size() < 24000;
    });
    for (int c = 0; c < want.channels; ++c) {
        SCOPED_TRACE("channel " + std::to_string(c));
        const std::vector<float> &s = channels[c];
        ASSERT_EQ(s.size(), 24000u);
        float peak = 0;
        int rising = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            peak = std::max(peak, std::fabs(s[i]));
            rising += i > 0 && s[i - 1] < 0 && s[i] >= 0;
        }
        if (want.tone & (1u << c)) {
            EXPECT_NEAR(rising, 220, 2);
            EXPECT_NEAR(peak, 0.125, 0.03);
        } else {
            EXPECT_LT(peak, 0.01);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusClip, testing::ValuesIn(clips), [](const testing::TestParamInfo<Clip> &info) {
    std::string n = info.param.name;
    std::replace_if(n.begin(), n.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return n;
});

// The two-clip tests compare picture times as plain doubles: the same picture must come out with
// exactly the same time in both encodes of one source, in MP4 (time base 1/12800, B-frames) and in
// Matroska (1/1000, none).
TEST(SameSourceClips, PicturesHaveTheSameTimes)
{
    const std::vector<Picture> mp4 = decodePictures(clips[0], SIZE_MAX);
    const std::vector<Picture> mkv = decodePictures(clips[1], SIZE_MAX);
    ASSERT_EQ(mp4.size(), 200u);
    ASSERT_EQ(mkv.size(), mp4.size());
    for (size_t i = 0; i < mp4.size(); ++i) {
        ASSERT_EQ(mkv[i].number, mp4[i].number) << "picture " << i;
        ASSERT_EQ(mkv[i].time, mp4[i].time) << "picture " << i;
    }
}

} // namespace
