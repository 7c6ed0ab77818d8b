#pragma once

#include <QtGlobal>

// Listener told about every open and read that a driver makes, so that a view can draw where the
// decoder reads. A driver calls it on the thread that made the request (the GUI thread while a
// clip opens, the decoder thread while it plays): an implementation that is a widget must hand the
// values over to its own thread itself.
class IFileAccess {
public:
    virtual ~IFileAccess() = default;
    // A driver is about to read size bytes at offset (size as requested, not as read).
    virtual void readBlock(qint64 offset, qint64 size) = 0;
    // A driver has opened a source of size bytes.
    virtual void fileOpened(qint64 size) = 0;
    // A read came back with fewer bytes than the source held when it was last seen whole (the file
    // was cut short under the reader), or failed: got is the count read, -1 for an error. Called
    // after the read, on the same thread as readBlock(). Listeners that do not care ignore it.
    virtual void readFailed(qint64 offset, qint64 size, qint64 got)
    {
        Q_UNUSED(offset);
        Q_UNUSED(size);
        Q_UNUSED(got);
    }
};
