#pragma once

// Shared pieces of the engine tests: a byte source over a plain file, full-speed decoder options,
// and loops that take what a running decoder queues. All on the test's thread, except
// FileByteSource::read (the decoder's worker: atomic counters).

#include "engine/audiopacket.h"
#include "engine/bytesource.h"
#include "engine/decoderagent.h"
#include "engine/engineoptions.h"
#include "tests/common/enginerun.h"
#include "tests/common/messagelog.h"
#include "tests/common/testclips.h"

#include <QFile>

#include <atomic>

namespace enginetest {

using testsupport::clipPath;
using testsupport::MessageLog;
using testsupport::waitFor;

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

    std::atomic<qint64> reads{0}, bytesRead{0}, firstOffset{-1};
    std::atomic<bool> failReads{false};   // every read reports a driver failure (-1)
    std::atomic<int> delayMs{0};          // every read waits this long first (slow storage)

private:
    QFile m_File;
};

// The programs' options with the worker's sleeps taken out, so a clip decodes at full speed.
inline EngineOptions fast(EngineOptions options)
{
    options.afterWorkMs = options.idleWaitMs = 0;
    options.afterIdleMs = 1;
    options.pausedMs = 5;
    return options;
}

// Lets queued events and the worker run for a while, for checks that something does NOT happen.
inline void settle(int ms)
{
    waitFor([] { return false; }, ms);
}

// Waits for a queued picture, throwing sound away meanwhile so a full audio queue does not hold
// the reading up, and takes it: its frame number, -3 on timeout.
inline int nextNumber(DecoderAgent &decoder, double *time = nullptr)
{
    auto &pictures = decoder.videoAgent()->pictures();
    if (!waitFor([&] { return decoder.audioQueue().flush(), !pictures.isEmpty(); }))
        return -3;
    auto *picture = static_cast<PixelPacket *>(pictures.take());
    const int number = testsupport::readFrameNumber(picture->m_Buffer, decoder.videoWidth(), decoder.videoHeight());
    if (time)
        *time = picture->m_Time;
    delete picture;
    return number;
}

struct Decoded {
    std::vector<testsupport::Picture> pictures;
    std::vector<std::pair<double, int>> audio;   // each block's stamp (stream time base) and bytes
    double audioSumSquares = 0.0;                 // over every 16-bit sample of every block
    qint64 audioSamples = 0;                      // 16-bit samples (all channels)
    int videoEnds = 0;
};

// Starts only the decoder's worker (its audio device stays paused, so every sound block reaches
// the test) and takes pictures and sound as they come, until videoEnd() (decoders that stop at
// the end), `pictures` pictures (decoders that keep polling), or nothing came for 10 s.
inline Decoded decodeAll(DecoderAgent &decoder, int pictures)
{
    Decoded result;
    QObject context;
    QObject::connect(&decoder, &DecoderAgent::videoEnd, &context, [&result] { ++result.videoEnds; });
    auto drain = [&] {
        for (auto *p = static_cast<PixelPacket *>(decoder.videoAgent()->pictures().take()); p;
             delete p, p = static_cast<PixelPacket *>(decoder.videoAgent()->pictures().take()))
            result.pictures.push_back(
                {testsupport::readFrameNumber(p->m_Buffer, decoder.videoWidth(), decoder.videoHeight()), p->m_Time});
        while (auto *block = static_cast<AudioPacket *>(decoder.audioQueue().take())) {
            result.audio.push_back({block->m_Pts, block->m_Size});
            const auto *samples = reinterpret_cast<const int16_t *>(block->m_Buffer);
            for (int i = 0; i < block->m_Size / 2; ++i)
                result.audioSumSquares += static_cast<double>(samples[i]) * samples[i];
            result.audioSamples += block->m_Size / 2;
            delete block;
        }
        return result.videoEnds > 0 || (!decoder.options().stopAtEnd && int(result.pictures.size()) >= pictures);
    };
    decoder.JobThread::start();
    for (bool done = false; !done;) {
        const size_t seen = result.pictures.size();
        done = !waitFor([&] { return drain() || result.pictures.size() != seen; }, 10000) || drain();
    }
    return result;
}

} // namespace enginetest
