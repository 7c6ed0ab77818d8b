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

int PixelPacket::bufferSize(int width, int height)
{
    if (width <= 0 || height <= 0)
        return 0;
    return width * height + 2 * chromaWidth(width) * chromaHeight(height);
}

uint8_t *PixelPacket::plane(int index) const
{
    const int luma = m_Width * m_Height;
    const int chroma = chromaWidth(m_Width) * chromaHeight(m_Height);
    if (!m_Buffer || luma <= 0 || m_Size < bufferSize(m_Width, m_Height) || index < 0 || index > 2)
        return nullptr;
    return m_Buffer + (index == 0 ? 0 : luma + (index - 1) * chroma);
}

int PixelPacket::lineSize(int index) const
{
    if (!plane(index))
        return 0;
    return index == 0 ? m_Width : chromaWidth(m_Width);
}
