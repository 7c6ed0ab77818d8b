#pragma once

#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QtGlobal>

// The bookkeeping behind the file access view: where the decoder reads, how far apart its reads
// are, and how many distinct 128 KiB blocks it touches while the clip opens and in each interval
// of playback. Nothing is cleared when a new clip opens: lists, counts and texts carry over.
//
// Threads: readBlock() arrives on whichever thread reads the file (the GUI thread while a clip
// opens, the decoder thread while it plays); everything else comes from the GUI thread. Every
// field is guarded by m_Mutex; painting works on a snapshot copied under it.
class FileAccessBook {
public:
    static constexpr qint64 BlockSize = 131072;
    // Distances kept for the average.
    static constexpr int MaxDistances = 30;

    // Everything the view paints, copied at one instant.
    struct Snapshot {
        qint64 fileSize = 0;
        qint64 currentOffset = 0;
        qint64 previousOffset = 0;
        double averageDistance = 0.0;
        qint64 dataOffset = 0;
        qint64 openingBlocks = 0;
        QList<qint64> distances;
        QList<int> intervalBlocks;
        QList<int> openingBlockList;
        QList<int> history;
        bool opened = false;
        int currentBlocks = 0;
        int maxBlocks = 0;
        qint64 timeSeconds = 0;
        qint64 requestSeconds = 0;
        QString timeText;
        QString requestText;
        // Reads that failed or came back short because the file was cut short under the reader,
        // and the last of them.
        int failedReads = 0;
        qint64 failedOffset = 0;
        qint64 failedSize = 0;
        qint64 failedGot = 0;
        // The storage the driver makes the file seem to lie on, as StorageProfile::label() gives
        // it; empty until set.
        QString storage;

        // The mean read distance in KiB, six significant digits ("488.281").
        QString averageText() const;
        // "<dataOffset KiB> OB:<n> CB:<n> MBA:<n> TIME:<hh:mm:ss> REQ:<hh:mm:ss>"
        QString statusLine() const;
        // "READ FAILED <n>x, last at <offset KiB> KiB: <got> of <size> bytes" ("error" for a got of
        // -1); empty while no read has failed.
        QString failureText() const;
        // "STORAGE: <storage>"; empty while no storage is set.
        QString storageText() const;
    };

    // Block number of a file offset; the first block is number 1.
    static qint64 blockNumber(qint64 offset);
    // seconds as the time of day that many seconds after midnight, "hh:mm:ss", wrapping at 24 h.
    static QString clockText(qint64 seconds);

    void fileOpened(qint64 size);
    // Records one read and returns its block number.
    qint64 readBlock(qint64 offset);
    void setDataOffset(qint64 offset);
    // Freezes the count of blocks read while opening.
    void setOpened();
    void setTime(qint64 seconds);
    void setRequestTime(qint64 seconds);
    // The next read starts the distance average afresh; the average keeps its value until then.
    void clearDistances();
    // Records a read that failed or came back short (see IFileAccess::readFailed).
    void readFailed(qint64 offset, qint64 size, qint64 got);
    void setStorage(const QString &label);
    // Closes the current interval into the history; returns its distinct block count.
    int tick();

    Snapshot snapshot() const;

private:
    mutable QMutex m_Mutex;
    Snapshot m_State;
    // Membership of the two block lists, so a long opening (every block of a large file) stays
    // linear. They mirror m_State.intervalBlocks and m_State.openingBlockList.
    QSet<int> m_IntervalSet;
    QSet<int> m_OpeningSet;
};
