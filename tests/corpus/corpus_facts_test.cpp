// Checks the facts about the generated clips that the engine and program tests build on: which
// streams each clip has, picture sizes, rates, start times and lengths, where B-frames and keyframes
// are, that every picture carries its frame number and that every sound is the 440 Hz tone. A
// failure here points at the clip generators (or at a different ffmpeg), not at the code under test.
// Everything is read with libavformat and libavcodec directly, independent of the engine.
#include "tests/common/framenumber.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/samplefmt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct FormatCloser {
    void operator()(AVFormatContext *c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct ScalerFreer {
    void operator()(SwsContext *s) const { sws_freeContext(s); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerFreer>;

enum class BFrames { Unchecked, None, Some };

constexpr unsigned kStereoTone = 0x3;     // the tone on both channels
constexpr unsigned kCentreOnlyTone = 0x4; // 5.1: the tone on FC (channel 2) only

// What one clip is expected to be. Chained setters keep each table row readable as a sentence.
struct ClipFacts {
    std::string name;
    bool isSample = false;

    bool hasVideo = false;
    AVCodecID videoCodec = AV_CODEC_ID_NONE;
    int width = 0;
    int height = 0;
    int fps = 0;
    BFrames bframes = BFrames::Unchecked;
    bool decodable = true;
    double keyframeEvery = 0; // seconds between keyframes; 0 when they are not at regular times
    int pictures = 0;         // for a variable rate, where rate x duration does not apply
    bool lastPictureUntimed = false;
    double firstPicture = 0; // time stamp of the first picture shown, seconds

    bool hasAudio = false;
    AVCodecID audioCodec = AV_CODEC_ID_NONE;
    int channels = 0;
    unsigned toneChannels = 0; // bit c set: channel c carries the tone; the others are silent

    bool hasSubtitle = false;
    double start = 0;
    double startTolerance = 0.05;
    double duration = 0;

    ClipFacts &video(AVCodecID codec, int w, int h, int rate)
    {
        hasVideo = true;
        videoCodec = codec;
        width = w;
        height = h;
        fps = rate;
        return *this;
    }
    ClipFacts &withBFrames(BFrames b)
    {
        bframes = b;
        return *this;
    }
    ClipFacts &keyframesEvery(double seconds)
    {
        keyframeEvery = seconds;
        return *this;
    }
    ClipFacts &variableRate(int count)
    {
        pictures = count;
        return *this;
    }
    ClipFacts &firstPictureAt(double seconds)
    {
        firstPicture = seconds;
        return *this;
    }
    ClipFacts &withLastPictureUntimed()
    {
        lastPictureUntimed = true;
        return *this;
    }
    ClipFacts &withoutDecoder()
    {
        decodable = false;
        return *this;
    }
    ClipFacts &audio(AVCodecID codec, int count, unsigned tone = kStereoTone)
    {
        hasAudio = true;
        audioCodec = codec;
        channels = count;
        toneChannels = tone;
        return *this;
    }
    ClipFacts &subtitle()
    {
        hasSubtitle = true;
        return *this;
    }
    ClipFacts &startsAt(double seconds, double tolerance)
    {
        start = seconds;
        startTolerance = tolerance;
        return *this;
    }
    ClipFacts &lasts(double seconds)
    {
        duration = seconds;
        return *this;
    }
    std::string path() const
    {
        const QString p = isSample ? testsupport::sampleClip()
                                   : testsupport::clipPath(QString::fromStdString(name));
        return p.toStdString();
    }
};

// Test names and failure messages show the clip's name instead of the object's bytes.
void PrintTo(const ClipFacts &facts, std::ostream *os)
{
    *os << facts.name;
}

ClipFacts corpusClip(const char *name)
{
    ClipFacts f;
    f.name = name;
    return f;
}

ClipFacts sampleClip()
{
    ClipFacts f;
    f.name = "sample.mp4";
    f.isSample = true;
    return f;
}

// In Matroska the muxer shifts every stream by the audio encoder's start-up delay (21 ms for AAC,
// 7 ms for Opus) unless told otherwise, so pictures there start slightly after zero.
std::vector<ClipFacts> allClips()
{
    const AVCodecID h264 = AV_CODEC_ID_H264;
    const AVCodecID aac = AV_CODEC_ID_AAC;
    return {
        corpusClip("h264_aac.mp4").video(h264, 320, 240, 25).withBFrames(BFrames::Some)
            .keyframesEvery(1).audio(aac, 2).lasts(8),
        // Same picture times as h264_aac.mp4; its audio starts 21 ms before zero instead.
        corpusClip("h264_nobframes.mkv").video(h264, 320, 240, 25).withBFrames(BFrames::None)
            .keyframesEvery(1).audio(aac, 2).lasts(8),
        corpusClip("mpeg2_mp2.mpg").video(AV_CODEC_ID_MPEG2VIDEO, 320, 240, 25)
            .withBFrames(BFrames::Some).keyframesEvery(1).audio(AV_CODEC_ID_MP2, 2)
            .startsAt(0.53, 0.1).firstPictureAt(0.54).lasts(8).withLastPictureUntimed(),
        corpusClip("vp9_opus.mkv").video(AV_CODEC_ID_VP9, 320, 240, 25).withBFrames(BFrames::None)
            .keyframesEvery(1).firstPictureAt(0.007).audio(AV_CODEC_ID_OPUS, 2).lasts(8),
        corpusClip("h264_noaudio.mp4").video(h264, 320, 240, 25).withBFrames(BFrames::Some)
            .keyframesEvery(1).lasts(8),
        corpusClip("audio_only.m4a").audio(aac, 2).lasts(8),
        corpusClip("surround51.mp4").video(h264, 320, 240, 25).withBFrames(BFrames::Some)
            .keyframesEvery(1).audio(aac, 6, kCentreOnlyTone).lasts(8),
        corpusClip("odd_321x241.mkv").video(AV_CODEC_ID_MPEG4, 321, 241, 25)
            .withBFrames(BFrames::None).keyframesEvery(1).firstPictureAt(0.021).audio(aac, 2)
            .lasts(8),
        corpusClip("subtitles.mkv").video(h264, 320, 240, 25).withBFrames(BFrames::Some)
            .keyframesEvery(1).firstPictureAt(0.021).audio(aac, 2).subtitle().lasts(8),
        corpusClip("ts_offset10.ts").video(h264, 320, 240, 25).withBFrames(BFrames::Some)
            .keyframesEvery(1).audio(aac, 2).startsAt(11.4, 0.5).firstPictureAt(11.4).lasts(8),
        corpusClip("h264_60fps.mp4").video(h264, 320, 240, 60).withBFrames(BFrames::Some)
            .keyframesEvery(1).audio(aac, 2).lasts(4),
        // The gaps alternate 40 and 80 ms, yet the container still reports 25 pictures a second.
        corpusClip("vfr.mkv").video(h264, 320, 240, 25).variableRate(100).firstPictureAt(0.021)
            .audio(aac, 2).lasts(6),
        corpusClip("no_decoder.mkv").video(AV_CODEC_ID_NONE, 320, 240, 25).withoutDecoder()
            .keyframesEvery(1).audio(aac, 2).lasts(8),
        corpusClip("h264_long.mp4").video(h264, 320, 240, 25).withBFrames(BFrames::Some)
            .keyframesEvery(1).audio(aac, 2).lasts(40),
        sampleClip().video(h264, 640, 360, 25).withBFrames(BFrames::Some).keyframesEvery(1)
            .audio(aac, 2).lasts(60),
    };
}

std::string testName(const testing::TestParamInfo<ClipFacts> &info)
{
    std::string n = info.param.name;
    std::replace_if(
        n.begin(), n.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return n;
}

std::string errorText(int err)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    return text;
}

FormatPtr openClip(const std::string &path)
{
    AVFormatContext *raw = nullptr;
    const int err = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (err < 0) {
        ADD_FAILURE() << "cannot open " << path << ": " << errorText(err);
        return {};
    }
    FormatPtr fmt(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0) {
        ADD_FAILURE() << "no stream information in " << path;
        return {};
    }
    return fmt;
}

// Index of the only stream of this type, -1 when there is none; more than one is a failure.
int onlyStream(const AVFormatContext *fmt, AVMediaType type)
{
    int found = -1;
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        if (fmt->streams[i]->codecpar->codec_type != type)
            continue;
        if (found >= 0)
            ADD_FAILURE() << "more than one " << av_get_media_type_string(type) << " stream";
        found = static_cast<int>(i);
    }
    return found;
}

CodecPtr openDecoder(const AVStream *stream)
{
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) {
        ADD_FAILURE() << "no decoder for " << avcodec_get_name(stream->codecpar->codec_id);
        return {};
    }
    CodecPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx || avcodec_parameters_to_context(ctx.get(), stream->codecpar) < 0) {
        ADD_FAILURE() << "cannot set up the decoder";
        return {};
    }
    ctx->pkt_timebase = stream->time_base;
    const int err = avcodec_open2(ctx.get(), codec, nullptr);
    if (err < 0) {
        ADD_FAILURE() << "cannot open the decoder: " << errorText(err);
        return {};
    }
    return ctx;
}

