#pragma once

#include <QList>
#include <QRecursiveMutex>

#include <cstdint>
#include <vector>

class DataPacket;

// A bounded FIFO of packets with a pool of equally sized payload buffers. It never blocks: put()
// on a full queue destroys the packet (its buffer goes straight back to the pool), take() on an
// empty one returns null.
//
// Threads: one producer (the decoder thread) and consumers on the GUI and audio threads. Every
// field is guarded by m_Mutex, which must be recursive: put() and flush() destroy packets under the
// lock, and a packet's destructor re-enters the same queue through releaseBuffer(). No operation
// holds two queues' locks at once, and no queue operation takes the decoder's lock (the decoder
// takes its own lock first, then a queue's).
class DataQueue {
public:
    // checks: report (through the assertion report) operations on a queue that init() never set up.
    explicit DataQueue(bool checks = true);
    virtual ~DataQueue();

    DataQueue(const DataQueue &) = delete;
    DataQueue &operator=(const DataQueue &) = delete;

    // Called once by the owner right after construction.
    void init(int bufferSize, int capacity);

    // A buffer of bufferSize() bytes (uninitialised) for a payload of size bytes; null when size
    // exceeds bufferSize(). The most recently pooled buffer is reused first.
    uint8_t *allocBuffer(int size);
    // Keeps the buffer in the pool while it has room, frees it otherwise. Null is ignored.
    void releaseBuffer(uint8_t *buffer);

    // Appends the packet, or destroys it when the queue is full. The caller gives it up either way.
    void put(DataPacket *packet);
    // Removes and returns the oldest packet (the caller owns it), or null.
    DataPacket *take();
    // Calls f(head) under the queue's lock, so a concurrent flush cannot destroy the head while it
    // is read. Returns false (without calling f) when the queue is empty.
    template <typename F>
    bool withHead(F f)
    {
        QMutexLocker<QRecursiveMutex> lock(&m_Mutex);
        if (m_Packets.isEmpty())
            return false;
        f(m_Packets.first());
        return true;
    }
    // The same for consumers that know the current seek serial: packets of an older serial at the
    // head are destroyed first (they belong to a position left behind), all under the lock, so a
    // stale packet is never handed out or read.
    DataPacket *takeCurrent(int serial);
    template <typename F>
    bool withCurrentHead(int serial, F f)
    {
        QMutexLocker<QRecursiveMutex> lock(&m_Mutex);
        dropStaleLocked(serial);
        if (m_Packets.isEmpty())
            return false;
        f(m_Packets.first());
        return true;
    }
    // Destroys every queued packet, oldest first.
    void flush();

    bool isFull();
    bool isEmpty();
    int count();
    int pooled();
    int bufferSize() const { return m_BufferSize; }
    int capacity() const { return m_Capacity; }

private:
    // Reports a queue that init() never set up; the operation then carries on.
    void checkInit(int line);
    void dropStaleLocked(int serial);

    QList<DataPacket *> m_Packets;     // oldest first; owned
    std::vector<uint8_t *> m_Data;     // the pool of free buffers, a stack; empty until init()
    bool m_HasData = false;            // init() has run
    int m_Capacity = 0;
    int m_BufferSize = 0;
    int m_Pooled = 0;
    const bool m_Checks;
    QRecursiveMutex m_Mutex;
};
