#pragma once

// Running the real engine in tests: options without the worker's sleeps, SDL's dummy audio, a
// deadline scaled for sanitizer builds, and taking what comes out of a decoder's queues.
// Header only: test binaries that include it link the engine; test_support itself does not.

#include "engine/dataqueue.h"
#include "engine/decoderagent.h"
#include "engine/engineoptions.h"
#include "engine/pixelpacket.h"
#include "engine/videoagent.h"
#include "tests/common/framenumber.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <functional>
#include <vector>

namespace testsupport {

// Sanitizer builds run two to three times slower: every deadline is multiplied by this.
inline int slowdown()
{
#ifdef SEEKMARK_SANITIZE_BUILD
    return 3;
#else
    return 1;
#endif
}

// The programs' options with the worker's sleeps taken out, so a clip decodes at machine speed.
// Without the per-channel and per-picture debug lines, which would print thousands of lines.
inline EngineOptions fastSeekmark()
{
    EngineOptions options = EngineOptions::seekmark();
    options.afterWorkMs = options.idleWaitMs = 0;
    options.afterIdleMs = 1;
    options.pausedMs = 5;
    options.logChannels = false;
    return options;
}

inline EngineOptions fastFramewise()
{
    EngineOptions options = EngineOptions::framewise();
    options.afterWorkMs = 0;
    options.afterIdleMs = 1;
    options.pausedMs = 5;
    options.pictureDebugLines = false;
    return options;
}

// The machine has no sound card; the dummy driver still calls back in real time, which the clock
// and the seek acknowledgement depend on.
inline void useDummyAudio()
{
    if (!qEnvironmentVariableIsSet("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "dummy");
}

// Polls, processing events (queued signals), until the condition holds or the deadline passes.
inline bool waitFor(const std::function<bool()> &condition, int timeoutMs = 30000)
{
    for (QDeadlineTimer deadline(static_cast<qint64>(timeoutMs) * slowdown()); !condition(); QThread::msleep(1)) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

struct Picture {
    int number;    // read back from the pixels; -1 when unreadable
    double time;   // presentation time, seconds
    bool operator==(const Picture &o) const { return number == o.number && time == o.time; }
};

// Takes every waiting picture (appending it to pictures when given) and sound block; returns the
// number of pictures taken. Taking the sound too keeps the audio queue from pacing the worker.
inline int takeQueued(DecoderAgent &agent, std::vector<Picture> *pictures = nullptr)
{
    int taken = 0;
    VideoAgent *scheduler = agent.videoAgent();
    for (PixelPacket *picture; scheduler && (picture = scheduler->takePicture()); ++taken) {
        if (pictures)
            pictures->push_back({readFrameNumber(picture->m_Buffer, scheduler->width(), scheduler->height()), picture->m_Time});
        delete picture;
    }
    while (DataPacket *block = agent.audioQueue().take())
        delete block;
    return taken;
}

} // namespace testsupport
