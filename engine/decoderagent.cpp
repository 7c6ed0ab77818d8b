#include "decoderagent.h"

#include "audioagent.h"
#include "audiopacket.h"
#include "bytesource.h"
#include "ffmpeglog.h"
#include "pixelpacket.h"
#include "schedulerdecision.h"
#include "videoagent.h"

#include "log/logcategory.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <QFile>
#include <QMutexLocker>

#include <algorithm>
#include <limits>

namespace {

struct PacketUnref {
    AVPacket *packet;
    ~PacketUnref() { av_packet_unref(packet); }
};

} // namespace

DecoderAgent::DecoderAgent(ByteSource *source, const EngineOptions &options, QObject *parent)
    : JobThread(parent)
    , m_Source(source)
    , m_Options(options)
    , m_Demuxer([this] { repositioned(); })
    , m_AudioQueue(options.queueChecks)
{
    static_assert(audioQueueCapacity == SoundGate::soundMark, "the gate opens at the audio queue's mark");
    FfmpegLog::install();
    setSleeps(options.afterWorkMs, options.idleWaitMs, options.afterIdleMs, options.pausedMs);
    // Blocks read past the mark for starved pictures are freed as they come back.
    m_AudioQueue.init(audioBufferSize, audioQueueLimit, audioQueueCapacity + 2);
    m_Clock.reset();
}

DecoderAgent::~DecoderAgent()
{
    // The worker must end before any member goes: by the time ~JobThread runs, step() is gone.
    close();
}

bool DecoderAgent::fail(const QString &reason)
{
    if (m_OpenError.isEmpty())
        m_OpenError = reason;
    return false;
}

bool DecoderAgent::open()
{
    close();
    m_OpenError.clear();
    QString error, declaredTooLarge;
    if (m_Demuxer.open(m_Source, error, declaredTooLarge) && openRest(declaredTooLarge))
        return true;
    fail(error);
    close();
    return false;
}

bool DecoderAgent::open(const QString &path)
{
    close();
    m_OpenError.clear();
    QString error, declaredTooLarge;
    if (m_Demuxer.open(QFile::encodeName(path).constData(), error, declaredTooLarge) && openRest(declaredTooLarge))
        return true;
    fail(error);
    // Nothing half-open stays behind, least of all an audio device that another decoder may need.
    close();
    return false;
}

bool DecoderAgent::openRest(const QString &declaredTooLarge)
{
    if (!openStreams())
        return false;
    if (m_Demuxer.videoStream() < 0)
        return fail(QStringLiteral("the clip has no video stream"));

    m_Packet.reset(av_packet_alloc());
    if (!m_Packet)
        return fail(QStringLiteral("out of memory"));
    const int width = m_Video->width();
    const int height = m_Video->height();
    if (width <= 0 || height <= 0)
        return fail(declaredTooLarge.isEmpty() ? QStringLiteral("the video stream has no picture size")
                                               : declaredTooLarge);
    if (av_image_get_buffer_size(AV_PIX_FMT_YUV420P, width, height, 1) <= 0)
        return fail(QStringLiteral("the picture size %1x%2 is not supported").arg(width).arg(height));

    // Each packet of a stream nobody plays cost a pass, a rest and a log line.
    m_Demuxer.discardUnplayed(m_Audio != nullptr);
    m_Demuxer.readFirstPacket();
    DECODER_LOG(LOG_INFO, QStringLiteral("video opened firstPacket :%1 duration:%2 bitrate:%3")
                              .arg(m_Demuxer.dataOffset())
                              .arg(duration())
                              .arg(static_cast<qint64>(m_Demuxer.context()->bit_rate)));
    DECODER_LOG(LOG_INFO, QStringLiteral("video opened width :%1 height:%2").arg(width).arg(height));

    m_VideoAgent->setNoAudio(m_Options.noAudioClock);
    // Pictures and sound from the start count as the position of the last seek asked for.
    m_Serial = seekSerial();
    m_VideoAgent->setSerial(m_Serial);
    m_Video->startPosition(m_Serial, -std::numeric_limits<double>::infinity());
    if (m_Audio)
        m_Audio->startPosition(m_Serial, -std::numeric_limits<double>::infinity());
    m_Clock.reset();
    if (m_Video->frameRate() > 0.0)
        m_Clock.setPictureInterval(1.0 / m_Video->frameRate());
    m_Clock.setSoundless(!m_AudioAgent);
    if (m_AudioAgent)
        m_Clock.setDevice(m_AudioAgent->bufferSeconds(), m_AudioAgent->delaySeconds());
    m_SoundGate.close();
    return true;
}

