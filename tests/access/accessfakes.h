#pragma once

#include "access/ifileaccess.h"
#include "access/video.h"
#include "access/videodriver.h"
#include "tests/common/enginerun.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

// Observers for the data access tests: a driver that records what it is asked and serves a
// patterned source from memory, listeners that record what a driver reports, the smallest Video
// that can be constructed, and a loop that plays a decoder to its end.

// Byte i of every patterned test source.
inline char patternByte(qint64 i)
{
    return char((i * 7 + 3) & 0xFF);
}

inline QByteArray patternBytes(qint64 offset, qint64 count)
{
    QByteArray bytes;
    for (qint64 i = 0; i < count; ++i)
        bytes.append(patternByte(offset + i));
    return bytes;
}

// Opens any name but "missing"; the source is sourceBytes long.
struct RecordingDriver : VideoDriver {
    QStringList opened;        // names, in order
    QList<qint64> closed;      // handles
    QStringList events;        // "started 5", "paused 5", "read 5 100 10"
    qint64 nextHandle = 100;
    qint64 sourceBytes = 1000;
    bool available = true;

    qint64 open(const char *name) override
    {
        opened << QString::fromUtf8(name);
        return opened.last() == QLatin1String("missing") ? 0 : nextHandle++;
    }
    void close(qint64 handle) override { closed << handle; }
    void paused(qint64 handle) override { events << QString("paused %1").arg(handle); }
    void started(qint64 handle) override { events << QString("started %1").arg(handle); }
    bool isAvailable(qint64, qint64, qint64) override { return available; }
    qint64 read(qint64 handle, char *buffer, qint64 offset, qint64 size) override
    {
        events << QString("read %1 %2 %3").arg(handle).arg(offset).arg(size);
        const qint64 count = qBound<qint64>(0, sourceBytes - offset, size);
        for (qint64 i = 0; i < count; ++i)
            buffer[i] = patternByte(offset + i);
        return count;
    }
    qint64 size(qint64) override { return sourceBytes; }
    qint64 pendingSize(qint64) override { return 0; }
    qint64 sourceState(qint64 handle) override { return handle + 1; }
};

// Single-threaded.
struct RecordingListener : IFileAccess {
    QStringList events;   // "opened 3000", "read 1000 4096"
    void readBlock(qint64 offset, qint64 size) override { events << QString("read %1 %2").arg(offset).arg(size); }
    void fileOpened(qint64 size) override { events << QString("opened %1").arg(size); }
};

class TestVideo : public Video {
public:
    using Video::Video;
    bool open() override { return m_Opened; }
    int width() override { return 0; }
    int height() override { return 0; }
    PixelPacket *nextPicture() override { return nullptr; }
    void setVolume(int) override {}
    int volume() override { return 0; }
    qint64 positionMs() override { return 0; }
    qint64 position() override { return 0; }
    void seek(int) override {}
    qint64 durationMs() override { return 0; }
    qint64 duration() override { return 0; }
};

// readBlock() comes from the GUI thread while a clip opens and from the decoder's worker while it
// plays: everything is under m_Mutex.
class ByteRangeListener : public IFileAccess {
public:
    void readBlock(qint64 offset, qint64 size) override
    {
        QMutexLocker lock(&m_Mutex);
        m_Reads.emplace_back(offset, size);
    }
    void fileOpened(qint64 size) override
    {
        QMutexLocker lock(&m_Mutex);
        m_Opened.push_back(size);
    }
    std::vector<std::pair<qint64, qint64>> reads()
    {
        QMutexLocker lock(&m_Mutex);
        return m_Reads;
    }
    std::vector<qint64> opened()
    {
        QMutexLocker lock(&m_Mutex);
        return m_Opened;
    }

private:
    QMutex m_Mutex;
    std::vector<std::pair<qint64, qint64>> m_Reads;   // (offset, requested size)
    std::vector<qint64> m_Opened;
};

// Takes every picture and sound block as they come until ended() holds or the deadline passes.
inline std::vector<testsupport::Picture> drainUntil(DecoderAgent *agent, const std::function<bool()> &ended,
                                                    int timeoutMs = 60000)
{
    std::vector<testsupport::Picture> pictures;
    testsupport::waitFor(
        [&] {
            testsupport::takeQueued(*agent, &pictures);
            return ended();
        },
        timeoutMs);
    testsupport::takeQueued(*agent, &pictures);
    return pictures;
}
