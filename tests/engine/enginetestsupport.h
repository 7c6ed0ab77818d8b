#pragma once

// Shared pieces of the engine tests: a byte source over a plain file, full-speed decoder options,
// environment and message-handler overrides, and loops that take what a running decoder queues.
// All on the test's thread, except FileByteSource::read (the decoder's worker: atomic counters).

#include "engine/audiopacket.h"
#include "engine/bytesource.h"
#include "engine/decoderagent.h"
#include "engine/engineoptions.h"
#include "engine/pixelpacket.h"
#include "engine/videoagent.h"
#include "tests/common/enginerun.h"
#include "tests/common/framenumber.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <cstring>
#include <functional>
#include <vector>

namespace enginetest {

// Reads a file for the decoder's byte path and counts what was asked of it.
class FileByteSource : public ByteSource {
public:
    explicit FileByteSource(const QString &path) : m_File(path) { m_File.open(QIODevice::ReadOnly); }
    qint64 read(char *buffer, qint64 offset, qint64 size) override
    {
        if (const int delay = delayMs.load())
            QThread::msleep(delay);
        if (failReads.load() || !m_File.isOpen() || offset < 0 || !m_File.seek(offset))
            return -1;
        const qint64 count = m_File.read(buffer, size);
        qint64 none = -1;
        firstOffset.compare_exchange_strong(none, offset);
        reads.fetch_add(1);
        bytesRead.fetch_add(count > 0 ? count : 0);
        return count;
    }
    qint64 sourceSize() override { return m_File.isOpen() ? m_File.size() : 0; }

    std::atomic<qint64> reads{0};
    std::atomic<qint64> bytesRead{0};
    std::atomic<qint64> firstOffset{-1};
    std::atomic<bool> failReads{false};   // every read reports a driver failure (-1)
    std::atomic<int> delayMs{0};          // every read waits this long first (slow storage)

private:
    QFile m_File;
};

// The programs' options with the worker's sleeps taken out, so a clip decodes at full speed.
inline EngineOptions fast(EngineOptions options)
{
    options.afterWorkMs = 0;
    options.idleWaitMs = 0;
    options.afterIdleMs = 1;
    options.pausedMs = 5;
    return options;
}

// Sets an environment variable for the lifetime of the object and restores the old state.
class EnvOverride {
public:
    EnvOverride(const char *name, const QByteArray &value)
        : m_Name(name), m_HadValue(qEnvironmentVariableIsSet(name)), m_Old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~EnvOverride() { m_HadValue ? qputenv(m_Name, m_Old) : qunsetenv(m_Name); }

private:
    const char *m_Name;
    bool m_HadValue;
    QByteArray m_Old;
};

// Collects the messages of at least the given type that reach Qt's message output while it lives.
class MessageCapture {
public:
    explicit MessageCapture(QtMsgType least = QtWarningMsg) : m_Least(least)
    {
        current() = this;
        m_Previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
            // QtInfoMsg sorts after QtFatalMsg in the enum: rank it with debug.
            const auto rank = [](QtMsgType t) { return t == QtInfoMsg ? QtDebugMsg : t; };
            if (current() && rank(type) >= rank(current()->m_Least))
                current()->lines.append(message);
        });
    }
    ~MessageCapture()
    {
        qInstallMessageHandler(m_Previous);
        current() = nullptr;
    }
    QStringList lines;

private:
    static MessageCapture *&current()
    {
        static MessageCapture *capture = nullptr;
        return capture;
    }
    QtMessageHandler m_Previous;
    QtMsgType m_Least;
};

// Polls (processing events) until the condition holds; the deadline grows in sanitizer builds.
using testsupport::waitFor;

// Lets queued events and the worker run for a while, for checks that something does NOT happen.
inline void settle(int ms)
{
    waitFor([] { return false; }, ms);
}

// Takes the oldest queued picture and reads its frame number; -2 when the queue is empty.
inline int takePictureNumber(DecoderAgent &decoder, double *time = nullptr)
{
    VideoAgent *agent = decoder.videoAgent();
    auto *picture = static_cast<PixelPacket *>(agent->pictures().take());
    if (!picture)
        return -2;
    const int number = testsupport::readFrameNumber(picture->m_Buffer, agent->width(), agent->height());
    if (time)
        *time = picture->m_Time;
    delete picture;
    return number;
}

// Waits for a queued picture, throwing sound away meanwhile so a full audio queue does not hold
// the reading up, and takes it; -3 on timeout.
inline int nextNumber(DecoderAgent &decoder, double *time = nullptr)
{
    if (!waitFor([&] {
            decoder.audioQueue().flush();
            return !decoder.videoAgent()->pictures().isEmpty();
        }))
        return -3;
    return takePictureNumber(decoder, time);
}

struct Decoded {
    struct Picture {
        int number;    // read back from the pixels; -1 when unreadable
        double time;   // presentation time in seconds
    };
    struct AudioBlock {
        double pts;    // stream time-base units
        int bytes;
    };
    std::vector<Picture> pictures;
    std::vector<AudioBlock> audio;
    double audioSumSquares = 0.0;   // over every 16-bit sample of every block
    qint64 audioSamples = 0;        // 16-bit samples (all channels)
    int videoEnds = 0;
};

// Starts only the decoder's worker (its audio device stays paused, so every sound block reaches
// the test) and takes pictures and sound as they come, until videoEnd() (decoders that stop at
// the end), `pictures` pictures (decoders that keep polling), or the deadline.
inline Decoded decodeAll(DecoderAgent &decoder, int pictures, int timeoutMs = 60000)
{
    Decoded result;
    QObject context;
    QObject::connect(&decoder, &DecoderAgent::videoEnd, &context, [&result] { ++result.videoEnds; });
    auto drain = [&] {
        double time = 0.0;
        for (int number; (number = takePictureNumber(decoder, &time)) != -2;)
            result.pictures.push_back({number, time});
        while (auto *block = static_cast<AudioPacket *>(decoder.audioQueue().take())) {
            result.audio.push_back({block->m_Pts, block->m_Size});
            for (int i = 0; i < block->m_Size / 2; ++i) {
                int16_t sample;
                std::memcpy(&sample, block->m_Buffer + 2 * i, 2);
                result.audioSumSquares += static_cast<double>(sample) * sample;
            }
            result.audioSamples += block->m_Size / 2;
            delete block;
        }
    };
    decoder.JobThread::start();
    const bool stops = decoder.options().stopAtEnd;
    QDeadlineTimer deadline(timeoutMs);
    // A decoder that keeps polling never says it is done: give up once nothing has come for a
    // long while, so a missing picture fails the test instead of running into the deadline.
    QDeadlineTimer idle(10000);
    size_t seen = 0;
    while (!deadline.hasExpired() && (stops || !idle.hasExpired())) {
        drain();
        QCoreApplication::processEvents();
        if (stops ? result.videoEnds > 0 : static_cast<int>(result.pictures.size()) >= pictures)
            break;
        if (result.pictures.size() != seen) {
            seen = result.pictures.size();
            idle.setRemainingTime(10000);
        }
        QThread::msleep(1);
    }
    drain();
    return result;
}

} // namespace enginetest
