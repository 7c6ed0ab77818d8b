#pragma once

// Shared pieces of the engine tests: a byte source over a plain file, fast decoder options,
// environment overrides for SDL's drivers, and a loop that decodes a clip to its end while
// collecting what comes out of both queues.

#include "engine/bytesource.h"
#include "engine/engineoptions.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <atomic>
#include <functional>
#include <vector>

class DecoderAgent;

namespace enginetest {

// Reads a file for the decoder's byte path and counts what was asked of it.
class FileByteSource : public ByteSource {
public:
    explicit FileByteSource(const QString &path);
    qint64 read(char *buffer, qint64 offset, qint64 size) override;
    qint64 sourceSize() override;

    std::atomic<qint64> reads{0};
    std::atomic<qint64> bytesRead{0};
    std::atomic<qint64> firstOffset{-1};
    std::atomic<bool> failReads{false};   // every read reports a driver failure (-1)

private:
    QFile m_File;
};

// The programs' options with the worker's sleeps taken out, so a clip decodes at full speed.
EngineOptions fast(EngineOptions options);

// Sets an environment variable for the lifetime of the object and restores the old state.
class EnvOverride {
public:
    EnvOverride(const char *name, const QByteArray &value);
    ~EnvOverride();

private:
    const char *m_Name;
    bool m_HadValue;
    QByteArray m_Old;
};

struct Picture {
    int number;   // frame number read back from the pixels; -1 when unreadable
    double time;  // presentation time in seconds
};

struct AudioBlock {
    double pts;   // stream time-base units
    int bytes;
};

struct Decoded {
    std::vector<Picture> pictures;
    std::vector<AudioBlock> audio;
    double audioSumSquares = 0.0;   // over every 16-bit sample of every block
    qint64 audioSamples = 0;        // 16-bit samples (all channels)
    int videoEnds = 0;
};

// Starts the decoder's worker (leaving its audio device paused, so the test sees every sound block), takes
// pictures and sound off the queues as they come, and returns at videoEnd() (decoders that stop
// at the end) or once `pictures` pictures arrived (decoders that keep polling), or at the deadline.
Decoded decodeAll(DecoderAgent &decoder, int pictures, int timeoutMs = 60000);

// Reads the frame numbers of the pictures waiting in the decoder's picture queue, taking them.
int takePictureNumber(DecoderAgent &decoder, double *time = nullptr);

// Polls (processing events) until the condition holds or the deadline passes.
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 30000);

} // namespace enginetest
