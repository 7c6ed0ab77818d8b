#pragma once

#include "access/ifileaccess.h"
#include "access/video.h"
#include "access/videodriver.h"
#include "tests/common/enginerun.h"

#include <QByteArray>
#include <QMutex>
#include <QStringList>

#include <algorithm>
#include <utility>
#include <vector>

// Observers for the data access tests: a driver that records what it is asked and serves a
// patterned source from memory, a listener that records what a driver reports, the smallest Video
// that can be constructed.

// Bytes offset .. offset + count of every patterned test source.
inline QByteArray patternBytes(qint64 offset, qint64 count)
{
    QByteArray bytes;
    for (qint64 i = offset; i < offset + count; ++i)
        bytes.append(char((i * 7 + 3) & 0xFF));
    return bytes;
}

// Opens any name but "missing"; the source is 1000 bytes long.
struct RecordingDriver : VideoDriver {
    QStringList opened;                // names, in order
    std::vector<qint64> closed;        // handles
    QStringList events;                // "started 5", "paused 5", "read 5 100 10"
    qint64 nextHandle = 100;
    bool available = true;

    void reset()
    {
        opened.clear();
        closed.clear();
        events.clear();
    }

    qint64 open(const char *name) override
    {
        opened << QString::fromUtf8(name);
        return opened.last() == QLatin1String("missing") ? 0 : nextHandle++;
    }
    void close(qint64 handle) override { closed.push_back(handle); }
    void paused(qint64 handle) override { events << QString("paused %1").arg(handle); }
    void started(qint64 handle) override { events << QString("started %1").arg(handle); }
    bool isAvailable(qint64, qint64, qint64) override { return available; }
    qint64 read(qint64 handle, char *buffer, qint64 offset, qint64 size) override
    {
        events << QString("read %1 %2 %3").arg(handle).arg(offset).arg(size);
        const QByteArray bytes = patternBytes(offset, qBound<qint64>(0, 1000 - offset, size));
        std::copy(bytes.begin(), bytes.end(), buffer);
        return bytes.size();
    }
    qint64 size(qint64) override { return 1000; }
    qint64 pendingSize(qint64) override { return 0; }
    qint64 sourceState(qint64 handle) override { return handle + 1; }
};

// readBlock() comes from the GUI thread while a clip opens and from the decoder's worker while it
// plays: the events are under m_Mutex.
class RecordingListener : public IFileAccess {
public:
    void readBlock(qint64 offset, qint64 size) override { add(QString("read %1 %2").arg(offset).arg(size)); }
    void fileOpened(qint64 size) override { add(QString("opened %1").arg(size)); }
    QStringList events()   // "opened 3000", "read 1000 4096"
    {
        QMutexLocker lock(&m_Mutex);
        return std::exchange(m_Events, {});
    }

private:
    void add(const QString &event)
    {
        QMutexLocker lock(&m_Mutex);
        m_Events << event;
    }
    QMutex m_Mutex;
    QStringList m_Events;
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

// Takes every picture and sound block as they come until ended() holds or the deadline passes.
inline std::vector<testsupport::Picture> drainUntil(DecoderAgent *agent, const std::function<bool()> &ended,
                                                    int timeoutMs = 60000)
{
    std::vector<testsupport::Picture> pictures;
    testsupport::waitFor([&] { return testsupport::takeQueued(*agent, &pictures) >= 0 && ended(); }, timeoutMs);
    testsupport::takeQueued(*agent, &pictures);
    return pictures;
}