// Feeds one stream's packets to its decoder and hands each decoded frame to onFrame until it returns
// false or the stream is drained. Returns false on a decoding error.
template <typename OnFrame>
bool decodeStream(AVFormatContext *fmt, int stream, AVCodecContext *dec, OnFrame &&onFrame)
{
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    for (;;) {
        const bool atEnd = av_read_frame(fmt, packet.get()) < 0;
        if (!atEnd && packet->stream_index != stream) {
            av_packet_unref(packet.get());
            continue;
        }
        int err = avcodec_send_packet(dec, atEnd ? nullptr : packet.get());
        av_packet_unref(packet.get());
        if (err < 0 && err != AVERROR_EOF) {
            ADD_FAILURE() << "decoding failed: " << errorText(err);
            return false;
        }
        while ((err = avcodec_receive_frame(dec, frame.get())) >= 0) {
            const bool more = onFrame(frame.get());
            av_frame_unref(frame.get());
            if (!more)
                return true;
        }
        if (err != AVERROR(EAGAIN) && err != AVERROR_EOF) {
            ADD_FAILURE() << "decoding failed: " << errorText(err);
            return false;
        }
        if (atEnd)
            return true;
    }
}

struct Picture {
    int number;  // read from the bands, -1 when unreadable
    double time; // seconds, from the best-effort time stamp
    int width;
    int height;
};

