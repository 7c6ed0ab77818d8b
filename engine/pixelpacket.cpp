#include "pixelpacket.h"

PixelPacket::PixelPacket(DataQueue *queue, const uint8_t *source, int size, double time, bool keyFrame)
    : DataPacket(queue), m_Time(time), m_KeyFrame(keyFrame)
{
    fill(source, size);
}

PixelPacket::~PixelPacket()
{
    release();
}
