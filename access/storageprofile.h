#pragma once

#include <QString>
#include <QtGlobal>

// The kind of storage a file driver makes a clip seem to lie on, and what each read costs there.
// The clip is always read from the local file; a slower profile only adds a wait before each read,
// so that the cost of a container's read pattern (how often the demultiplexer jumps, how many
// separate requests it makes, how many bytes it pulls in) shows on storage that punishes it:
//
// - local disk: no added delay (the start);
// - hard disk: 8 ms for every read that does not start where the previous one of the same source
//   ended (the head has to move; the first read of a source counts as such a jump), plus the
//   bytes at 100 MB/s;
// - network share: 2 ms for every read (one request each), plus the bytes at 10 MB/s.
//
// A value type with no clock and no state beyond which profile it is: the driver holds the active
// one and asks it for the delay of each read; the storage key turns to the next one.
class StorageProfile {
public:
    enum class Kind { LocalDisk, HardDisk, NetworkShare };

    // Where the previous read ended when there was none yet.
    static constexpr qint64 NoPreviousRead = -1;

    constexpr StorageProfile(Kind kind = Kind::LocalDisk) : m_Kind(kind) {}

    Kind kind() const { return m_Kind; }
    // Local disk -> hard disk -> network share -> local disk.
    StorageProfile next() const;

    // "local disk", "hard disk", "network share".
    QString name() const;
    // The name with what a read costs: "hard disk (8 ms per seek, 100 MB/s)".
    QString label() const;

    // Added wait for a jump of the head (hard disk) and for each request (network share), in
    // microseconds, and the throughput in bytes a second (0: not limited).
    qint64 seekUs() const;
    qint64 requestUs() const;
    qint64 bytesPerSecond() const;

    // Microseconds to wait before reading `bytes` at `offset` when the previous read of the same
    // source ended at `previousEnd` (NoPreviousRead before the first). A negative count costs no
    // transfer time.
    qint64 delayUs(qint64 offset, qint64 bytes, qint64 previousEnd) const;

    bool operator==(const StorageProfile &other) const { return m_Kind == other.m_Kind; }
    bool operator!=(const StorageProfile &other) const { return m_Kind != other.m_Kind; }

private:
    Kind m_Kind;
};