struct DecodedVideo {
    std::vector<Picture> pictures;
    int hasBFrames = -1; // the decoder's reorder delay after the pictures came out
};

// Decodes the first `count` pictures in display order and reads the number off each.
DecodedVideo decodePictures(const std::string &path, size_t count)
{
    DecodedVideo out;
    FormatPtr fmt = openClip(path);
    if (!fmt)
        return out;
    const int index = onlyStream(fmt.get(), AVMEDIA_TYPE_VIDEO);
    if (index < 0) {
        ADD_FAILURE() << "no video stream";
        return out;
    }
    const AVStream *stream = fmt->streams[index];
    CodecPtr dec = openDecoder(stream);
    if (!dec)
        return out;

    ScalerPtr scaler;
    std::vector<uint8_t> rgb;
    decodeStream(fmt.get(), index, dec.get(), [&](const AVFrame *frame) {
        const int w = frame->width;
        const int h = frame->height;
        if (!scaler) {
            scaler.reset(sws_getContext(w, h, static_cast<AVPixelFormat>(frame->format), w, h,
                                        AV_PIX_FMT_RGB24, SWS_BICUBIC, nullptr, nullptr, nullptr));
            // Packed rows, alignment 1: an odd width must not pick up padding.
            rgb.assign(static_cast<size_t>(w) * h * 3, 0);
        }
        if (!scaler)
            return false;
        uint8_t *dst[4] = {rgb.data(), nullptr, nullptr, nullptr};
        int dstStride[4] = {w * 3, 0, 0, 0};
        sws_scale(scaler.get(), frame->data, frame->linesize, 0, h, dst, dstStride);
        const double time = frame->best_effort_timestamp == AV_NOPTS_VALUE
            ? NAN
            : frame->best_effort_timestamp * av_q2d(stream->time_base);
        out.pictures.push_back({testsupport::readFrameNumber(rgb.data(), w, h), time, w, h});
        return out.pictures.size() < count;
    });
    out.hasBFrames = dec->has_b_frames;
    return out;
}

