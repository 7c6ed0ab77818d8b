#pragma once

#include <cstdint>

class DataQueue;

// One payload buffer on its way from the decoder thread to a consumer. The buffer comes from the
// pool of the queue the packet is meant for and goes back there when the packet is destroyed
// (subclass destructors do that), so a warm pipeline allocates no payload memory.
// A packet belongs to one thread at a time: the producer until put(), the queue while queued, the
// consumer after take(). It must never outlive the queue that supplied its buffer.
class DataPacket {
public:
    explicit DataPacket(DataQueue *queue) : m_Queue(queue) {}
    virtual ~DataPacket() = default;

    DataPacket(const DataPacket &) = delete;
    DataPacket &operator=(const DataPacket &) = delete;

    DataQueue *m_Queue = nullptr;   // supplies and takes back m_Buffer; not owned
    uint8_t *m_Buffer = nullptr;    // the payload; null when the pool refused the size
    int m_Size = 0;                 // payload length in bytes (0 when m_Buffer is null)
    // The seek it belongs to (DecoderAgent::seekSerial()): a packet of an older serial is of a
    // position left behind and is never handed out (see DataQueue::takeCurrent()).
    int m_Serial = 0;

protected:
    // Takes a buffer for size bytes from the queue's pool and copies the source into it.
    void fill(const uint8_t *source, int size);
    // Gives the buffer back to the queue's pool.
    void release();
};
