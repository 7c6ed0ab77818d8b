#include "audiostage.h"

#include "audiopacket.h"
#include "dataqueue.h"
#include "decoderagent.h"
#include "playbackclock.h"
#include "soundgate.h"
#include "timestampfallback.h"

#include "log/logcategory.h"

#include <algorithm>
#include <cmath>

AudioStage::AudioStage(const EngineOptions &options, PlaybackClock *clock, DataQueue *queue, SoundGate *gate,
                       std::function<void()> blockQueued)
    : m_Options(options)
    , m_Clock(clock)
    , m_Queue(queue)
    , m_Gate(gate)
    , m_BlockQueued(std::move(blockQueued))
{
}

AudioStage::~AudioStage()
{
    av_channel_layout_uninit(&m_ResamplerLayout);
}

bool AudioStage::open(AVStream *stream, int64_t startTimeUs, QString &error)
{
    if (!openCodec(stream, false, error))
        return false;
    m_StartOffset = av_rescale_q(startTimeUs, AV_TIME_BASE_Q, stream->time_base);
    m_Buffer.assign(DecoderAgent::audioBufferSize, 0);
    return true;
}

void AudioStage::setDevice(int channels, int rate)
{
    m_DeviceChannels = channels;
    m_DeviceRate = rate;
}

void AudioStage::flush()
{
    avcodec_flush_buffers(m_Codec.get());
    m_NextPts = AV_NOPTS_VALUE;
}

void AudioStage::startPosition(int serial, double exactFrom)
{
    m_Serial = serial;
    m_From = std::isfinite(exactFrom) && m_Stream
                 ? m_StartOffset + av_rescale_q(static_cast<int64_t>(exactFrom * AV_TIME_BASE), AV_TIME_BASE_Q,
                                                m_Stream->time_base)
                 : AV_NOPTS_VALUE;
}

void AudioStage::decode(AVPacket *packet)
{
    AVCodecContext *codec = m_Codec.get();
    auto receive = [this, codec] {
        int result;
        while ((result = avcodec_receive_frame(codec, m_Frame.get())) >= 0) {
            // Every frame of the packet is played, each with its own time stamp.
            queueFrame(m_Frame.get());
            av_frame_unref(m_Frame.get());
        }
        if (result != AVERROR(EAGAIN) && result != AVERROR_EOF)
            DECODER_LOG(LOG_WARN, "error decoding audio");
    };
    int result = avcodec_send_packet(codec, packet);
    if (result == AVERROR(EAGAIN)) {
        receive();
        result = avcodec_send_packet(codec, packet);
    }
    if (result < 0) {
        DECODER_LOG(LOG_WARN, "error decoding audio");
        return;
    }
    receive();
}

bool AudioStage::ensureResampler(const AVFrame *frame)
{
    if (m_Resampler && frame->format == m_ResamplerFormat && frame->sample_rate == m_ResamplerRate
        && av_channel_layout_compare(&frame->ch_layout, &m_ResamplerLayout) == 0)
        return true;
    m_Resampler.reset();
    av_channel_layout_uninit(&m_ResamplerLayout);

    AVChannelLayout in{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&in, frame->ch_layout.nb_channels);
    else if (av_channel_layout_copy(&in, &frame->ch_layout) < 0)
        return false;
    AVChannelLayout out{};
    av_channel_layout_default(&out, m_DeviceChannels);
    const int outRate = m_DeviceRate > 0 ? m_DeviceRate : frame->sample_rate;

    SwrContext *resampler = nullptr;
    int result = swr_alloc_set_opts2(&resampler, &out, AV_SAMPLE_FMT_S16, outRate, &in,
                                     static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
                                     nullptr);
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    if (result < 0 || swr_init(resampler) < 0) {
        swr_free(&resampler);
        return false;
    }
    m_Resampler.reset(resampler);
    m_ResamplerFormat = frame->format;
    m_ResamplerRate = frame->sample_rate;
    av_channel_layout_copy(&m_ResamplerLayout, &frame->ch_layout);
    return true;
}

void AudioStage::queueFrame(AVFrame *frame)
{
    if (frame->nb_samples <= 0 || m_DeviceChannels <= 0 || !ensureResampler(frame))
        return;
    const int bytesPerSample = m_DeviceChannels * 2;
    const int capacity = DecoderAgent::audioBufferSize / bytesPerSample;
    // A block larger than the queue's buffers is skipped.
    if (swr_get_out_samples(m_Resampler.get(), frame->nb_samples) > capacity)
        return;
    uint8_t *out[1] = {m_Buffer.data()};
    const int samples = swr_convert(m_Resampler.get(), out, capacity,
                                    const_cast<const uint8_t **>(frame->extended_data), frame->nb_samples);
    if (samples <= 0)
        return;

    const AVStream *stream = m_Stream;
    int64_t stamp = TimestampFallback::sound(frame->best_effort_timestamp, m_NextPts, m_StartOffset);
    if (frame->sample_rate > 0)
        m_NextPts = stamp + av_rescale_q(frame->nb_samples, AVRational{1, frame->sample_rate},
                                              stream->time_base);

    int skip = 0;   // samples before an exact seek's target
    if (m_From != AV_NOPTS_VALUE && stamp < m_From) {
        const int outRate = m_DeviceRate > 0 ? m_DeviceRate : frame->sample_rate;
        skip = static_cast<int>(std::min<int64_t>(
            av_rescale_q(m_From - stamp, stream->time_base, AVRational{1, std::max(outRate, 1)}), samples));
        if (skip >= samples)
            return;
        stamp = m_From;
    }
    m_From = AV_NOPTS_VALUE;

    auto *block = new AudioPacket(m_Queue, m_Buffer.data() + skip * bytesPerSample,
                                  (samples - skip) * bytesPerSample, stamp - m_StartOffset);
    block->m_Generation = m_Clock->generation();
    block->m_Serial = m_Serial;
    m_Queue->put(block);
    m_Gate->update(0, m_Queue->count(), false);
    m_BlockQueued();
}
