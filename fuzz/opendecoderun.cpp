#include "opendecoderun.h"

#include "engine/audiopacket.h"
#include "engine/bytesource.h"
#include "engine/decoderagent.h"
#include "engine/videoagent.h"

#include <QObject>

#include <algorithm>
#include <cstring>

namespace {

// The input held in memory, read as a file driver reads: the count, 0 at or past the end, -1 for
// a negative offset or size. The bytes never change, so any thread may read them.
class MemoryByteSource : public ByteSource {
public:
    MemoryByteSource(const uint8_t *data, size_t size) : m_Data(data), m_Size(data ? qint64(size) : 0) {}
    qint64 read(char *buffer, qint64 offset, qint64 size) override
    {
        if (offset < 0 || size < 0 || !buffer)
            return -1;
        if (offset >= m_Size)
            return 0;
        const qint64 count = std::min(size, m_Size - offset);
        std::memcpy(buffer, m_Data + offset, size_t(count));
        return count;
    }
    qint64 sourceSize() override { return m_Size; }

private:
    const uint8_t *m_Data;
    const qint64 m_Size;
};

// The decoder with its worker's single step in reach: the run calls it itself instead of starting
// the worker thread.
class SteppedDecoder : public DecoderAgent {
public:
    using DecoderAgent::DecoderAgent;
    using DecoderAgent::step;
};

} // namespace

OpenDecodeRun::Result OpenDecodeRun::run(const uint8_t *data, size_t size)
{
    Result result;
    MemoryByteSource source(data, size);
    EngineOptions options = EngineOptions::seekmark();
    options.logChannels = false;
    SteppedDecoder decoder(&source, options);
    if (!decoder.open())
        return result;
    result.opened = true;

    // What the player asks right after opening.
    (void)decoder.durationMs();
    (void)decoder.frameRate();
    (void)decoder.aspectRatio();
    (void)decoder.dataOffset();
    (void)decoder.hasBFrames();

    QObject context;
    QObject::connect(&decoder, &DecoderAgent::videoEnd, &context, [&result] { result.ended = true; });

    VideoAgent *video = decoder.videoAgent();
    while (!result.ended && result.steps < maxSteps && result.pictures < maxPictures) {
        decoder.step();
        ++result.steps;

        // The display's request when a picture came: the scheduler compares the oldest picture
        // with the clock, which the position query moves on by 40 ms a call while the worker is
        // not running, one picture interval of 25 a second. Whatever the scheduler leaves queued
        // is freed.
        const int came = video ? video->pictures().count() : 0;
        if (came > 0) {
            result.pictures += came;
            (void)decoder.positionMs();
            decoder.nextPicture();
            while (DataPacket *picture = video->pictures().take())
                delete picture;
        }
        while (DataPacket *block = decoder.audioQueue().take()) {
            delete block;
            ++result.audioBlocks;
        }

        if (!result.seeked && result.pictures >= seekAfterPictures) {
            result.seeked = true;
            decoder.seek(static_cast<int>(std::clamp<qint64>(decoder.duration() / 2, 0, 1 << 20)));
        }
    }
    decoder.close();
    return result;
}
