#include "decoderagent.h"

#include "audioagent.h"
#include "audiopacket.h"
#include "bytesource.h"
#include "ffdiskio.h"
#include "pixelpacket.h"
#include "schedulerdecision.h"
#include "videoagent.h"

#include "log/logcategory.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <QFile>
#include <QMutexLocker>
#include <QtDebug>

#include <algorithm>

static LogCategory s_Log("decoder");

#define DECODER_LOG(level, text)                                        \
    do {                                                                \
        if (m_Options.logChannels)                                      \
            s_Log.log((level), (text), "./decoderagent", __LINE__);     \
    } while (0)

namespace {

bool pictureTooLarge(int width, int height)
{
    return width > DecoderAgent::maxPictureSide || height > DecoderAgent::maxPictureSide
        || static_cast<int64_t>(width) * height > DecoderAgent::maxPicturePixels;
}

QString tooLargeReason(int width, int height)
{
    return QStringLiteral("the picture size %1x%2 is too large (at most %3 pixels, %4 on a side)")
        .arg(width)
        .arg(height)
        .arg(DecoderAgent::maxPicturePixels)
        .arg(DecoderAgent::maxPictureSide);
}

struct PacketUnref {
    AVPacket *packet;
    ~PacketUnref() { av_packet_unref(packet); }
};

} // namespace

DecoderAgent::DecoderAgent(ByteSource *source, const EngineOptions &options, QObject *parent)
    : JobThread(parent)
    , m_Source(source)
    , m_Options(options)
    , m_AudioQueue(options.queueChecks)
{
    setSleeps(options.afterWorkMs, options.idleWaitMs, options.afterIdleMs, options.pausedMs);
    m_AudioQueue.init(audioBufferSize, audioQueueLimit);
    m_Clock.reset();
}

DecoderAgent::~DecoderAgent()
{
    // The worker must end before any member goes: by the time ~JobThread runs, step() is gone.
    close();
}

bool DecoderAgent::fail(const QString &reason)
{
    if (m_OpenError.isEmpty())
        m_OpenError = reason;
    return false;
}

QString DecoderAgent::ffmpegError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return QString::fromUtf8(text);
}

bool DecoderAgent::open()
{
    close();
    m_OpenError.clear();
    if (!m_Source)
        return fail(QStringLiteral("there is no data source"));
    if (m_Source->sourceSize() <= 0)
        return fail(QStringLiteral("the file is empty"));
    m_Io = std::make_unique<FfdiskIo>(m_Source);
    if (!m_Io->context())
        return fail(QStringLiteral("out of memory"));
    AVFormatContext *context = avformat_alloc_context();
    if (!context)
        return fail(QStringLiteral("out of memory"));
    context->pb = m_Io->context();
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Nothing follows the colon: the bytes come from the source, not from a name.
    if (openInput(context, "ffdisk:"))
        return true;
    close();
    return false;
}

bool DecoderAgent::open(const QString &path)
{
    close();
    m_OpenError.clear();
    if (openInput(nullptr, QFile::encodeName(path).constData()))
        return true;
    // Nothing half-open stays behind, least of all an audio device that another decoder may need.
    close();
    return false;
}