bool DecoderAgent::openStreams()
{
    AVFormatContext *context = m_Demuxer.context();
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        AVStream *stream = context->streams[i];
        const AVMediaType type = stream->codecpar->codec_type;
        // Only the first stream of each kind is driven; later ones are not even opened.
        if (type == AVMEDIA_TYPE_AUDIO && m_Demuxer.audioStream() < 0) {
            // Its packets are recognised (and released unread) even where no sound is played.
            m_Demuxer.setAudioStream(static_cast<int>(i));
            // The silent forms open neither a decoder nor a device.
            if (!m_Options.decodeAudio)
                continue;
            auto audio = std::make_unique<AudioStage>(m_Options, &m_Clock, &m_AudioQueue, &m_SoundGate,
                                                      [this] { blockQueued(); });
            QString why;
            if (!audio->open(stream, m_Demuxer.startTimeUs(), why)) {
                // The picture plays all the same, on the picture clock.
                DECODER_LOG(LOG_WARN, QStringLiteral("%1: playing the picture without sound").arg(why));
                continue;
            }
            const double timeBase = av_q2d(stream->time_base);
            const int channels = audio->codec()->ch_layout.nb_channels;
            m_AudioAgent = std::make_unique<AudioAgent>([this] { return nextAudioPacket(); }, &m_Clock,
                                                        audio->codec()->sample_rate,
                                                        channels > 0 ? std::min(channels, 2) : 2,
                                                        timeBase, m_Options.logChannels);
            if (!m_AudioAgent->isDeviceOpen()) {
                // Nobody would take the sound: it would only fill its queue (the agent has said why).
                m_AudioAgent.reset();
                continue;
            }
            // The stream's rate, unless implausible.
            audio->setDevice(m_AudioAgent->channels(), m_AudioAgent->sampleRate());
            m_Audio = std::move(audio);
            DECODER_LOG(LOG_INFO, QStringLiteral("audio time base :%1").arg(QString::number(timeBase)));
        } else if (type == AVMEDIA_TYPE_VIDEO && m_Demuxer.videoStream() < 0) {
            auto video = std::make_unique<VideoStage>(m_Options, &m_Clock, &m_SoundGate, this);
            video->setTarget(m_PictureTarget);
            QString why;
            if (!video->open(stream, m_Demuxer.startTimeUs(), why))
                return fail(why);
            m_Demuxer.setVideoStream(static_cast<int>(i));
            m_VideoAgent = new VideoAgent(&m_Clock, video->width(), video->height(), context->duration, m_Options);
            video->setAgent(m_VideoAgent);
            const AVRational codecBase = video->codec()->time_base;
            m_Video = std::move(video);
            const double videoBase = codecBase.den != 0 ? av_q2d(codecBase) : 0.0;
            DECODER_LOG(LOG_INFO, QStringLiteral("video time base :%1").arg(QString::number(videoBase)));
        }
    }
    return true;
}

void DecoderAgent::close()
{
    stop();
    // The worker may still be finishing the pass in which it stopped itself at the end of input.
    wait();

    m_AudioAgent.reset();
    if (m_VideoAgent) {
        VideoAgent *agent = m_VideoAgent;
        m_VideoAgent = nullptr;
        agent->flush();
        agent->dispose();
    }
    m_AudioQueue.flush();

    m_Packet.reset();
    m_Video.reset();
    m_Audio.reset();
    m_Demuxer.close();
    m_PendingSeek.clear();
    m_AwaitedSerial.store(0);
    m_FailedSerial.store(0);
}

