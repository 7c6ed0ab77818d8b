#pragma once

#include "access/ifileaccess.h"
#include "access/video.h"
#include "access/videodriver.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Observers for the data access tests: a driver that records what it is asked and serves a
// patterned source from memory, a listener that records what a driver reports, and the smallest
// Video that can be constructed.

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

struct RecordingListener : IFileAccess {
    QStringList events;   // "opened 3000", "read 1000 4096"
    void readBlock(qint64 offset, qint64 size) override
    {
        events << QString("read %1 %2").arg(offset).arg(size);
    }
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
