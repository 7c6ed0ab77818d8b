#pragma once

#include "videodriver.h"

#include "storageprofile.h"

#include <QObject>

#include <atomic>

class QFile;

// Driver for local files. The handle it hands out is the address of the QFile it opened for the
// source, so the driver keeps no table: close() deletes the file object behind the handle. Every
// open and read is reported to m_Listener (the file access view in seekmark) before it happens. A
// read that fails, or ends short of the largest size the file has been seen to have (the file was
// cut short while open), is reported after it to m_Listener's readFailed() and in a WARN line of
// the "access" log channel.
//
// It can make the file seem to lie on slower storage (StorageProfile): each read then waits the
// profile's delay after the listener has been told and before the bytes are read, so the view
// shows where the decoder is waiting. Each source remembers where its last read ended, which tells
// a jump of a hard disk's head from reading on.
//
// Threads: open() and close() on the GUI thread; read() and size() on the thread that calls into
// libavformat, and the listener is called there. One source is read by one thread at a time (the
// decoder's lock serialises them), so the QFile needs no lock of its own. The storage profile is
// set on the GUI thread and read by the reading thread: it is an atomic, and a change applies from
// the next read on.
class FileVideoDriver : public QObject, public VideoDriver {
    Q_OBJECT
    Q_INTERFACES(VideoDriver)
public:
    explicit FileVideoDriver(QObject *parent = nullptr);

    // name is UTF-8, as Video passes it.
    qint64 open(const char *name) override;
    void close(qint64 handle) override;
    void paused(qint64 handle) override;
    void started(qint64 handle) override;
    // A local file is all there; false only for the "no source" handle 0.
    bool isAvailable(qint64 handle, qint64 offset, qint64 size) override;
    // The count read, 0 at or past the end, -1 on a read error, a bad offset or handle 0. A read
    // that fails or comes back short of the size last seen is reported (see above).
    qint64 read(qint64 handle, char *buffer, qint64 offset, qint64 size) override;
    qint64 size(qint64 handle) override;
    qint64 pendingSize(qint64 handle) override;

    // The storage the files seem to lie on; local disk (no added delay) until set.
    void setStorageProfile(StorageProfile profile);
    StorageProfile storageProfile() const;
    // Microseconds of waiting the storage profiles have added to reads so far, as modelled (the
    // sleeps themselves may run a little longer).
    qint64 storageWaitUs() const;

private:
    static QFile *fileOf(qint64 handle);

    std::atomic<StorageProfile::Kind> m_Storage{StorageProfile::Kind::LocalDisk};
    std::atomic<qint64> m_StorageWaitUs{0};
};
