#include "demuxer.h"

#include "bytesource.h"
#include "ffdiskio.h"
#include "inputstart.h"
#include "streamdecoder.h"
#include "timestampfallback.h"
#include "videostage.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

Demuxer::Demuxer(std::function<void()> repositioned)
    : m_Repositioned(std::move(repositioned))
{
}

Demuxer::~Demuxer()
{
    close();
}

bool Demuxer::open(ByteSource *source, QString &error, QString &declaredTooLarge)
{
    if (!source) {
        error = QStringLiteral("there is no data source");
        return false;
    }
    if (source->sourceSize() <= 0) {
        error = QStringLiteral("the file is empty");
        return false;
    }
    m_Io = std::make_unique<FfdiskIo>(source);
    AVFormatContext *context = m_Io->context() ? avformat_alloc_context() : nullptr;
    if (!context) {
        error = QStringLiteral("out of memory");
        return false;
    }
    context->pb = m_Io->context();
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Nothing follows the colon: the bytes come from the source, not from a name.
    return openInput(context, "ffdisk:", error, declaredTooLarge);
}

bool Demuxer::open(const char *path, QString &error, QString &declaredTooLarge)
{
    return openInput(nullptr, path, error, declaredTooLarge);
}

bool Demuxer::openInput(AVFormatContext *context, const char *url, QString &error, QString &declaredTooLarge)
{
    // On failure libavformat frees the context itself (never a caller's I/O context).
    int result = avformat_open_input(&context, url, nullptr, nullptr);
    if (result < 0) {
        error = QStringLiteral("not a readable media file (%1)").arg(StreamDecoder::ffmpegError(result));
        return false;
    }
    m_FormatContext.reset(context);
    // What the header declares, kept for the reason: a probe that refuses a huge size leaves the
    // stream without any size.
    for (unsigned i = 0; i < context->nb_streams && declaredTooLarge.isEmpty(); ++i) {
        const AVCodecParameters *declared = context->streams[i]->codecpar;
        if (declared->codec_type == AVMEDIA_TYPE_VIDEO && VideoStage::tooLarge(declared->width, declared->height))
            declaredTooLarge = VideoStage::tooLargeReason(declared->width, declared->height);
    }
    // The probing decoders get the same limit as ours: without it a header declaring 16000 x 16000
    // pictures has FFmpeg allocate and decode them here, before any size could be checked.
    std::vector<AVDictionary *> probeOptions(context->nb_streams, nullptr);
    for (AVDictionary *&options : probeOptions)
        av_dict_set_int(&options, "max_pixels", VideoStage::maxPicturePixels, 0);
    result = avformat_find_stream_info(context, probeOptions.empty() ? nullptr : probeOptions.data());
    for (AVDictionary *&options : probeOptions)
        av_dict_free(&options);
    if (result < 0) {
        error = QStringLiteral("no stream information found (%1)").arg(StreamDecoder::ffmpegError(result));
        return false;
    }
    if (context->nb_streams == 0) {
        error = QStringLiteral("the file has no streams");
        return false;
    }
    av_read_play(context);
    m_StartTime = startOf(context);
    m_PendingPacket.reset(av_packet_alloc());
    if (!m_PendingPacket) {
        error = QStringLiteral("out of memory");
        return false;
    }
    return true;
}

