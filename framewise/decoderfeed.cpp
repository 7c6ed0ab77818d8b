#include "decoderfeed.h"

#include "engine/decoderagent.h"
#include "engine/pixelpacket.h"
#include "engine/videoagent.h"

#include <algorithm>
#include <cmath>

std::optional<double> DecoderFeed::headTime()
{
    VideoAgent *agent = m_Decoder->videoAgent();
    double time = 0.0;
    // Under the queue's lock: the worker may flush it for a seek at any moment.
    if (!agent || !agent->pictures().withHead([&time](DataPacket *head) { time = static_cast<PixelPacket *>(head)->m_Time; }))
        return std::nullopt;
    return time;
}

std::unique_ptr<PixelPacket> DecoderFeed::take()
{
    VideoAgent *agent = m_Decoder->videoAgent();
    std::unique_ptr<PixelPacket> picture(agent ? static_cast<PixelPacket *>(agent->pictures().take()) : nullptr);
    // A worker held back by its read-ahead may be resting: there is room again.
    if (picture)
        m_Decoder->wake();
    return picture;
}

void DecoderFeed::seek(double stamp)
{
    // Whole seconds from the first picture, rounded down: the keyframe at or before that second
    // lies at or before the stamp.
    const double fromFirst = stamp - m_Decoder->leadSeconds();
    m_Decoder->seek(int(std::max(0.0, std::floor(fromFirst))));
}

bool DecoderFeed::ended()
{
    VideoAgent *agent = m_Decoder->videoAgent();
    return m_Decoder->isStopped() && (!agent || agent->pictures().isEmpty());
}
