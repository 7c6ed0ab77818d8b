#include "videostage.h"

#include "pixelpacket.h"
#include "playbackclock.h"
#include "soundgate.h"
#include "timestampfallback.h"
#include "videoagent.h"

#include "log/logcategory.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <QtDebug>

#include <algorithm>
#include <limits>

bool VideoStage::tooLarge(int width, int height)
{
    return width > maxPictureSide || height > maxPictureSide || static_cast<int64_t>(width) * height > maxPicturePixels;
}

QString VideoStage::tooLargeReason(int width, int height)
{
    return QStringLiteral("the picture size %1x%2 is too large (at most %3 pixels, %4 on a side)")
        .arg(width)
        .arg(height)
        .arg(maxPicturePixels)
        .arg(maxPictureSide);
}

VideoStage::VideoStage(const EngineOptions &options, PlaybackClock *clock, SoundGate *gate, const QObject *owner)
    : m_Options(options)
    , m_Clock(clock)
    , m_Gate(gate)
    , m_Owner(owner)
    , m_ExactFrom(-std::numeric_limits<double>::infinity())
    , m_Held(av_frame_alloc())
    , m_Late(av_frame_alloc())
{
}

bool VideoStage::open(AVStream *stream, int64_t startTimeUs, QString &error)
{
    if (tooLarge(stream->codecpar->width, stream->codecpar->height)) {
        error = tooLargeReason(stream->codecpar->width, stream->codecpar->height);
        return false;
    }
    if (!openCodec(stream, true, error))
        return false;
    m_StartOffset = av_rescale_q(startTimeUs, AV_TIME_BASE_Q, stream->time_base);
    // Pictures stamped after the input's start by the sound's priming (5-21 ms in Matroska and
    // MPEG-TS with AAC or Opus): a seek's target counts from the first picture.
    if (stream->start_time != AV_NOPTS_VALUE)
        m_LeadUs = std::clamp<int64_t>(
            av_rescale_q(stream->start_time, stream->time_base, AV_TIME_BASE_Q) - startTimeUs, 0, 100000);
    m_Width = m_Codec->width;
    m_Height = m_Codec->height;
    // Taken once here: the worker may add streams to the array later (MPEG-TS, MPEG-PS).
    const AVRational rate = stream->r_frame_rate;
    m_FrameRate = rate.den != 0 ? static_cast<double>(rate.num) / rate.den : 0.0;
    m_HasBFrames.store(m_Codec->has_b_frames != 0);
    return true;
}

bool VideoStage::reorders() const
{
    return m_Stream->codecpar->video_delay > 0 || m_Codec->has_b_frames > 0;
}

void VideoStage::flush()
{
    avcodec_flush_buffers(m_Codec.get());
    m_Draining = false;
    m_Drained = false;
    m_LastTs = AV_NOPTS_VALUE;
    if (m_Held)
        av_frame_unref(m_Held.get());
    // A search again keeps checking the landing, and decodes its keyframe on its own.
    m_LandedLate = false;
    m_DropRepeat = false;
    m_AloneNext = m_CheckingLanding;
    if (m_Late)
        av_frame_unref(m_Late.get());
}

void VideoStage::startPosition(int serial, double exactFrom)
{
    m_Serial = serial;
    m_ExactFrom = exactFrom;
    m_CheckingLanding = false;
    m_LandedLate = false;
    m_AloneNext = false;
    m_DropRepeat = false;
    if (m_Held)
        av_frame_unref(m_Held.get());
}

void VideoStage::expectLanding(double limitSeconds)
{
    m_CheckingLanding = m_Late != nullptr;
    m_LandingLimit = limitSeconds;
    m_AloneNext = true;
}

void VideoStage::acceptLanding()
{
    m_CheckingLanding = false;
    if (!m_LandedLate)
        return;
    m_LandedLate = false;
    place(m_Late.get(), m_LateTime);
    av_frame_unref(m_Late.get());
}

void VideoStage::startDraining()
{
    if (m_Drained)
        return;
    avcodec_send_packet(m_Codec.get(), nullptr);
    m_Draining = true;
    m_Drained = true;
}

bool VideoStage::drainOne()
{
    if (avcodec_receive_frame(m_Codec.get(), m_Frame.get()) < 0) {
        m_Draining = false;
        // An exact seek past the last picture shows the last picture.
        if (m_Held && m_Held->buf[0]) {
            m_ExactFrom = -std::numeric_limits<double>::infinity();
            convertAndPush(m_Held.get(), m_HeldTime);
            av_frame_unref(m_Held.get());
            return true;
        }
        return false;
    }
    takeFrame(m_Frame.get());
    av_frame_unref(m_Frame.get());
    // The input ended: no earlier search is made now.
    acceptLanding();
    return true;
}