int64_t Demuxer::startOf(const AVFormatContext *context)
{
    // The video stream the decoder plays: the first one.
    const AVStream *video = nullptr;
    for (unsigned i = 0; i < context->nb_streams && !video; ++i)
        if (context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            video = context->streams[i];
    int64_t videoStart = InputStart::none;
    int wrapBits = 64;
    int64_t interval = 0;
    if (video) {
        if (video->start_time != AV_NOPTS_VALUE)
            videoStart = av_rescale_q(video->start_time, video->time_base, AV_TIME_BASE_Q);
        wrapBits = video->pts_wrap_bits;
        if (video->r_frame_rate.num > 0 && video->r_frame_rate.den > 0)
            interval = av_rescale(AV_TIME_BASE, video->r_frame_rate.den, video->r_frame_rate.num);
    }
    return InputStart::choose(context->start_time != AV_NOPTS_VALUE ? context->start_time : InputStart::none,
                              videoStart, wrapBits, interval);
}

void Demuxer::discardUnplayed(bool audioPlayed)
{
    for (unsigned i = 0; i < m_FormatContext->nb_streams; ++i)
        if (static_cast<int>(i) != m_VideoStream && !(audioPlayed && static_cast<int>(i) == m_AudioStream))
            discard(static_cast<int>(i));
}

void Demuxer::discard(int streamIndex)
{
    if (streamIndex >= 0 && static_cast<unsigned>(streamIndex) < m_FormatContext->nb_streams)
        m_FormatContext->streams[streamIndex]->discard = AVDISCARD_ALL;
}

bool Demuxer::readPlayed(AVPacket *packet)
{
    // Packets the stream probing buffered before the unplayed streams were discarded still come:
    // they go here, without a pass of their own.
    for (;;) {
        if (av_read_frame(m_FormatContext.get(), packet) < 0)
            return false;
        const int index = packet->stream_index;
        if (index < 0 || static_cast<unsigned>(index) >= m_FormatContext->nb_streams
            || m_FormatContext->streams[index]->discard != AVDISCARD_ALL)
            return true;
        av_packet_unref(packet);
    }
}

void Demuxer::readFirstPacket()
{
    // The packet is normally still buffered from the stream probing.
    m_DataOffset = 0;
    if (readPlayed(m_PendingPacket.get())) {
        m_HasPending = true;
        if (m_PendingPacket->pos >= 0)
            m_DataOffset = m_PendingPacket->pos;
    }
}

void Demuxer::close()
{
    m_PendingPacket.reset();
    m_HasPending = false;
    m_LandingHeld.clear();
    m_LandingHeldBytes = 0;
    m_Replay.clear();
    m_VideoStream = -1;
    m_AudioStream = -1;
    m_FormatContext.reset();
    m_Io.reset();   // only after the input that reads through it
    m_StartTime = 0;
    m_DataOffset = 0;
    m_CheckLanding = false;
}

Demuxer::Read Demuxer::read(AVPacket *packet)
{
    if (!m_Replay.empty()) {
        av_packet_move_ref(packet, m_Replay.front().get());
        m_Replay.pop_front();
        return Read::Packet;
    }
    if (m_HasPending) {
        av_packet_move_ref(packet, m_PendingPacket.get());
        m_HasPending = false;
        return Read::Packet;
    }
    if (!readPlayed(packet)) {
        if (m_CheckLanding && !m_LandingHeld.empty()) {
            releaseLanding();   // the end came first: decode what was held
            return Read::Taken;
        }
        // The end came before any keyframe: a coarse search into the last keyframe interval
        // (MPEG-TS) ended past the last keyframe. Search earlier.
        if (m_CheckLanding && canSearchEarlier() && searchEarlier() >= 0)
            return Read::SoughtAgain;
        return Read::End;
    }
    return m_CheckLanding ? checkLanding(packet) : Read::Packet;
}

bool Demuxer::searchesByDecodingTime(const AVInputFormat *format)
{
    // Matroska's cues and block times are presentation times, although the demuxer does not say so.
    return format && !(format->flags & AVFMT_SEEK_TO_PTS) && std::strncmp(format->name, "matroska", 8) != 0;
}

int64_t Demuxer::floorUs() const
{
    // AVI's and FLV's searches refuse a time before their first index entry, and there is
    // nothing earlier to land on anyway.
    return m_FormatContext->start_time != AV_NOPTS_VALUE ? m_FormatContext->start_time : 0;
}

int Demuxer::searchEarlier()
{
    ++m_LandingRetries;
    if (m_SeekTimestampUs > floorUs())
        return seekInput(m_SeekTimestampUs - ((AV_TIME_BASE / 2) << (m_LandingRetries - 1)));
    // A search by time ended past the target although asked for the input's start (MPEG-TS and
    // -PS search coarsely): the first packet's byte is the start.
    m_AtStart = true;
    const int sought = av_seek_frame(m_FormatContext.get(), -1, m_DataOffset, AVSEEK_FLAG_BYTE);
    m_Repositioned();
    m_LandingHeld.clear();
    m_LandingHeldBytes = 0;
    m_Replay.clear();
    return sought;
}

bool Demuxer::canSearchEarlier() const
{
    return m_LandingRetries < maxLandingRetries && !m_AtStart;
}

int Demuxer::seek(double seconds, double frameRate, int64_t leadUs, bool videoReorders)
{
    // libavformat seeks in absolute time: an input that starts later than 0 needs its start added.
    const int64_t target = std::llround(seconds * AV_TIME_BASE) + m_StartTime;
    // A picture stamped less than half an interval after the target (counted from the first
    // picture, see VideoStage::leadUs()) is the one at the target.
    const int64_t halfInterval = frameRate > 0.0 ? static_cast<int64_t>(AV_TIME_BASE / (2 * frameRate)) : 20000;
    m_LandingLimitUs = target + leadUs + halfInterval;
    int64_t timestamp = m_LandingLimitUs;
    // Inputs searched by decoding time find a keyframe's packet by a decoding time before its
    // presentation time: moved back by the decoding delay, as the ffmpeg tool does, the search
    // no longer ends one keyframe late.
    if (searchesByDecodingTime(m_FormatContext->iformat) && m_VideoStream >= 0 && videoReorders)
        timestamp -= 3 * AV_TIME_BASE / 23;
    m_LateKeyUs = AV_NOPTS_VALUE;
    m_LandedKeyUs = AV_NOPTS_VALUE;
    m_LandingRetries = 0;
    m_AtStart = false;
    const int sought = seekInput(timestamp);
    m_LandingDropped = 0;
    m_CheckLanding = sought >= 0 && m_VideoStream >= 0;
    return sought;
}

bool Demuxer::retryEarlier()
{
    // From the input's start nothing earlier exists: its first picture stands, whatever its stamp.
    if (m_LandedKeyUs == AV_NOPTS_VALUE || !canSearchEarlier() || m_SeekTimestampUs <= floorUs())
        return false;
    // That keyframe's picture is presented past the target although its packet's stamp is not
    // (packets with decoding stamps only): it and every later one are past it.
    m_LateKeyUs = m_LandedKeyUs;
    m_LandedKeyUs = AV_NOPTS_VALUE;
    if (searchEarlier() < 0)
        return false;
    m_LandingDropped = 0;
    m_CheckLanding = true;
    return true;
}

int Demuxer::seekInput(int64_t timestampUs)
{
    m_SeekTimestampUs = std::max(timestampUs, floorUs());
    const int sought = av_seek_frame(m_FormatContext.get(), -1, m_SeekTimestampUs, AVSEEK_FLAG_BACKWARD);
    // The decoders still hold pictures and sound of the old position.
    m_Repositioned();
    if (m_HasPending) {
        av_packet_unref(m_PendingPacket.get());
        m_HasPending = false;
    }
    m_LandingHeld.clear();
    m_LandingHeldBytes = 0;
    m_Replay.clear();
    return sought;
}

int64_t Demuxer::videoStampUs(const AVPacket *packet, bool decodingTime) const
{
    const int64_t stamp = decodingTime ? TimestampFallback::packet(packet->dts, packet->pts)
                                       : TimestampFallback::packet(packet->pts, packet->dts);
    if (stamp == AV_NOPTS_VALUE)
        return AV_NOPTS_VALUE;
    return av_rescale_q(stamp, m_FormatContext->streams[m_VideoStream]->time_base, AV_TIME_BASE_Q);
}

Demuxer::Read Demuxer::checkLanding(AVPacket *packet)
{
    const bool video = packet->stream_index == m_VideoStream;
    const bool keyframe = video && (packet->flags & AV_PKT_FLAG_KEY);
    const int64_t keyTime = keyframe ? videoStampUs(packet, false) : AV_NOPTS_VALUE;
    // A keyframe at or after one whose picture came out past the target is past it too.
    const bool knownLate = keyTime != AV_NOPTS_VALUE && m_LateKeyUs != AV_NOPTS_VALUE && keyTime >= m_LateKeyUs;
    if (m_LandingHeld.empty()) {
        if (!keyframe) {
            // Nothing before the first keyframe decodes into a picture of the new position, and
            // its sound lies before that picture. A stream without keyframe flags ends the check.
            if (++m_LandingDropped > landingPacketLimit)
                m_CheckLanding = false;
            return m_CheckLanding ? Read::Taken : Read::Packet;
        }
        if (keyTime != AV_NOPTS_VALUE && (keyTime > m_LandingLimitUs || knownLate) && canSearchEarlier()) {
            // Past the target (MPEG-PS carries time stamps on few packs, so its search is coarse):
            // the keyframe before it was missed. Ask again earlier, further back each time.
            if (searchEarlier() < 0) {
                m_CheckLanding = false;
                return Read::Packet;
            }
            m_LandingDropped = 0;
            return Read::SoughtAgain;
        }
    } else if (keyframe && keyTime != AV_NOPTS_VALUE && keyTime <= m_LandingLimitUs && !knownLate) {
        // A later keyframe still at or before the target: the landing moves up to it.
        m_LandingHeld.clear();
        m_LandingHeldBytes = 0;
    }
    // Held back until it is certain that no later keyframe lies at or before the target: once the
    // video's decoding time has passed it, or the held packets grow too large, the held packets
    // are decoded from the last such keyframe on.
    PacketPtr held(av_packet_alloc());
    if (!held)
        return Read::Packet;
    av_packet_move_ref(held.get(), packet);
    m_LandingHeldBytes += held->size;
    m_LandingHeld.push_back(std::move(held));
    const int64_t decodedAt = video ? videoStampUs(m_LandingHeld.back().get(), true) : AV_NOPTS_VALUE;
    if ((decodedAt != AV_NOPTS_VALUE && decodedAt > m_LandingLimitUs) || m_LandingHeldBytes > landingHoldBytes)
        releaseLanding();
    return Read::Taken;
}

void Demuxer::releaseLanding()
{
    m_CheckLanding = false;
    // Decoding starts at the held keyframe: remembered in case its picture turns out late.
    m_LandedKeyUs = m_LandingHeld.empty() ? AV_NOPTS_VALUE : videoStampUs(m_LandingHeld.front().get(), false);
    while (!m_LandingHeld.empty()) {
        m_Replay.push_back(std::move(m_LandingHeld.front()));
        m_LandingHeld.pop_front();
    }
    m_LandingHeldBytes = 0;
}
