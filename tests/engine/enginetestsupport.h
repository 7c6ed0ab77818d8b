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

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <atomic>

namespace enginetest {

using testsupport::clipPath;
using testsupport::waitFor;

// Reads a file for the decoder's byte path and counts the reads.
class FileByteSource : public ByteSource {
public:
    explicit FileByteSource(const QString &path) : m_File(path) { m_File.open(QIODevice::ReadOnly); }
    qint64 read(char *buffer, qint64 offset, qint64 size) override
    {
        if (failReads.load() || !m_File.isOpen() || offset < 0 || !m_File.seek(offset))
            return -1;
        reads.fetch_add(1);
        return m_File.read(buffer, size);
    }
    qint64 sourceSize() override { return m_File.isOpen() ? m_File.size() : 0; }

    std::atomic<qint64> reads{0};
    std::atomic<bool> failReads{false};   // every read reports a driver failure (-1)

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

// A clip the corpus does not need (too long for the hostile cuts of every corpus clip), made once
// with the ffmpeg tool into the build folder: ffmpegArgs (shell words; the generators'
// framenumber_filter is at hand) write it to %1.
inline QString cachedClip(const QString &name, const QString &ffmpegArgs)
{
    const QString dir = QCoreApplication::applicationDirPath() + "/engine-clips", path = dir + "/" + name;
    QDir().mkpath(dir);
    if (!QFileInfo::exists(path))
        QProcess::execute("bash", {"-c", QString("source '%1/clips/framenumber_filter.sh' && ffmpeg -nostdin -loglevel error -y %2"
                                                 " && mv -f '%3.partial' '%3'")
                                             .arg(testsupport::testsSourceDir(), ffmpegArgs.arg("'" + path + ".partial'"), path)});
    return path;
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
    PixelPacket *picture = nullptr;
    if (!waitFor([&] { return decoder.audioQueue().flush(), (picture = decoder.videoAgent()->takePicture()) != nullptr; }))
        return -3;
    const int number = testsupport::readFrameNumber(picture->m_Buffer, decoder.videoWidth(), decoder.videoHeight());
    if (time)
        *time = picture->m_Time;
    delete picture;
    return number;
}

} // namespace enginetest
