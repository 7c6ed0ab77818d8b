#include "audiopacket.h"

AudioPacket::AudioPacket(DataQueue *queue, const uint8_t *source, int size, int64_t pts)
    : DataPacket(queue), m_Pts(static_cast<double>(pts))
{
    fill(source, size);
}

AudioPacket::~AudioPacket()
{
    release();
}