// One sample of a decoded audio frame as a float in [-1, 1]; false for a format not handled here.
bool sampleValue(const AVFrame *frame, int channel, int index, float *value)
{
    const auto format = static_cast<AVSampleFormat>(frame->format);
    const bool planar = av_sample_fmt_is_planar(format);
    const uint8_t *base = frame->extended_data[planar ? channel : 0];
    const int at = planar ? index : index * frame->ch_layout.nb_channels + channel;
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_FLT:
        *value = reinterpret_cast<const float *>(base)[at];
        return true;
    case AV_SAMPLE_FMT_DBL:
        *value = static_cast<float>(reinterpret_cast<const double *>(base)[at]);
        return true;
    case AV_SAMPLE_FMT_S16:
        *value = reinterpret_cast<const int16_t *>(base)[at] / 32768.0f;
        return true;
    case AV_SAMPLE_FMT_S32:
        *value = static_cast<float>(reinterpret_cast<const int32_t *>(base)[at] / 2147483648.0);
        return true;
    default:
        return false;
    }
}

// A stretch of decoded sound, one vector per channel, as floats in [-1, 1].
std::vector<std::vector<float>> decodeSound(const std::string &path, int skipSamples, int keepSamples)
{
    std::vector<std::vector<float>> channels;
    FormatPtr fmt = openClip(path);
    if (!fmt)
        return channels;
    const int index = onlyStream(fmt.get(), AVMEDIA_TYPE_AUDIO);
    if (index < 0) {
        ADD_FAILURE() << "no audio stream";
        return channels;
    }
    CodecPtr dec = openDecoder(fmt->streams[index]);
    if (!dec)
        return channels;

    long seen = 0;
    decodeStream(fmt.get(), index, dec.get(), [&](const AVFrame *frame) {
        const int n = frame->ch_layout.nb_channels;
        channels.resize(static_cast<size_t>(n));
        for (int i = 0; i < frame->nb_samples; ++i, ++seen) {
            if (seen < skipSamples)
                continue;
            for (int c = 0; c < n; ++c) {
                float value = 0;
                if (!sampleValue(frame, c, i, &value)) {
                    ADD_FAILURE() << "unexpected sample format "
                                  << av_get_sample_fmt_name(static_cast<AVSampleFormat>(frame->format));
                    return false;
                }
                channels[static_cast<size_t>(c)].push_back(value);
            }
        }
        return seen < static_cast<long>(skipSamples) + keepSamples;
    });
    for (auto &c : channels)
        c.resize(std::min(c.size(), static_cast<size_t>(keepSamples)));
    return channels;
}

class CorpusClip : public testing::TestWithParam<ClipFacts> {};

TEST_P(CorpusClip, StreamsAreAsGenerated)
{
    const ClipFacts &want = GetParam();
    FormatPtr fmt = openClip(want.path());
    ASSERT_TRUE(fmt);

    const int video = onlyStream(fmt.get(), AVMEDIA_TYPE_VIDEO);
    const int audio = onlyStream(fmt.get(), AVMEDIA_TYPE_AUDIO);
    const int subtitle = onlyStream(fmt.get(), AVMEDIA_TYPE_SUBTITLE);
    ASSERT_EQ(video >= 0, want.hasVideo);
    ASSERT_EQ(audio >= 0, want.hasAudio);
    ASSERT_EQ(subtitle >= 0, want.hasSubtitle);

    if (want.hasVideo) {
        const AVStream *s = fmt->streams[video];
        EXPECT_EQ(s->codecpar->codec_id, want.videoCodec) << avcodec_get_name(s->codecpar->codec_id);
        EXPECT_EQ(s->codecpar->width, want.width);
        EXPECT_EQ(s->codecpar->height, want.height);
        EXPECT_EQ(av_cmp_q(s->r_frame_rate, AVRational{want.fps, 1}), 0)
            << s->r_frame_rate.num << "/" << s->r_frame_rate.den;
        EXPECT_EQ(avcodec_find_decoder(s->codecpar->codec_id) != nullptr, want.decodable);
        // The reorder delay as the stream information found it; the decode test checks the decoder.
        if (want.bframes == BFrames::Some) {
            EXPECT_GT(s->codecpar->video_delay, 0);
        } else if (want.bframes == BFrames::None) {
            EXPECT_EQ(s->codecpar->video_delay, 0);
        }
    }
    if (want.hasAudio) {
        const AVCodecParameters *p = fmt->streams[audio]->codecpar;
        EXPECT_EQ(p->codec_id, want.audioCodec) << avcodec_get_name(p->codec_id);
        EXPECT_EQ(p->ch_layout.nb_channels, want.channels);
        EXPECT_EQ(p->sample_rate, 48000);
    }
    if (want.hasSubtitle) {
        EXPECT_EQ(fmt->streams[subtitle]->codecpar->codec_id, AV_CODEC_ID_SUBRIP);
    }

    ASSERT_NE(fmt->start_time, AV_NOPTS_VALUE);
    EXPECT_NEAR(fmt->start_time / double(AV_TIME_BASE), want.start, want.startTolerance);
    ASSERT_NE(fmt->duration, AV_NOPTS_VALUE);
    EXPECT_NEAR(fmt->duration / double(AV_TIME_BASE), want.duration, 0.3);
}

