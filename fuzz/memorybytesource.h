#pragma once

#include "engine/bytesource.h"

#include <cstddef>
#include <cstdint>

// A clip held in memory, for the decoder's byte path: what the fuzz target hands the engine in
// place of a file. The bytes are not copied and must outlive the source.
//
// Threads: read() runs on whichever thread calls into libavformat; the bytes never change, so
// nothing needs a lock.
class MemoryByteSource : public ByteSource {
public:
    MemoryByteSource(const uint8_t *data, size_t size);

    // Copies up to size bytes from offset: the count, 0 at or past the end, -1 for a negative
    // offset or size, as a failed driver read would report it.
    qint64 read(char *buffer, qint64 offset, qint64 size) override;
    qint64 sourceSize() override;

private:
    const uint8_t *m_Data;
    const qint64 m_Size;
};
