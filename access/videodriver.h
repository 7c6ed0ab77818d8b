#pragma once

#include <QObject>
#include <QtGlobal>

class IFileAccess;

// A data source reached by name: open() hands out an opaque 64-bit handle (0 = no source) that
// every later call takes. Drivers are registered by URL scheme with a VideoEngine and used by
// Video, which passes only a handle it got from open() and only while that handle is nonzero.
// Implementations should still treat a handle of 0 as "no source" and answer with a neutral value.
//
// Threads: open() and close() run on the GUI thread; read(), size() and isAvailable() on the thread
// that calls into libavformat. A driver has no lock of its own; m_Listener is set once by the
// owner right after construction and only read afterwards.
class VideoDriver {
public:
    VideoDriver() = default;
    // Deleting a driver through this interface must reach the real driver.
    virtual ~VideoDriver() = default;

    VideoDriver(const VideoDriver &) = delete;
    VideoDriver &operator=(const VideoDriver &) = delete;

    // Opens the named source (8-bit text, UTF-8). Returns its handle, 0 when it cannot be opened.
    virtual qint64 open(const char *name) = 0;
    virtual void close(qint64 handle) = 0;
    // Playback of the source was paused / started.
    virtual void paused(qint64 handle) = 0;
    virtual void started(qint64 handle) = 0;
    // Whether the byte range can be read now.
    virtual bool isAvailable(qint64 handle, qint64 offset, qint64 size) = 0;
    // Reads up to size bytes at offset: the count read, 0 at the end, -1 on error.
    virtual qint64 read(qint64 handle, char *buffer, qint64 offset, qint64 size) = 0;
    // Size of the source in bytes.
    virtual qint64 size(qint64 handle) = 0;
    // Size the source will have once complete; a local file is complete already.
    virtual qint64 totalSize(qint64 handle);
    // Bytes still to arrive.
    virtual qint64 pendingSize(qint64 handle) = 0;
    virtual qint64 sourceState(qint64 handle);

    // Told about every open and read; not owned, may be null.
    IFileAccess *m_Listener = nullptr;
};

// Lets qobject_cast<VideoDriver *>() find the driver part of a driver that is also a QObject.
Q_DECLARE_INTERFACE(VideoDriver, "seekmark.VideoDriver")