bool DecoderAgent::start()
{
    // From a pause, playback goes on from the paused picture with the pictures and sound already
    // queued: emptying the queues lost everything between that picture and where the reading had
    // got to (9 pictures and their sound on a 25 fps clip). A stopped worker reads on from where
    // the input stands, also after its end.
    if (isStopped())
        setEof(false);
    m_Clock.resume();
    if (m_AudioAgent)
        m_AudioAgent->resume();
    return JobThread::start();
}

void DecoderAgent::pause()
{
    if (!m_Options.pauseOnlyAudio) {
        JobThread::pause();
        // Also without sound: the pictures wait with the clock.
        m_Clock.pause();
    }
    if (m_AudioAgent)
        m_AudioAgent->pause();
}

void DecoderAgent::stop()
{
    if (isStopped())
        return;
    JobThread::stop();
    m_Clock.pause();
    if (m_AudioAgent)
        m_AudioAgent->stop();
    if (m_VideoAgent)
        m_VideoAgent->flush();
    m_AudioQueue.flush();
    seek(0);
}

void DecoderAgent::seekTo(double seconds, SeekMode mode)
{
    // Clamped to the clip: before its start there is nothing to land on (AVI's and FLV's
    // searches refuse such a time outright), past its end the last keyframe or picture stands.
    if (!(seconds > 0.0))
        seconds = 0.0;
    const qint64 end = durationMs();
    if (end > 0 && seconds * 1000.0 > static_cast<double>(end))
        seconds = static_cast<double>(end) / 1000.0;
    m_LastSeek = static_cast<qint64>(seconds);
    // Everything queued so far is of the old position: from now on it is neither shown nor played
    // (what the worker queues before it takes the request carries the old serial too, and it
    // empties the queues when it does). All of this comes before the request is posted: the worker
    // may take it at once, and what it then queues must not be flushed or restarted from here.
    const int serial = seekSerial() + 1;
    m_SeekSerial.store(serial);
    m_AwaitedSerial.store(isOpen() ? serial : 0);
    if (m_VideoAgent)
        m_VideoAgent->setSerial(serial);
    // Sound of the old position, also the block being played, no longer plays or sets the clock.
    m_Clock.restart();
    m_SoundGate.close();
    m_PendingSeek.post(SeekRequest{seconds, mode, serial});
    wake();
}

void DecoderAgent::carryOut(const SeekRequest &request)
{
    m_Serial = request.serial;
    m_AudioQueue.flush();
    // The input is read afresh from the new position. Left set, the end of the input read before
    // the seek would stop a running worker as soon as the flushed queues looked drained: a seek in
    // the clip's last seconds would end playback instead of moving it.
    setEof(false);
    if (m_VideoAgent)
        m_VideoAgent->flush();
    // Nothing queued since the request may anchor the clock or the sound's start.
    m_Clock.restart();
    m_SoundGate.close();
    const double exactFrom = request.mode == SeekMode::Exact
                                 ? request.seconds + static_cast<double>(m_Video->leadUs()) / AV_TIME_BASE
                                 : -std::numeric_limits<double>::infinity();
    m_Video->startPosition(request.serial, exactFrom);
    if (m_Audio)
        m_Audio->startPosition(request.serial, exactFrom);
    const int sought = m_Demuxer.seek(request.seconds, frameRate(), m_Video->leadUs(), m_Video->reorders());
    if (sought >= 0) {
        m_Video->expectLanding(m_Demuxer.landingLimitSeconds());
        return;
    }
    // Reading goes on from where it stood (an input without time stamps or index cannot seek):
    // say so, and acknowledge nothing, so the seek is measured as failed, not as a landing.
    DECODER_LOG(LOG_WARN, QStringLiteral("seek to %1 s failed (%2)")
                              .arg(request.seconds)
                              .arg(StreamDecoder::ffmpegError(sought)));
    int awaited = request.serial;
    m_AwaitedSerial.compare_exchange_strong(awaited, 0);
    m_FailedSerial.store(request.serial);
    emit seekFailed();
}

