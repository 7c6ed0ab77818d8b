#include "memorybytesource.h"

#include <algorithm>
#include <cstring>

MemoryByteSource::MemoryByteSource(const uint8_t *data, size_t size)
    : m_Data(data)
    , m_Size(data ? static_cast<qint64>(size) : 0)
{
}

qint64 MemoryByteSource::read(char *buffer, qint64 offset, qint64 size)
{
    if (offset < 0 || size < 0 || !buffer)
        return -1;
    if (offset >= m_Size)
        return 0;
    const qint64 count = std::min(size, m_Size - offset);
    std::memcpy(buffer, m_Data + offset, static_cast<size_t>(count));
    return count;
}

qint64 MemoryByteSource::sourceSize()
{
    return m_Size;
}