void VideoStage::decodeAlone(AVPacket *packet)
{
    // The decoder gives out a keyframe's picture only once it has decoded as many later packets as
    // it may reorder and its frame threads hold (five 1080p pictures for x264 with B-frames on two
    // cores): decoded on its own and drained, the keyframe comes out at once. The decoder then
    // starts over from the same packet, and its second copy of the picture is dropped.
    AVCodecContext *codec = m_Codec.get();
    if (avcodec_send_packet(codec, packet) < 0 || avcodec_send_packet(codec, nullptr) < 0) {
        avcodec_flush_buffers(codec);
        return;
    }
    bool came = false;
    while (avcodec_receive_frame(codec, m_Frame.get()) >= 0) {
        came = takeFrame(m_Frame.get()) || came;
        m_AloneTime = m_LastTime;
        av_frame_unref(m_Frame.get());
    }
    avcodec_flush_buffers(codec);
    m_LastTs = AV_NOPTS_VALUE;
    m_DropRepeat = came;
}

bool VideoStage::decode(AVPacket *packet)
{
    AVCodecContext *codec = m_Codec.get();
    if (m_AloneNext && (packet->flags & AV_PKT_FLAG_KEY)) {
        m_AloneNext = false;
        // Only a keyframe that carries its presentation stamp: the decoder's guess for one
        // without (AVI, MPEG-PS) needs the packets around it.
        if (packet->pts != AV_NOPTS_VALUE)
            decodeAlone(packet);
    }
    int pictures = 0;
    int result = avcodec_send_packet(codec, packet);
    if (result == AVERROR(EAGAIN)) {
        pictures += receivePictures();
        result = avcodec_send_packet(codec, packet);
    }
    if (result >= 0)
        pictures += receivePictures();
    if (result < 0 || pictures == 0) {
        // Also the packets that fill the decoder's delay at the start and after a seek.
        DECODER_LOG(LOG_WARN, "bad picture packet");
    }
    // A packet the decoder took is work done, picture or not: with frame threads a seek passes
    // several before the first picture, and a rest after each was most of the seek's latency.
    return result >= 0;
}

int VideoStage::receivePictures()
{
    int count = 0;
    while (avcodec_receive_frame(m_Codec.get(), m_Frame.get()) >= 0) {
        if (takeFrame(m_Frame.get()))
            ++count;
        av_frame_unref(m_Frame.get());
    }
    return count;
}

bool VideoStage::takeFrame(AVFrame *frame)
{
    // Each picture carries its own presentation time (with frame threading and reordering the
    // packet just sent is not the picture that came out).
    const AVStream *stream = m_Stream;
    const int64_t frameStep = stream->r_frame_rate.num > 0
                                  ? av_rescale_q(1, av_inv_q(stream->r_frame_rate), stream->time_base)
                                  : TimestampFallback::none;
    const int64_t stamp = TimestampFallback::picture(frame->best_effort_timestamp, frame->pts, m_LastTs,
                                                     frameStep, m_StartOffset);
    m_LastTs = stamp;
    const double time = static_cast<double>(stamp - m_StartOffset) * av_q2d(stream->time_base);
    m_LastTime = time;
    if (m_DropRepeat) {
        // The keyframe decoded on its own again (and anything the decoder puts before it): gone.
        // A picture clearly after it ends the dropping, should the decoder not mark its keyframe.
        const double interval = m_FrameRate > 0.0 ? 1.0 / m_FrameRate : 0.04;
        if (time <= m_AloneTime + 1.5 * interval) {
            m_DropRepeat = !frame->key_frame;
            return true;
        }
        m_DropRepeat = false;
    }
    return place(frame, time);
}

bool VideoStage::place(AVFrame *frame, double time)
{
    if (m_CheckingLanding) {
        if (time > m_LandingLimit + 1e-6) {
            // Past the target: the first such picture is kept in case no earlier search is left;
            // the ones after it go.
            if (!m_LandedLate) {
                m_LandedLate = true;
                av_frame_unref(m_Late.get());
                av_frame_move_ref(m_Late.get(), frame);
                m_LateTime = time;
            }
            return true;
        }
        m_CheckingLanding = false;
    }
    const double halfInterval = m_FrameRate > 0.0 ? 0.5 / m_FrameRate : 0.02;
    if (time < m_ExactFrom - halfInterval && m_Held) {
        // Before an exact seek's target: kept only in case no later picture comes.
        av_frame_unref(m_Held.get());
        av_frame_move_ref(m_Held.get(), frame);
        m_HeldTime = time;
        return true;
    }
    m_ExactFrom = -std::numeric_limits<double>::infinity();
    if (m_Held)
        av_frame_unref(m_Held.get());
    return convertAndPush(frame, time);
}

