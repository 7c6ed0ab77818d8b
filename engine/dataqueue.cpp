#include "dataqueue.h"

#include "datapacket.h"
#include "log/assertion.h"

namespace {
// The queue's checks name the source file the way the engine's log lines do.
const char *const kSourceFile = "./dataqueue";
}

DataQueue::DataQueue(bool checks) : m_Checks(checks) {}

DataQueue::~DataQueue()
{
    QMutexLocker<QRecursiveMutex> lock(&m_Mutex);
    flush();
    for (int i = 0; i < m_Pooled; ++i)
        delete[] m_Data[i];
    m_Pooled = 0;
    m_Data.clear();
    m_HasData = false;
}

void DataQueue::checkInit(int line)
{
    if (m_Checks && !m_HasData)
        reportAssertion("m_Data", kSourceFile, line);
}

void DataQueue::init(int bufferSize, int capacity)
{
    QMutexLocker<QRecursiveMutex> lock(&m_Mutex);
    m_BufferSize = bufferSize < 0 ? 0 : bufferSize;
    m_Capacity = capacity < 0 ? 0 : capacity;
    m_Pooled = 0;
    m_Data.assign(m_Capacity, nullptr);
    m_HasData = true;
}

uint8_t *DataQueue::allocBuffer(int size)
{
    QMutexLocker<QRecursiveMutex> lock(&m_Mutex);
    if (size > m_BufferSize)
        return nullptr;
    if (m_Pooled > 0) {
        uint8_t *buffer = m_Data[--m_Pooled];
        m_Data[m_Pooled] = nullptr;
        return buffer;
    }
    return new uint8_t[m_BufferSize > 0 ? m_BufferSize : 1];
}

void DataQueue::releaseBuffer(uint8_t *buffer)
{
    if (!buffer)
        return;
    QMutexLocker<QRecursiveMutex> lock(&m_Mutex);
    checkInit(__LINE__);
    if (m_HasData && m_Pooled < m_Capacity)
        m_Data[m_Pooled++] = buffer;
    else
        delete[] buffer;
}

void DataQueue::put(DataPacket *packet)
{
    QMutexLocker<QRecursiveMutex> lock(&m_Mutex);
    checkInit(__LINE__);
    if (!packet)
        return;
    if (m_Packets.size() < m_Capacity)
        m_Packets.append(packet);
    else
        delete packet;   // returns its buffer to this pool: the lock is taken again, hence recursive
}

DataPacket *DataQueue::take()
{
    QMutexLocker<QRecursiveMutex> lock(&m_Mutex);
    checkInit(__LINE__);
    return m_Packets.isEmpty() ? nullptr : m_Packets.takeFirst();
}

DataPacket *DataQueue::takeCurrent(int serial)
{
    QMutexLocker<QRecursiveMutex> lock(&m_Mutex);
    checkInit(__LINE__);
    dropStaleLocked(serial);
    return m_Packets.isEmpty() ? nullptr : m_Packets.takeFirst();
}

void DataQueue::dropStaleLocked(int serial)
{
    // Serials only grow and the producer tags in order, so the stale packets are the oldest.
    while (!m_Packets.isEmpty() && m_Packets.first()->m_Serial < serial)
        delete m_Packets.takeFirst();
}

void DataQueue::flush()
{
    QMutexLocker<QRecursiveMutex> lock(&m_Mutex);
    checkInit(__LINE__);
    while (!m_Packets.isEmpty())
        delete m_Packets.takeFirst();
}

bool DataQueue::isFull()
{
    QMutexLocker<QRecursiveMutex> lock(&m_Mutex);
    checkInit(__LINE__);
    return m_Packets.size() >= m_Capacity;
}

bool DataQueue::isEmpty()
{
    QMutexLocker<QRecursiveMutex> lock(&m_Mutex);
    checkInit(__LINE__);
    return m_Packets.isEmpty();
}

int DataQueue::count()
{
    QMutexLocker<QRecursiveMutex> lock(&m_Mutex);
    return static_cast<int>(m_Packets.size());
}

int DataQueue::pooled()
{
    QMutexLocker<QRecursiveMutex> lock(&m_Mutex);
    return m_Pooled;
}
