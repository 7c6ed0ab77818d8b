#include "ffdiskio.h"

#include "bytesource.h"

#include <cerrno>
#include <cstdio>

FfdiskIo::FfdiskIo(ByteSource *source, int bufferSize)
    : m_Source(source)
{
    auto *buffer = static_cast<unsigned char *>(av_malloc(bufferSize));
    if (!buffer)
        return;
    AVIOContext *context = avio_alloc_context(buffer, bufferSize, 0, this, &FfdiskIo::readCallback,
                                              nullptr, &FfdiskIo::seekCallback);
    if (!context) {
        av_free(buffer);
        return;
    }
    m_Context.reset(context);
}

FfdiskIo::~FfdiskIo() = default;

int FfdiskIo::read(uint8_t *buffer, int size)
{
    if (!m_Source)
        return AVERROR_EOF;
    const qint64 count = m_Source->read(reinterpret_cast<char *>(buffer), m_Position, size);
    if (count < 0)
        return AVERROR(EIO);
    if (count == 0)
        return AVERROR_EOF;
    m_Position += count;
    return static_cast<int>(count);
}

int64_t FfdiskIo::seek(int64_t offset, int whence)
{
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        m_Position = offset;
        return offset;
    case SEEK_CUR:
        return 0;
    case SEEK_END:
        if (!m_Source)
            return -1;
        return offset + m_Source->sourceSize();
    default:
        return -1;
    }
}

int FfdiskIo::readCallback(void *opaque, uint8_t *buffer, int size)
{
    return static_cast<FfdiskIo *>(opaque)->read(buffer, size);
}

int64_t FfdiskIo::seekCallback(void *opaque, int64_t offset, int whence)
{
    return static_cast<FfdiskIo *>(opaque)->seek(offset, whence);
}