// Seek tests count on a keyframe at every whole second after the first picture, and on no others.
TEST_P(CorpusClip, KeyframesFallEverySecond)
{
    const ClipFacts &want = GetParam();
    if (want.keyframeEvery <= 0)
        GTEST_SKIP() << "no regular keyframes to check";
    FormatPtr fmt = openClip(want.path());
    ASSERT_TRUE(fmt);
    const int video = onlyStream(fmt.get(), AVMEDIA_TYPE_VIDEO);
    ASSERT_GE(video, 0);
    const AVRational tb = fmt->streams[video]->time_base;

    std::vector<double> keyTimes;
    PacketPtr packet(av_packet_alloc());
    while (av_read_frame(fmt.get(), packet.get()) >= 0) {
        if (packet->stream_index == video && (packet->flags & AV_PKT_FLAG_KEY)) {
            const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            keyTimes.push_back(ts == AV_NOPTS_VALUE ? NAN : ts * av_q2d(tb));
        }
        av_packet_unref(packet.get());
    }
    const size_t expected = static_cast<size_t>(std::lround(want.duration / want.keyframeEvery));
    ASSERT_EQ(keyTimes.size(), expected);
    for (size_t i = 0; i < keyTimes.size(); ++i)
        EXPECT_NEAR(keyTimes[i] - keyTimes[0], static_cast<double>(i) * want.keyframeEvery, 0.01)
            << "keyframe " << i;
}

// The first picture shown is frame 0 and the numbers go up by one to the last picture, so a test
// that reads a number off a picture knows exactly which picture it got.
TEST_P(CorpusClip, EveryPictureCarriesItsFrameNumber)
{
    const ClipFacts &want = GetParam();
    if (!want.hasVideo || !want.decodable)
        GTEST_SKIP() << "no decodable video";
    const DecodedVideo decoded = decodePictures(want.path(), SIZE_MAX);
    const size_t count = want.pictures ? static_cast<size_t>(want.pictures)
                                       : static_cast<size_t>(std::lround(want.fps * want.duration));
    ASSERT_EQ(decoded.pictures.size(), count);
    EXPECT_NEAR(decoded.pictures[0].time, want.firstPicture, 0.002);
    for (size_t i = 0; i < decoded.pictures.size(); ++i) {
        const Picture &p = decoded.pictures[i];
        ASSERT_EQ(p.number, static_cast<int>(i)) << "picture " << i << " at " << p.time << " s";
        EXPECT_EQ(p.width, want.width);
        EXPECT_EQ(p.height, want.height);
        // MPEG-PS leaves the picture drained at the end without any time stamp, even best-effort.
        const bool untimed = want.lastPictureUntimed && i + 1 == count;
        EXPECT_EQ(std::isnan(p.time), untimed) << "picture " << i;
        if (i > 0 && !want.pictures && !untimed) {
            EXPECT_NEAR(p.time - decoded.pictures[i - 1].time, 1.0 / want.fps, 0.002) << "picture " << i;
        }
    }
    if (want.bframes == BFrames::Some) {
        EXPECT_GT(decoded.hasBFrames, 0);
    } else if (want.bframes == BFrames::None) {
        EXPECT_EQ(decoded.hasBFrames, 0);
    }
}