void DecoderAgent::repositioned()
{
    if (m_Video)
        m_Video->flush();
    if (m_Audio)
        m_Audio->flush();
}

void DecoderAgent::blockQueued()
{
    // Only sound of the position the awaited seek reached acknowledges it.
    int awaited = m_Serial;
    if (awaited != 0 && m_AwaitedSerial.compare_exchange_strong(awaited, 0))
        emit seekDone();
}

AudioPacket *DecoderAgent::nextAudioPacket()
{
    if (isStopped() || !m_SoundGate.isOpen())
        return nullptr;
    auto *block = static_cast<AudioPacket *>(m_AudioQueue.takeCurrent(seekSerial()));
    if (!block && !m_Eof.load() && !isPaused())
        m_SoundGaps.fetch_add(1);
    return block;
}

PixelPacket *DecoderAgent::nextPicture()
{
    // Nothing of this object may be touched after the call: its event processing may have
    // destroyed the decoder.
    return m_VideoAgent ? m_VideoAgent->nextPicture() : nullptr;
}

void DecoderAgent::setVolume(int volume)
{
    if (m_AudioAgent)
        m_AudioAgent->setVolume(volume);
}

void DecoderAgent::setPictureTarget(const PictureTarget &target)
{
    m_PictureTarget = target;
    if (m_Video)
        m_Video->setTarget(target);
}

int DecoderAgent::volume() const
{
    return m_AudioAgent ? m_AudioAgent->volume() : 0;
}

namespace {
// Milliseconds of a clock in seconds, truncated. The microsecond of slack absorbs binary rounding:
// a stopped clock climbing by 0.04 s would otherwise read 399 ms after ten steps, not 400.
qint64 clockMs(double seconds)
{
    return static_cast<qint64>(seconds * 1000.0 + 1e-6);
}
} // namespace

qint64 DecoderAgent::positionMs()
{
    if (isStopped()) {
        const qint64 end = durationMs();
        const double clock = m_Clock.load();
        if (clockMs(clock) >= end)
            return end;
        m_Clock.store(clock + 0.04);
        // The step that crosses the end must not report a position past it.
        return std::min(clockMs(clock + 0.04), end);
    }
    return clockMs(m_Clock.load());
}

qint64 DecoderAgent::position() const
{
    return static_cast<qint64>(m_Clock.load() + 0.5);
}

qint64 DecoderAgent::durationMs() const
{
    return isOpen() ? m_Demuxer.durationUs() / 1000 : 0;
}

qint64 DecoderAgent::duration() const
{
    return isOpen() ? SchedulerDecision::wholeSeconds(m_Demuxer.durationUs()) : 0;
}

qint64 DecoderAgent::dataOffset() const
{
    return isOpen() ? m_Demuxer.dataOffset() : 0;
}

bool DecoderAgent::videoQueueFull()
{
    return m_VideoAgent && m_VideoAgent->pictures().isFull();
}

bool DecoderAgent::readingWaits(int pictures, int pictureMark, int pictureLimit, bool soundQueued, int audioBlocks)
{
    static_assert(VideoAgent::markFloor >= starvedBelow, "pictures at their mark never count as running short");
    if (pictures >= pictureLimit || (soundQueued && audioBlocks >= audioQueueLimit))
        return true;
    const bool picturesAtMark = pictures >= pictureMark;
    const bool soundAtMark = soundQueued && audioBlocks >= audioQueueCapacity;
    // A queue at its mark waits only while the other stream has enough queued: stopping while it
    // has nothing would starve the clock of the stream it needs, which the reading alone brings.
    return (picturesAtMark && !(soundQueued && audioBlocks < starvedBelow))
        || (soundAtMark && pictures >= starvedBelow);
}

bool DecoderAgent::catchingUp(int catchUpBelow, int pictures, bool soundQueued, int audioBlocks)
{
    if (catchUpBelow <= 0)
        return false;
    return pictures < catchUpBelow || (soundQueued && audioBlocks < catchUpBelow);
}