bool DecoderAgent::openInput(AVFormatContext *context, const char *url)
{
    // On failure libavformat frees the context itself (never a caller's I/O context).
    int result = avformat_open_input(&context, url, nullptr, nullptr);
    if (result < 0)
        return fail(QStringLiteral("not a readable media file (%1)").arg(ffmpegError(result)));
    m_FormatContext.reset(context);
    // What the header declares, kept for the reason: a probe that refuses a huge size leaves the
    // stream without any size.
    QString declaredTooLarge;
    for (unsigned i = 0; i < context->nb_streams && declaredTooLarge.isEmpty(); ++i) {
        const AVCodecParameters *declared = context->streams[i]->codecpar;
        if (declared->codec_type == AVMEDIA_TYPE_VIDEO && pictureTooLarge(declared->width, declared->height))
            declaredTooLarge = tooLargeReason(declared->width, declared->height);
    }
    // The probing decoders get the same limit as ours: without it a header declaring 16000 x 16000
    // pictures has FFmpeg allocate and decode them here, before any size could be checked.
    std::vector<AVDictionary *> probeOptions(context->nb_streams, nullptr);
    for (AVDictionary *&options : probeOptions)
        av_dict_set_int(&options, "max_pixels", maxPicturePixels, 0);
    result = avformat_find_stream_info(context, probeOptions.empty() ? nullptr : probeOptions.data());
    for (AVDictionary *&options : probeOptions)
        av_dict_free(&options);
    if (result < 0)
        return fail(QStringLiteral("no stream information found (%1)").arg(ffmpegError(result)));
    if (context->nb_streams == 0)
        return fail(QStringLiteral("the file has no streams"));
    av_read_play(context);
    // Times count from the input's start when it starts late (MPEG-TS, broadcast captures). A start
    // below 0 is the audio encoder's priming, not a late start: subtracting it would stamp every
    // picture late and make every seek land a keyframe early.
    m_StartTime = context->start_time != AV_NOPTS_VALUE && context->start_time > 0 ? context->start_time : 0;

    if (!openStreams())
        return false;
    if (m_VideoStream < 0)
        return fail(QStringLiteral("the clip has no video stream"));

    m_Frame.reset(av_frame_alloc());
    m_AudioFrame.reset(av_frame_alloc());
    m_Packet.reset(av_packet_alloc());
    m_PendingPacket.reset(av_packet_alloc());
    if (!m_Frame || !m_AudioFrame || !m_Packet || !m_PendingPacket)
        return fail(QStringLiteral("out of memory"));
    if (m_Width <= 0 || m_Height <= 0)
        return fail(declaredTooLarge.isEmpty() ? QStringLiteral("the video stream has no picture size")
                                               : declaredTooLarge);
    m_RgbSize = av_image_get_buffer_size(AV_PIX_FMT_YUV420P, m_Width, m_Height, 1);
    if (m_RgbSize <= 0)
        return fail(QStringLiteral("the picture size %1x%2 is not supported").arg(m_Width).arg(m_Height));
    m_AudioBuffer.assign(audioBufferSize, 0);

    // libavformat no longer tells where the first packet lies: read it now (it is normally still
    // buffered from the stream probing) and let the first step() take it.
    m_DataOffset = 0;
    if (av_read_frame(context, m_PendingPacket.get()) >= 0) {
        m_HasPending = true;
        if (m_PendingPacket->pos >= 0)
            m_DataOffset = m_PendingPacket->pos;
    }

    DECODER_LOG(LOG_INFO, QStringLiteral("video opened firstPacket :%1 duration:%2 bitrate:%3")
                              .arg(m_DataOffset)
                              .arg(duration())
                              .arg(static_cast<qint64>(context->bit_rate)));
    DECODER_LOG(LOG_INFO, QStringLiteral("video opened width :%1 height:%2").arg(m_Width).arg(m_Height));

    m_HasBFrames.store(m_VideoCodec->has_b_frames != 0);

    m_VideoAgent->setNoAudio(m_Options.noAudioClock);
    m_Clock.reset();
    if (m_FrameRate > 0.0)
        m_Clock.setPictureInterval(1.0 / m_FrameRate);
    m_Clock.setSoundless(!m_AudioAgent);
    m_SoundGate.store(false);
    return true;
}