// Sound tests check what comes out against this: 440 Hz at ffmpeg's default sine level (1/8) on
// the tone channels, silence on the others (the centre-only 5.1 clip catches a downmix that just
// keeps the first two channels).
TEST_P(CorpusClip, SoundIsThe440HzTone)
{
    const ClipFacts &want = GetParam();
    if (!want.hasAudio)
        GTEST_SKIP() << "no audio";
    constexpr int kRate = 48000;
    // Past the encoders' start-up ramp, then half a second.
    const auto channels = decodeSound(want.path(), 4096, kRate / 2);
    ASSERT_EQ(static_cast<int>(channels.size()), want.channels);
    for (size_t c = 0; c < channels.size(); ++c) {
        SCOPED_TRACE("channel " + std::to_string(c));
        const std::vector<float> &s = channels[c];
        ASSERT_EQ(s.size(), static_cast<size_t>(kRate / 2));
        float peak = 0;
        int rising = 0;
        for (size_t i = 0; i < s.size(); ++i) {
            peak = std::max(peak, std::fabs(s[i]));
            if (i > 0 && s[i - 1] < 0 && s[i] >= 0)
                ++rising;
        }
        if (want.toneChannels & (1u << c)) {
            EXPECT_NEAR(rising, 220, 2);
            EXPECT_NEAR(peak, 0.125, 0.03);
        } else {
            EXPECT_LT(peak, 0.01);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusClip, testing::ValuesIn(allClips()), testName);

// Variable-rate tests rely on the gaps really alternating, although the container reports 25 fps.
TEST(VfrClip, GapsAlternateBetween40And80Milliseconds)
{
    const DecodedVideo decoded = decodePictures(testsupport::clipPath("vfr.mkv").toStdString(), 30);
    ASSERT_EQ(decoded.pictures.size(), 30u);
    for (size_t i = 1; i < decoded.pictures.size(); ++i) {
        EXPECT_EQ(decoded.pictures[i].number, static_cast<int>(i));
        const double gap = decoded.pictures[i].time - decoded.pictures[i - 1].time;
        EXPECT_NEAR(gap, i % 2 == 1 ? 0.040 : 0.080, 0.002) << "before picture " << i;
    }
}

// The two-clip tests keep these two in step by comparing picture times as plain doubles: the same
// picture must come out with exactly the same time in both, with and without B-frames, in MP4
// (time base 1/12800) and in Matroska (1/1000).
TEST(SameSourceClips, PicturesHaveTheSameTimes)
{
    const auto decodeAll = [](const char *name) {
        return decodePictures(testsupport::clipPath(name).toStdString(), SIZE_MAX);
    };
    const DecodedVideo mp4 = decodeAll("h264_aac.mp4");
    const DecodedVideo mkv = decodeAll("h264_nobframes.mkv");
    ASSERT_EQ(mp4.pictures.size(), 200u);
    ASSERT_EQ(mkv.pictures.size(), mp4.pictures.size());
    for (size_t i = 0; i < mp4.pictures.size(); ++i) {
        ASSERT_EQ(mkv.pictures[i].number, mp4.pictures[i].number) << "picture " << i;
        ASSERT_EQ(mkv.pictures[i].time, mp4.pictures[i].time) << "picture " << i;
    }
}

TEST(SubtitleClip, CuesCoverTheClip)
{
    FormatPtr fmt = openClip(testsupport::clipPath("subtitles.mkv").toStdString());
    ASSERT_TRUE(fmt);
    const int index = onlyStream(fmt.get(), AVMEDIA_TYPE_SUBTITLE);
    ASSERT_GE(index, 0);
    const AVRational tb = fmt->streams[index]->time_base;
    std::vector<std::pair<double, double>> cues;
    PacketPtr packet(av_packet_alloc());
    while (av_read_frame(fmt.get(), packet.get()) >= 0) {
        if (packet->stream_index == index)
            cues.emplace_back(packet->pts * av_q2d(tb), packet->duration * av_q2d(tb));
        av_packet_unref(packet.get());
    }
    ASSERT_EQ(cues.size(), 4u);
    for (size_t i = 0; i < cues.size(); ++i) {
        EXPECT_NEAR(cues[i].first, 2.0 * static_cast<double>(i), 0.05) << "cue " << i;
        EXPECT_NEAR(cues[i].second, 2.0, 0.05) << "cue " << i;
    }
}

} // namespace
