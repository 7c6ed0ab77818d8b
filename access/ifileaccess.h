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
};
