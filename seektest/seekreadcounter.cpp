#include "seekreadcounter.h"

#include <QMutexLocker>

#include <algorithm>

void SeekReadCounter::restart()
{
    QMutexLocker lock(&m_Mutex);
    m_Bytes = 0;
    m_Blocks.clear();
}

SeekReadCounter::Count SeekReadCounter::count() const
{
    QMutexLocker lock(&m_Mutex);
    Count c;
    c.bytes = m_Bytes;
    c.blocks = static_cast<int>(m_Blocks.size());
    return c;
}

void SeekReadCounter::fileOpened(qint64 size)
{
    QMutexLocker lock(&m_Mutex);
    m_FileSize = size;
}

qint64 SeekReadCounter::heldBytes(qint64 offset, qint64 size) const
{
    if (offset < 0 || size <= 0)
        return 0;
    if (m_FileSize < 0)
        return size;
    return std::clamp<qint64>(m_FileSize - offset, 0, size);
}

void SeekReadCounter::readBlock(qint64 offset, qint64 size)
{
    QMutexLocker lock(&m_Mutex);
    const qint64 bytes = heldBytes(offset, size);
    if (bytes <= 0)
        return;
    m_Bytes += bytes;
    const qint64 first = offset / BlockSize;
    const qint64 last = (offset + bytes - 1) / BlockSize;
    for (qint64 block = first; block <= last; ++block)
        m_Blocks.insert(block);
}

void SeekReadCounter::readFailed(qint64 offset, qint64 size, qint64 got)
{
    QMutexLocker lock(&m_Mutex);
    // readBlock() counted what the file was known to hold; take back what did not come. The
    // blocks stay: the reader went there.
    const qint64 missing = heldBytes(offset, size) - std::max<qint64>(got, 0);
    if (missing > 0)
        m_Bytes = std::max<qint64>(m_Bytes - missing, 0);
}