bool DecoderAgent::openStreams()
{
    AVFormatContext *context = m_FormatContext.get();
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        AVStream *stream = context->streams[i];
        const AVMediaType type = stream->codecpar->codec_type;
        // Only the first stream of each kind is driven; later ones are not even opened.
        if (type == AVMEDIA_TYPE_AUDIO && m_AudioStream < 0) {
            // Its packets are recognised (and released unread) even where no sound is played.
            m_AudioStream = static_cast<int>(i);
            // The silent forms open neither a decoder nor a device.
            if (!m_Options.decodeAudio)
                continue;
            const QString earlier = m_OpenError;
            if (!openCodec(stream, m_AudioCodec, false)) {
                // The picture plays all the same, on the picture clock.
                DECODER_LOG(LOG_WARN, QStringLiteral("%1: playing the picture without sound").arg(m_OpenError));
                m_OpenError = earlier;
                m_AudioCodec.reset();
                continue;
            }
            m_AudioStartOffset = av_rescale_q(m_StartTime, AV_TIME_BASE_Q, stream->time_base);
            const double timeBase = av_q2d(stream->time_base);
            const int channels = m_AudioCodec->ch_layout.nb_channels;
            m_AudioAgent = std::make_unique<AudioAgent>([this] { return nextAudioPacket(); }, &m_Clock,
                                                        m_AudioCodec->sample_rate,
                                                        channels > 0 ? std::min(channels, 2) : 2,
                                                        timeBase, m_Options.logChannels);
            if (!m_AudioAgent->isDeviceOpen()) {
                // Nobody would take the sound: it would only fill its queue (the agent has said why).
                m_AudioAgent.reset();
                m_AudioCodec.reset();
                continue;
            }
            m_DeviceChannels = m_AudioAgent->channels();
            m_DeviceRate = m_AudioAgent->sampleRate();   // the stream's, unless implausible
            DECODER_LOG(LOG_INFO, QStringLiteral("audio time base :%1").arg(QString::number(timeBase)));
        } else if (type == AVMEDIA_TYPE_VIDEO && m_VideoStream < 0) {
            if (pictureTooLarge(stream->codecpar->width, stream->codecpar->height))
                return fail(tooLargeReason(stream->codecpar->width, stream->codecpar->height));
            if (!openCodec(stream, m_VideoCodec, true))
                return false;
            m_VideoStream = static_cast<int>(i);
            m_VideoStartOffset = av_rescale_q(m_StartTime, AV_TIME_BASE_Q, stream->time_base);
            // Pictures stamped after the input's start by the sound's priming (5-21 ms in Matroska
            // and MPEG-TS with AAC or Opus): a seek's target counts from the first picture.
            if (stream->start_time != AV_NOPTS_VALUE)
                m_VideoLeadUs = std::clamp<int64_t>(
                    av_rescale_q(stream->start_time, stream->time_base, AV_TIME_BASE_Q) - m_StartTime, 0, 100000);
            m_Width = m_VideoCodec->width;
            m_Height = m_VideoCodec->height;
            m_VideoAgent = new VideoAgent(&m_Clock, m_Width, m_Height, context->duration, m_Options);
            // Taken once here: the worker may add streams to the array later (MPEG-TS, MPEG-PS).
            const AVRational rate = stream->r_frame_rate;
            m_FrameRate = rate.den != 0 ? static_cast<double>(rate.num) / rate.den : 0.0;
            const AVRational codecBase = m_VideoCodec->time_base;
            const double videoBase = codecBase.den != 0 ? av_q2d(codecBase) : 0.0;
            DECODER_LOG(LOG_INFO, QStringLiteral("video time base :%1").arg(QString::number(videoBase)));
        }
    }
    return true;
}

bool DecoderAgent::openCodec(AVStream *stream, CodecContextPtr &codec, bool video)
{
    const char *kind = video ? "video" : "audio";
    const AVCodec *decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!decoder && stream->codecpar->codec_id == AV_CODEC_ID_NONE)
        return fail(QStringLiteral("no decoder for the %1 codec: the file names a codec unknown to FFmpeg")
                        .arg(QLatin1String(kind)));
    if (!decoder)
        return fail(QStringLiteral("no decoder for the %1 codec %2")
                        .arg(QLatin1String(kind), QLatin1String(avcodec_get_name(stream->codecpar->codec_id))));
    CodecContextPtr context(avcodec_alloc_context3(decoder));
    if (!context)
        return fail(QStringLiteral("out of memory"));
    if (avcodec_parameters_to_context(context.get(), stream->codecpar) < 0)
        return fail(QStringLiteral("the %1 stream's parameters are unusable").arg(QLatin1String(kind)));
    context->pkt_timebase = stream->time_base;
    if (video) {
        // Frame threading delays pictures by a few packets; every picture carries its own time
        // stamp, so that does not matter.
        context->thread_count = 0;
        context->thread_type = FF_THREAD_FRAME;
        context->max_pixels = maxPicturePixels;
    }
    const int result = avcodec_open2(context.get(), decoder, nullptr);
    if (result < 0)
        return fail(QStringLiteral("the %1 decoder %2 does not open (%3)")
                        .arg(QLatin1String(kind), QLatin1String(decoder->name), ffmpegError(result)));
    codec = std::move(context);
    return true;
}

