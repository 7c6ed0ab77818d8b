#include "enginetestsupport.h"

#include "engine/audiopacket.h"
#include "engine/decoderagent.h"
#include "engine/pixelpacket.h"
#include "engine/videoagent.h"
#include "tests/common/framenumber.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QObject>
#include <QThread>

#include <cstdlib>
#include <cstring>

namespace enginetest {

FileByteSource::FileByteSource(const QString &path)
    : m_File(path)
{
    m_File.open(QIODevice::ReadOnly);
}

qint64 FileByteSource::read(char *buffer, qint64 offset, qint64 size)
{
    if (failReads.load() || !m_File.isOpen() || offset < 0 || !m_File.seek(offset))
        return -1;
    const qint64 count = m_File.read(buffer, size);
    qint64 none = -1;
    firstOffset.compare_exchange_strong(none, offset);
    reads.fetch_add(1);
    if (count > 0)
        bytesRead.fetch_add(count);
    return count;
}

qint64 FileByteSource::sourceSize()
{
    return m_File.isOpen() ? m_File.size() : 0;
}

EngineOptions fast(EngineOptions options)
{
    options.afterWorkMs = 0;
    options.idleWaitMs = 0;
    options.afterIdleMs = 1;
    options.pausedMs = 5;
    return options;
}

EnvOverride::EnvOverride(const char *name, const QByteArray &value)
    : m_Name(name)
    , m_HadValue(qEnvironmentVariableIsSet(name))
    , m_Old(qgetenv(name))
{
    qputenv(name, value);
}

EnvOverride::~EnvOverride()
{
    if (m_HadValue)
        qputenv(m_Name, m_Old);
    else
        qunsetenv(m_Name);
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
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

int takePictureNumber(DecoderAgent &decoder, double *time)
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

Decoded decodeAll(DecoderAgent &decoder, int pictures, int timeoutMs)
{
    Decoded result;
    QObject context;
    QObject::connect(&decoder, &DecoderAgent::videoEnd, &context, [&result] { ++result.videoEnds; });

    auto drainAudio = [&] {
        while (auto *block = static_cast<AudioPacket *>(decoder.audioQueue().take())) {
            result.audio.push_back({block->m_Pts, block->m_Size});
            const int count = block->m_Size / 2;
            for (int i = 0; i < count; ++i) {
                int16_t sample;
                std::memcpy(&sample, block->m_Buffer + 2 * i, 2);
                result.audioSumSquares += static_cast<double>(sample) * sample;
            }
            result.audioSamples += count;
            delete block;
        }
    };
    auto drainPictures = [&] {
        double time = 0.0;
        int number;
        while ((number = takePictureNumber(decoder, &time)) != -2)
            result.pictures.push_back({number, time});
    };

    // Only the worker: the audio device stays paused as opened, so no block goes to it.
    decoder.JobThread::start();
    const bool stops = decoder.options().stopAtEnd;
    QDeadlineTimer deadline(timeoutMs);
    // A decoder that keeps polling never says it is done: give up on it once nothing has come for
    // a long while, so a missing picture fails the test instead of running into the deadline.
    QDeadlineTimer idle(10000);
    size_t seen = 0;
    while (!deadline.hasExpired() && (stops || !idle.hasExpired())) {
        drainPictures();
        drainAudio();
        QCoreApplication::processEvents();
        if (stops ? result.videoEnds > 0 : static_cast<int>(result.pictures.size()) >= pictures)
            break;
        if (result.pictures.size() != seen) {
            seen = result.pictures.size();
            idle.setRemainingTime(10000);
        }
        QThread::msleep(1);
    }
    drainPictures();
    drainAudio();
    return result;
}

} // namespace enginetest