bool VideoStage::convertAndPush(AVFrame *frame, double time)
{
    if (frame->width <= 0 || frame->height <= 0 || !m_Agent)
        return false;
    const auto format = static_cast<AVPixelFormat>(frame->format);
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format);
    if (!descriptor)
        return false;
    PixelPacket *picture = m_Agent->blankPicture();
    if (!picture)
        return false;
    uint8_t *planes[4] = {picture->plane(0), picture->plane(1), picture->plane(2), nullptr};
    int lineSizes[4] = {picture->lineSize(0), picture->lineSize(1), picture->lineSize(2), 0};
    const bool fullRangeFormat = format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P
                                 || format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P
                                 || format == AV_PIX_FMT_YUVJ411P;
    const bool fullRange = fullRangeFormat || frame->color_range == AVCOL_RANGE_JPEG;
    // RGB and palette pictures become YCbCr in the scaler, which writes BT.601 limited range.
    const bool fromRgb = (descriptor->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) != 0;
    if ((format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P) && frame->width == m_Width
        && frame->height == m_Height) {
        // Most streams: the decoder's planes as they are, only their row padding left behind.
        av_image_copy(planes, lineSizes, const_cast<const uint8_t **>(frame->data), frame->linesize,
                      AV_PIX_FMT_YUV420P, m_Width, m_Height);
    } else {
        // Other sampling, depth or colour model, or a picture of another size (a resolution
        // change): scaled to 8-bit 4:2:0 of the opened size, so every buffer keeps the size the
        // queue was made for.
        SwsContext *converter = sws_getCachedContext(m_Converter.release(), frame->width, frame->height, format,
                                                     m_Width, m_Height, AV_PIX_FMT_YUV420P, SWS_BICUBIC,
                                                     nullptr, nullptr, nullptr);
        m_Converter.reset(converter);
        if (!converter) {
            delete picture;
            return false;
        }
        if (!fromRgb) {
            // YCbCr to YCbCr keeps the samples' range: the shader is told which one it is.
            int *inverse = nullptr, *table = nullptr, srcRange = 0, dstRange = 0, brightness = 0, contrast = 0,
                saturation = 0;
            if (sws_getColorspaceDetails(converter, &inverse, &srcRange, &table, &dstRange, &brightness, &contrast,
                                         &saturation) >= 0
                && (srcRange != int(fullRange) || dstRange != int(fullRange)))
                sws_setColorspaceDetails(converter, inverse, fullRange ? 1 : 0, table, fullRange ? 1 : 0,
                                         brightness, contrast, saturation);
        }
        sws_scale(converter, frame->data, frame->linesize, 0, frame->height, planes, lineSizes);
    }
    picture->m_Colour = fromRgb ? PictureColour{ColourMatrix::Bt601, false}
                                : PictureColour::forTags(frame->colorspace, frame->color_range,
                                                         fullRangeFormat, m_Height);
    m_HasBFrames.store(m_Codec->has_b_frames != 0);
    updateAspect();
    picture->m_Aspect = m_Aspect.load();

    if (m_Options.pictureDebugLines)
        qDebug() << m_Owner << frame->pts << frame->pkt_dts;
    picture->m_Time = time;
    picture->m_KeyFrame = frame->key_frame != 0;
    picture->m_Serial = m_Serial;
    m_Clock->pictureQueued(picture->m_Time);
    m_Agent->queuePicture(picture);
    m_Gate->update(m_Agent->pictures().count(), 0, false);
    return true;
}

void VideoStage::updateAspect()
{
    const AVCodecContext *codec = m_Codec.get();
    if (!codec)
        return;
    const AVRational sar = codec->sample_aspect_ratio;
    if (sar.num == 0 || sar.den == 0 || codec->height <= 0) {
        m_Aspect.store(0.0f);
        return;
    }
    auto aspect = static_cast<float>(static_cast<double>(sar.num) / sar.den * codec->width / codec->height);
    const double plain = static_cast<double>(codec->width) / codec->height;
    if (aspect >= plain - 0.01 && aspect <= plain + 0.01)
        aspect = 0.0f;
    m_Aspect.store(aspect);
}

static_assert(TimestampFallback::none == AV_NOPTS_VALUE, "the fallback's missing stamp is FFmpeg's");
