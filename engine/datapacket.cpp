#include "datapacket.h"

#include "dataqueue.h"

#include <cstring>

void DataPacket::fill(const uint8_t *source, int size)
{
    m_Buffer = m_Queue ? m_Queue->allocBuffer(size) : nullptr;
    if (!m_Buffer) {
        // The pool refuses payloads larger than its buffers; an empty packet is safer than a
        // truncated or overrun one.
        m_Size = 0;
        return;
    }
    m_Size = size;
    if (source && size > 0)
        std::memcpy(m_Buffer, source, size);
}

void DataPacket::release()
{
    if (m_Queue)
        m_Queue->releaseBuffer(m_Buffer);
    else
        delete[] m_Buffer;
    m_Buffer = nullptr;
}