void DecoderAgent::close()
{
    stop();
    // The worker may still be finishing the pass in which it stopped itself at the end of input.
    wait();

    m_AudioAgent.reset();
    if (m_VideoAgent) {
        VideoAgent *agent = m_VideoAgent;
        m_VideoAgent = nullptr;
        agent->flush();
        agent->dispose();
    }
    m_AudioQueue.flush();

    m_RgbSize = 0;
    m_Frame.reset();
    m_AudioFrame.reset();
    m_Packet.reset();
    m_PendingPacket.reset();
    m_HasPending = false;
    m_LandingHeld.clear();
    m_Replay.clear();

    m_VideoCodec.reset();
    m_VideoStream = -1;
    m_AudioCodec.reset();
    m_AudioStream = -1;
    m_FormatContext.reset();
    m_Io.reset();   // only after the input that reads through it
    m_Converter.reset();
    m_Resampler.reset();
    av_channel_layout_uninit(&m_ResamplerLayout);
    m_ResamplerFormat = -1;
    m_ResamplerRate = 0;

    m_Width = 0;
    m_Height = 0;
    m_StartTime = 0;
    m_VideoStartOffset = 0;
    m_AudioStartOffset = 0;
    m_NextAudioPts = AV_NOPTS_VALUE;
    m_LastVideoTs = AV_NOPTS_VALUE;
    m_DataOffset = 0;
    m_FrameRate = 0.0;
    m_VideoLeadUs = 0;
    m_CheckLanding = false;
    m_SeekFailed.store(false);
    m_DeviceChannels = 0;
    m_DeviceRate = 0;
    m_Draining = false;
    m_Drained = false;
    m_Aspect.store(0.0f);
    m_HasBFrames.store(false);
}

bool DecoderAgent::start()
{
    if (isPaused()) {
        QMutexLocker lock(&m_Mutex);
        m_AudioQueue.flush();
        if (m_VideoAgent)
            m_VideoAgent->flush();
        m_SoundGate.store(false);
        // The queues are gone: the next pictures and sound come from further on.
        m_Clock.restart();
    }
    m_Eof.store(false);
    m_Clock.resume();
    if (m_AudioAgent)
        m_AudioAgent->resume();
    return JobThread::start();
}

void DecoderAgent::pause()
{
    if (!m_Options.pauseOnlyAudio) {
        JobThread::pause();
        // Also without sound: the pictures wait with the clock.
        m_Clock.pause();
    }
    if (m_AudioAgent)
        m_AudioAgent->pause();
}

void DecoderAgent::stop()
{
    if (isStopped())
        return;
    JobThread::stop();
    m_Clock.pause();
    if (m_AudioAgent)
        m_AudioAgent->stop();
    if (m_VideoAgent)
        m_VideoAgent->flush();
    m_AudioQueue.flush();
    seek(0);
}

void DecoderAgent::seek(int seconds)
{
    {
        QMutexLocker lock(&m_Mutex);
        seekLocked(seconds);
    }
    wake();
}

