#include "pixelpacket.h"

PixelPacket::PixelPacket(DataQueue *queue, const uint8_t *source, int size, double time)
    : DataPacket(queue), m_Time(time)
{
    fill(source, size);
}

PixelPacket::~PixelPacket()
{
    release();
}
