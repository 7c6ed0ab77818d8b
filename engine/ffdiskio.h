#pragma once

#include "ffmpegptr.h"

#include <cstdint>

class ByteSource;

// The decoder's byte path when it does not open a file by path: a custom libavformat I/O context
// whose read and seek callbacks pull every byte the demultiplexer wants from a ByteSource. Each
// decoder owns one, so the binding to the source and the read position belong to that decoder
// alone, and a new decoder always starts reading at position 0.
//
// Threads: the callbacks run on whichever thread calls into libavformat for the owning decoder
// (the GUI thread while it opens, the worker while it plays); the decoder's own lock keeps those
// calls from overlapping, so the position needs no lock of its own.
class FfdiskIo {
public:
    // source may be null: every read then reports the end of the data.
    explicit FfdiskIo(ByteSource *source, int bufferSize = 32768);
    ~FfdiskIo();

    FfdiskIo(const FfdiskIo &) = delete;
    FfdiskIo &operator=(const FfdiskIo &) = delete;

    // The I/O context to hang on AVFormatContext::pb (with AVFMT_FLAG_CUSTOM_IO); owned here and
    // valid until this object is destroyed, which must happen after the input is closed.
    AVIOContext *context() const { return m_Context.get(); }

    // The callbacks' bodies.
    // Reads up to size bytes at the position and advances it by the count read. The end of the
    // data (or no source) is AVERROR_EOF, which libavformat needs to stop; a failed source read
    // is AVERROR(EIO) and leaves the position where it was, so a retry reads the same bytes.
    int read(uint8_t *buffer, int size);
    // whence 0 (SEEK_SET): position = offset, returns it. 1 (SEEK_CUR): returns 0 and moves
    // nothing. 2 (SEEK_END): returns offset + the source size, moves nothing. Anything else,
    // AVSEEK_SIZE included, returns -1 (libavformat then asks SEEK_END with -1 for the size).
    // AVSEEK_FORCE is ignored.
    int64_t seek(int64_t offset, int whence);

    int64_t position() const { return m_Position; }

private:
    static int readCallback(void *opaque, uint8_t *buffer, int size);
    static int64_t seekCallback(void *opaque, int64_t offset, int whence);

    ByteSource *m_Source = nullptr;   // not owned
    int64_t m_Position = 0;           // offset of the next read in the source
    AvioContextPtr m_Context;
};