void DecoderAgent::seekLocked(int seconds)
{
    m_AudioQueue.flush();
    m_LastSeek = seconds;
    // The input is read afresh from the new position. Left set, the end of the input read before
    // the seek would stop a running worker as soon as the flushed queues looked drained: a seek in
    // the clip's last seconds would end playback instead of moving it.
    m_Eof.store(false);
    if (m_VideoAgent)
        m_VideoAgent->flush();
    // Sound of the old position, also the block being played, no longer plays or sets the clock.
    m_Clock.restart();
    if (!m_FormatContext)
        return;
    // libavformat seeks in absolute time: an input that starts later than 0 needs its start added.
    const int64_t target = static_cast<int64_t>(seconds) * AV_TIME_BASE + m_StartTime;
    // A picture stamped less than half an interval after the target (counted from the first
    // picture, see m_VideoLeadUs) is the one at the target.
    const int64_t halfInterval = m_FrameRate > 0.0 ? static_cast<int64_t>(AV_TIME_BASE / (2 * m_FrameRate)) : 20000;
    m_LandingLimitUs = target + m_VideoLeadUs + halfInterval;
    int64_t timestamp = m_LandingLimitUs;
    // Inputs searched by decoding time find a keyframe's packet by a decoding time before its
    // presentation time: moved back by the decoding delay, as the ffmpeg tool does, the search
    // no longer ends one keyframe late.
    const AVStream *video = m_VideoStream >= 0 ? m_FormatContext->streams[m_VideoStream] : nullptr;
    if (!(m_FormatContext->iformat->flags & AVFMT_SEEK_TO_PTS) && video
        && (video->codecpar->video_delay > 0 || (m_VideoCodec && m_VideoCodec->has_b_frames > 0)))
        timestamp -= 3 * AV_TIME_BASE / 23;
    const int sought = seekInput(timestamp);
    m_SeekFailed.store(sought < 0);
    m_LandingRetries = 0;
    m_LandingDropped = 0;
    m_CheckLanding = sought >= 0 && m_VideoStream >= 0;
    // Reading goes on from where it stood (an input without time stamps or index cannot seek):
    // say so, and acknowledge nothing, so the seek is measured as failed, not as a landing.
    if (sought < 0)
        DECODER_LOG(LOG_WARN, QStringLiteral("seek to %1 s failed (%2)").arg(seconds).arg(ffmpegError(sought)));
    m_SoundGate.store(false);
    m_SeekPending.store(sought >= 0);
}

int DecoderAgent::seekInput(int64_t timestampUs)
{
    m_SeekTimestampUs = timestampUs;
    const int sought = av_seek_frame(m_FormatContext.get(), -1, timestampUs, AVSEEK_FLAG_BACKWARD);
    // The decoders still hold pictures and sound of the old position.
    if (m_VideoCodec)
        avcodec_flush_buffers(m_VideoCodec.get());
    if (m_AudioCodec)
        avcodec_flush_buffers(m_AudioCodec.get());
    if (m_HasPending) {
        av_packet_unref(m_PendingPacket.get());
        m_HasPending = false;
    }
    m_Draining = false;
    m_Drained = false;
    m_NextAudioPts = AV_NOPTS_VALUE;
    m_LastVideoTs = AV_NOPTS_VALUE;
    m_LandingHeld.clear();
    m_Replay.clear();
    return sought;
}

int64_t DecoderAgent::videoStampUs(const AVPacket *packet, bool decodingTime) const
{
    int64_t stamp = decodingTime ? packet->dts : packet->pts;
    if (stamp == AV_NOPTS_VALUE)
        stamp = decodingTime ? packet->pts : packet->dts;
    if (stamp == AV_NOPTS_VALUE)
        return AV_NOPTS_VALUE;
    return av_rescale_q(stamp, m_FormatContext->streams[m_VideoStream]->time_base, AV_TIME_BASE_Q);
}

bool DecoderAgent::checkLanding(AVPacket *packet)
{
    const bool video = packet->stream_index == m_VideoStream;
    const bool keyframe = video && (packet->flags & AV_PKT_FLAG_KEY);
    const int64_t keyTime = keyframe ? videoStampUs(packet, false) : AV_NOPTS_VALUE;
    if (m_LandingHeld.empty()) {
        if (!keyframe) {
            // Nothing before the first keyframe decodes into a picture of the new position, and
            // its sound lies before that picture. A stream without keyframe flags ends the check.
            if (++m_LandingDropped > landingPacketLimit)
                m_CheckLanding = false;
            return m_CheckLanding;
        }
        if (keyTime != AV_NOPTS_VALUE && keyTime > m_LandingLimitUs && m_LandingRetries < maxLandingRetries) {
            // Past the target (MPEG-PS carries time stamps on few packs, so its search is coarse):
            // the keyframe before it was missed. Ask again earlier, further back each time.
            ++m_LandingRetries;
            const int64_t back = (AV_TIME_BASE / 2) << (m_LandingRetries - 1);
            if (seekInput(m_SeekTimestampUs - back) < 0) {
                m_CheckLanding = false;
                return false;
            }
            m_AudioQueue.flush();
            m_LandingDropped = 0;
            return true;
        }
    } else if (keyframe && keyTime != AV_NOPTS_VALUE && keyTime <= m_LandingLimitUs) {
        // A later keyframe still at or before the target: the landing moves up to it.
        m_LandingHeld.clear();
    }
    // Held back until it is certain that no later keyframe lies at or before the target: once the
    // video's decoding time has passed it, or the holding grows too long, the held packets are
    // decoded from the last such keyframe on.
    PacketPtr held(av_packet_alloc());
    if (!held)
        return false;
    av_packet_move_ref(held.get(), packet);
    m_LandingHeld.push_back(std::move(held));
    const int64_t decodedAt = video ? videoStampUs(m_LandingHeld.back().get(), true) : AV_NOPTS_VALUE;
    if ((decodedAt != AV_NOPTS_VALUE && decodedAt > m_LandingLimitUs)
        || static_cast<int>(m_LandingHeld.size()) > landingPacketLimit)
        releaseLanding();
    return true;
}

