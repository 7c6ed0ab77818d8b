#pragma once

// Shared pieces of the tests that play real clips through the data access layer: a listener that
// records every read a driver reports (from any thread), decoder options without the worker's
// sleeps, SDL's dummy audio driver, and a loop that plays a decoder to its end while taking every
// picture and sound block off its queues.

#include "access/ifileaccess.h"
#include "engine/audiopacket.h"
#include "engine/decoderagent.h"
#include "engine/engineoptions.h"
#include "engine/pixelpacket.h"
#include "engine/videoagent.h"
#include "tests/common/framenumber.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

#include <functional>
#include <utility>
#include <vector>

namespace playbacktest {

// Records what a driver reports. readBlock() comes from the GUI thread while a clip opens and
// from the decoder's worker while it plays, so everything is under one lock.
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

// The player's options with the worker's sleeps taken out, so a clip plays at decoding speed.
inline EngineOptions fastSeekmark()
{
    EngineOptions options = EngineOptions::seekmark();
    options.afterWorkMs = 0;
    options.idleWaitMs = 0;
    options.afterIdleMs = 1;
    options.pausedMs = 5;
    options.logChannels = false;
    return options;
}

// This machine has no sound card: the audio output needs SDL's dummy driver, which still calls
// back in real time (the clock and the seek acknowledgement depend on decoded sound).
inline void useDummyAudio()
{
    if (!qEnvironmentVariableIsSet("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "dummy");
}

// Polls, processing events, until the condition holds or the deadline passes.
inline bool waitFor(const std::function<bool()> &condition, int timeoutMs = 30000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

struct Picture {
    int number;    // read back from the pixels; -1 when unreadable
    double time;   // presentation time, seconds
    bool operator==(const Picture &o) const { return number == o.number && time == o.time; }
};

// Takes every picture and sound block off the decoder's queues as they come, until ended() holds
// (processing events, so queued signals arrive) or the deadline passes. Taking the sound here too
// keeps the audio queue from pacing the worker at real time.
inline std::vector<Picture> drainUntil(DecoderAgent *agent, const std::function<bool()> &ended,
                                       int timeoutMs = 60000)
{
    std::vector<Picture> pictures;
    VideoAgent *scheduler = agent->videoAgent();
    auto drain = [&] {
        while (auto *picture = static_cast<PixelPacket *>(scheduler->pictures().take())) {
            pictures.push_back({testsupport::readFrameNumber(picture->m_Buffer, scheduler->width(),
                                                             scheduler->height()),
                                picture->m_Time});
            delete picture;
        }
        while (DataPacket *block = agent->audioQueue().take())
            delete block;
    };
    QDeadlineTimer deadline(timeoutMs);
    while (!ended() && !deadline.hasExpired()) {
        drain();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    drain();
    return pictures;
}

} // namespace playbacktest
