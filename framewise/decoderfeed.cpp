#include "decoderfeed.h"

#include "engine/decoderagent.h"
#include "engine/pixelpacket.h"
#include "engine/videoagent.h"

std::optional<double> DecoderFeed::headTime()
{
    VideoAgent *agent = m_Decoder->videoAgent();
    double time = 0.0;
    // Under the queue's lock, and never a picture of a position before the last seek.
    if (!agent || !agent->nextTime(&time))
        return std::nullopt;
    return time;
}

std::unique_ptr<PixelPacket> DecoderFeed::take()
{
    VideoAgent *agent = m_Decoder->videoAgent();
    std::unique_ptr<PixelPacket> picture(agent ? agent->takePicture() : nullptr);
    // A worker held back by its read-ahead may be resting: there is room again.
    if (picture)
        m_Decoder->wake();
    return picture;
}

void DecoderFeed::seek(double stamp)
{
    seekTo(stamp, SeekMode::Keyframe);
}

void DecoderFeed::seekTo(double stamp, SeekMode mode)
{
    // The decoder counts seconds from the clip's first picture.
    m_Decoder->seekTo(stamp - m_Decoder->leadSeconds(), mode);
}

bool DecoderFeed::ended()
{
    VideoAgent *agent = m_Decoder->videoAgent();
    double time = 0.0;
    return m_Decoder->isStopped() && (!agent || !agent->nextTime(&time));
}