void DecoderAgent::releaseLanding()
{
    m_CheckLanding = false;
    while (!m_LandingHeld.empty()) {
        m_Replay.push_back(std::move(m_LandingHeld.front()));
        m_LandingHeld.pop_front();
    }
}

AudioPacket *DecoderAgent::nextAudioPacket()
{
    if (isStopped() || !m_SoundGate.load())
        return nullptr;
    auto *block = static_cast<AudioPacket *>(m_AudioQueue.take());
    if (!block && !m_Eof.load() && !isPaused())
        m_SoundGaps.fetch_add(1);
    return block;
}

PixelPacket *DecoderAgent::nextPicture()
{
    // Nothing of this object may be touched after the call: its event processing may have
    // destroyed the decoder.
    return m_VideoAgent ? m_VideoAgent->nextPicture() : nullptr;
}

void DecoderAgent::setVolume(int volume)
{
    if (m_AudioAgent)
        m_AudioAgent->setVolume(volume);
}

int DecoderAgent::volume() const
{
    return m_AudioAgent ? m_AudioAgent->volume() : 0;
}

namespace {
// Milliseconds of a clock in seconds, truncated. The microsecond of slack absorbs binary rounding:
// a stopped clock climbing by 0.04 s would otherwise read 399 ms after ten steps, not 400.
qint64 clockMs(double seconds)
{
    return static_cast<qint64>(seconds * 1000.0 + 1e-6);
}
} // namespace

qint64 DecoderAgent::positionMs()
{
    if (isStopped()) {
        const qint64 end = durationMs();
        const double clock = m_Clock.load();
        if (clockMs(clock) >= end)
            return end;
        m_Clock.store(clock + 0.04);
        // The step that crosses the end must not report a position past it.
        return std::min(clockMs(clock + 0.04), end);
    }
    return clockMs(m_Clock.load());
}

qint64 DecoderAgent::position() const
{
    return static_cast<qint64>(m_Clock.load() + 0.5);
}

// An input that does not know its length (a program stream without time stamps) says
// AV_NOPTS_VALUE there: that is "unknown", 0, not minus 292 thousand years.
static int64_t knownDuration(const AVFormatContext *format)
{
    return format && format->duration != AV_NOPTS_VALUE && format->duration > 0 ? format->duration : 0;
}

qint64 DecoderAgent::durationMs() const
{
    return knownDuration(m_FormatContext.get()) / 1000;
}

qint64 DecoderAgent::duration() const
{
    return SchedulerDecision::wholeSeconds(knownDuration(m_FormatContext.get()));
}

qint64 DecoderAgent::dataOffset() const
{
    return m_FormatContext ? m_DataOffset : 0;
}

bool DecoderAgent::videoQueueFull()
{
    return m_VideoAgent && m_VideoAgent->pictures().isFull();
}

bool DecoderAgent::readingWaits(int pictures, int pictureLimit, bool soundQueued, int audioBlocks)
{
    if (pictures >= pictureLimit || (soundQueued && audioBlocks >= audioQueueLimit))
        return true;
    const bool picturesAtMark = pictures >= VideoAgent::queueCapacity;
    const bool soundAtMark = soundQueued && audioBlocks >= audioQueueCapacity;
    // A queue at its mark waits only while the other stream has enough queued: stopping while it
    // has nothing would starve the clock of the stream it needs, which the reading alone brings.
    return (picturesAtMark && !(soundQueued && audioBlocks < starvedBelow))
        || (soundAtMark && pictures >= starvedBelow);
}