bool DecoderAgent::restAfterWork()
{
    if (!m_VideoAgent)
        return true;
    // Queue counts take only the queues' own locks: no need for m_Mutex here.
    const bool soundQueued = hasAudio();
    return !catchingUp(m_Options.catchUpBelow, m_VideoAgent->pictures().count(), soundQueued,
                       soundQueued ? m_AudioQueue.count() : 0);
}

bool DecoderAgent::step()
{
    QMutexLocker lock(&m_Mutex);
    if (!isOpen())
        return false;
    if (const std::optional<SeekRequest> request = m_PendingSeek.take()) {
        carryOut(*request);
        return true;
    }
    if (m_Eof.load())
        return endOfInput();

    // Back-pressure (see readingWaits()).
    if (m_VideoAgent
        && (readingWaits(m_VideoAgent->pictures().count(), m_VideoAgent->mark(), m_VideoAgent->pictures().capacity(),
                         hasAudio(), m_AudioQueue.count())
            || (m_ReadAhead.load() > 0 && m_VideoAgent->pictures().count() >= m_ReadAhead.load())))
        return false;
    if (m_Video->isDraining())
        return m_Video->drainOne();

    AVPacket *packet = m_Packet.get();
    const Demuxer::Read got = m_Demuxer.read(packet);
    if (got == Demuxer::Read::End)
        return readFailed();
    PacketUnref release{packet};
    if (got == Demuxer::Read::SoughtAgain)
        m_AudioQueue.flush();   // what was decoded before the landing lies before it
    if (got != Demuxer::Read::Packet)
        return true;

    if (packet->size <= 0) {
        // Skipped: starting over from the last seek target would meet the same packet again.
        DECODER_LOG(LOG_INFO, "bad packet");
        return false;
    }
    if (packet->stream_index == m_Demuxer.audioStream()) {
        if (m_Audio)
            m_Audio->decode(packet);
        return true;
    }
    if (packet->stream_index == m_Demuxer.videoStream()) {
        const bool took = m_Video->decode(packet);
        // The landing's picture is presented past the target: search again earlier, with the
        // sound decoded since then, or let it stand when no earlier search is left.
        if (m_Video->landedLate()) {
            if (m_Demuxer.retryEarlier())
                m_AudioQueue.flush();
            else
                m_Video->acceptLanding();
        }
        return took;
    }
    // A stream that appeared after the open (MPEG-TS, -PS): not read from here on.
    m_Demuxer.discard(packet->stream_index);
    DECODER_LOG(LOG_WARN, "bad free packet");
    return false;
}

void DecoderAgent::setEof(bool eof)
{
    m_Eof.store(eof);
    if (m_VideoAgent)
        m_VideoAgent->setInputEnded(eof);
}

bool DecoderAgent::readFailed()
{
    m_SoundGate.open();
    if (m_Options.stopAtEnd) {
        setEof(true);
        DECODER_LOG(LOG_INFO, "av_read failed");
    }
    // The video decoder still holds the pictures it kept back for reordering: collect them.
    m_Video->startDraining();
    return false;
}

bool DecoderAgent::endOfInput()
{
    DECODER_LOG(LOG_INFO, "EOF");
    if (m_Video->isDraining()) {
        if (videoQueueFull())
            return false;
        if (m_Video->drainOne())
            return true;
    }
    // The last picture stays on screen while the sound that outlasts the pictures plays to its
    // end: the worker ends once both queues are empty (the device plays out what it was given). A
    // seek asked for meanwhile keeps the worker reading.
    if ((!m_VideoAgent || m_VideoAgent->pictures().isEmpty()) && m_AudioQueue.isEmpty()
        && m_PendingSeek.unlessPosted([this] { requestStop(); })) {
        // The clip is over: the clock stays at its end rather than run on with the pictures'.
        m_Clock.pause();
    }
    if (isStopped())
        emit videoEnd();
    return false;
}
