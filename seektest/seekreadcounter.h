#pragma once

#include "access/ifileaccess.h"

#include <QMutex>
#include <QSet>
#include <QtGlobal>

// Counts what the decoder reads from one point on (a seek request, the start of an open): bytes,
// and distinct 128 KiB blocks touched. It listens to the file driver like the access view, so the
// counts come from the same reports; unlike the view it counts every block a read touches, not
// just the block of its first byte, and only the bytes the file holds there (a read asked for past
// the end, or one that came back short, counts what it got).
//
// A count restarted while the decoder thread is inside a read takes that read in: at most one
// buffer of the byte path, which the seek request it marks may well have caused anyway.
//
// Threads: the listener calls arrive on whichever thread reads (the GUI thread while a clip opens
// or seeks, the decoder thread while it plays); restart() and count() come from the GUI thread.
// Every field is guarded by m_Mutex.
class SeekReadCounter : public IFileAccess {
public:
    // The block the access view counts in; the two must agree for their counts to compare.
    static constexpr qint64 BlockSize = 131072;

    struct Count {
        qint64 bytes = 0;
        int blocks = 0;
    };

    // Starts a new count from zero.
    void restart();
    // What was read since the last restart().
    Count count() const;

    void fileOpened(qint64 size) override;
    void readBlock(qint64 offset, qint64 size) override;
    void readFailed(qint64 offset, qint64 size, qint64 got) override;

private:
    // The bytes of a read of size at offset that the file holds.
    qint64 heldBytes(qint64 offset, qint64 size) const;

    mutable QMutex m_Mutex;
    qint64 m_FileSize = -1;   // of the file opened last; -1 before any (no clamp then)
    qint64 m_Bytes = 0;
    QSet<qint64> m_Blocks;
};