bool DecoderAgent::catchingUp(int catchUpBelow, int pictures, bool soundQueued, int audioBlocks)
{
    if (catchUpBelow <= 0)
        return false;
    return pictures < catchUpBelow || (soundQueued && audioBlocks < catchUpBelow);
}

bool DecoderAgent::restAfterWork()
{
    if (!m_VideoAgent)
        return true;
    // Queue counts take only the queues' own locks: no need for m_Mutex here.
    const bool soundQueued = hasAudio();
    return !catchingUp(m_Options.catchUpBelow, m_VideoAgent->pictures().count(), soundQueued,
                       soundQueued ? m_AudioQueue.count() : 0);
}

bool DecoderAgent::step()
{
    QMutexLocker lock(&m_Mutex);
    if (!m_FormatContext)
        return false;
    if (m_Eof.load())
        return endOfInput();

    // Back-pressure (see readingWaits()).
    if (m_VideoAgent
        && readingWaits(m_VideoAgent->pictures().count(), m_VideoAgent->pictures().capacity(), hasAudio(),
                        m_AudioQueue.count()))
        return false;
    if (m_Draining)
        return drainOnePicture();

    AVPacket *packet = m_Packet.get();
    bool read = false;
    if (!m_Replay.empty()) {
        av_packet_move_ref(packet, m_Replay.front().get());
        m_Replay.pop_front();
    } else if (m_HasPending) {
        av_packet_move_ref(packet, m_PendingPacket.get());
        m_HasPending = false;
    } else if (av_read_frame(m_FormatContext.get(), packet) < 0) {
        if (m_CheckLanding && !m_LandingHeld.empty()) {
            releaseLanding();   // the end came first: decode what was held
            return true;
        }
        return readFailed();
    } else {
        read = true;
    }
    PacketUnref release{packet};
    if (read && m_CheckLanding && checkLanding(packet))
        return true;

    if (packet->size <= 0) {
        // Skipped: starting over from the last seek target would meet the same packet again.
        DECODER_LOG(LOG_INFO, "bad packet");
        return false;
    }
    if (packet->stream_index == m_AudioStream) {
        if (!hasAudio())
            return true;
        return decodeAudio(packet);
    }
    if (packet->stream_index == m_VideoStream)
        return decodeVideo(packet);
    DECODER_LOG(LOG_WARN, "bad free packet");
    return false;
}

bool DecoderAgent::readFailed()
{
    m_SoundGate.store(true);
    if (m_Options.stopAtEnd) {
        m_Eof.store(true);
        DECODER_LOG(LOG_INFO, "av_read failed");
    }
    // The video decoder still holds the pictures it kept back for reordering: collect them.
    if (!m_Drained && m_VideoCodec) {
        avcodec_send_packet(m_VideoCodec.get(), nullptr);
        m_Draining = true;
        m_Drained = true;
    }
    return false;
}

bool DecoderAgent::endOfInput()
{
    DECODER_LOG(LOG_INFO, "EOF");
    if (m_Draining) {
        if (videoQueueFull())
            return false;
        if (drainOnePicture())
            return true;
    }
    DataQueue &drained = m_VideoAgent ? m_VideoAgent->pictures() : m_AudioQueue;
    if (drained.isEmpty()) {
        requestStop();
        // The clip is over: the clock stays at its end rather than run on with the pictures'.
        m_Clock.pause();
    }
    if (isStopped())
        emit videoEnd();
    return false;
}

bool DecoderAgent::drainOnePicture()
{
    if (avcodec_receive_frame(m_VideoCodec.get(), m_Frame.get()) < 0) {
        m_Draining = false;
        return false;
    }
    convertAndPush(m_Frame.get());
    av_frame_unref(m_Frame.get());
    return true;
}

