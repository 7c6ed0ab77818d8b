#include "decoderpictures.h"

#include "engine/decoderagent.h"
#include "engine/pixelpacket.h"
#include "engine/videoagent.h"

void DecoderPictures::setDecoder(DecoderAgent *decoder)
{
    m_Decoder = decoder;
    m_Current = nullptr;
}

void DecoderPictures::skipThrough(double stamp)
{
    m_Skipping = true;
    m_SkipThrough = stamp;
}

std::optional<double> DecoderPictures::nextTime()
{
    if (!m_Decoder || !m_Decoder->videoAgent())
        return std::nullopt;
    VideoAgent *agent = m_Decoder->videoAgent();
    for (;;) {
        double time = 0.0;
        // Under the queue's lock (the worker may flush it for a seek at any moment), and never a
        // picture of the position before the last seek.
        if (!agent->nextTime(&time))
            return std::nullopt;
        if (!m_Skipping || time > m_SkipThrough) {
            m_Skipping = false;
            return time;
        }
        delete agent->takePicture();
    }
}

std::optional<double> DecoderPictures::take()
{
    if (!m_Decoder)
        return std::nullopt;
    m_Current = m_Decoder->nextPicture();
    if (!m_Current)
        return std::nullopt;
    return m_Current->m_Time;
}