bool DecoderAgent::decodeVideo(AVPacket *packet)
{
    AVCodecContext *codec = m_VideoCodec.get();
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

int DecoderAgent::receivePictures()
{
    int count = 0;
    while (avcodec_receive_frame(m_VideoCodec.get(), m_Frame.get()) >= 0) {
        if (convertAndPush(m_Frame.get()))
            ++count;
        av_frame_unref(m_Frame.get());
    }
    return count;
}

bool DecoderAgent::convertAndPush(AVFrame *frame)
{
    if (frame->width <= 0 || frame->height <= 0 || !m_VideoAgent)
        return false;
    const auto format = static_cast<AVPixelFormat>(frame->format);
    const AVPixFmtDescriptor *descriptor = av_pix_fmt_desc_get(format);
    if (!descriptor)
        return false;
    PixelPacket *picture = m_VideoAgent->blankPicture();
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
    m_HasBFrames.store(m_VideoCodec->has_b_frames != 0);
    updateAspect();
    picture->m_Aspect = m_Aspect.load();

    // Each picture carries its own presentation time (with frame threading and reordering the
    // packet just sent is not the picture that came out).
    const AVStream *stream = m_FormatContext->streams[m_VideoStream];
    int64_t stamp = frame->best_effort_timestamp;
    if (stamp == AV_NOPTS_VALUE)
        stamp = frame->pts;
    if (stamp == AV_NOPTS_VALUE && m_LastVideoTs != AV_NOPTS_VALUE && stream->r_frame_rate.num > 0)
        stamp = m_LastVideoTs + av_rescale_q(1, av_inv_q(stream->r_frame_rate), stream->time_base);
    if (stamp == AV_NOPTS_VALUE)
        stamp = m_VideoStartOffset;
    m_LastVideoTs = stamp;

    if (m_Options.pictureDebugLines)
        qDebug() << this << frame->pts << frame->pkt_dts;
    picture->m_Time = static_cast<double>(stamp - m_VideoStartOffset) * av_q2d(stream->time_base);
    picture->m_KeyFrame = frame->key_frame != 0;
    m_Clock.pictureQueued(picture->m_Time);
    m_VideoAgent->queuePicture(picture);
    if (m_VideoAgent->pictures().count() >= soundWaitsForPictures)
        m_SoundGate.store(true);
    return true;
}

void DecoderAgent::updateAspect()
{
    const AVCodecContext *codec = m_VideoCodec.get();
    if (!m_FormatContext || !codec)
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

bool DecoderAgent::decodeAudio(AVPacket *packet)
{
    AVCodecContext *codec = m_AudioCodec.get();
    auto receive = [this, codec] {
        int result;
        while ((result = avcodec_receive_frame(codec, m_AudioFrame.get())) >= 0) {
            // Every frame of the packet is played, each with its own time stamp.
            queueAudioFrame(m_AudioFrame.get());
            av_frame_unref(m_AudioFrame.get());
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
        return true;
    }
    receive();
    return true;
}

bool DecoderAgent::ensureResampler(const AVFrame *frame)
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

void DecoderAgent::queueAudioFrame(AVFrame *frame)
{
    if (frame->nb_samples <= 0 || m_DeviceChannels <= 0 || !ensureResampler(frame))
        return;
    const int bytesPerSample = m_DeviceChannels * 2;
    const int capacity = audioBufferSize / bytesPerSample;
    // A block larger than the queue's buffers is skipped.
    if (swr_get_out_samples(m_Resampler.get(), frame->nb_samples) > capacity)
        return;
    uint8_t *out[1] = {m_AudioBuffer.data()};
    const int samples = swr_convert(m_Resampler.get(), out, capacity,
                                    const_cast<const uint8_t **>(frame->extended_data), frame->nb_samples);
    if (samples <= 0)
        return;

    const AVStream *stream = m_FormatContext->streams[m_AudioStream];
    int64_t stamp = frame->best_effort_timestamp;
    if (stamp == AV_NOPTS_VALUE)
        stamp = m_NextAudioPts;
    if (stamp == AV_NOPTS_VALUE)
        stamp = m_AudioStartOffset;
    if (frame->sample_rate > 0)
        m_NextAudioPts = stamp + av_rescale_q(frame->nb_samples, AVRational{1, frame->sample_rate},
                                              stream->time_base);

    auto *block = new AudioPacket(&m_AudioQueue, m_AudioBuffer.data(), samples * bytesPerSample,
                                  stamp - m_AudioStartOffset);
    block->m_Generation = m_Clock.generation();
    m_AudioQueue.put(block);
    if (m_AudioQueue.count() >= audioQueueCapacity)
        m_SoundGate.store(true);
    if (m_SeekPending.load()) {
        m_SeekPending.store(false);
        emit seekDone();
    }
}
