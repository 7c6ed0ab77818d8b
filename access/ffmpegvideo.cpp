#include "ffmpegvideo.h"

#include "engine/decoderagent.h"

FFMpegVideo::FFMpegVideo(VideoEngine *engine, const QString &url, QObject *parent,
                         const EngineOptions &options)
    : Video(engine, url, parent)
    , m_Options(options)
{
    if (!m_Driver)
        m_Error = QStringLiteral("no driver for scheme \"%1\"").arg(url.section(QLatin1Char(':'), 0, 0));
    else if (!m_Handle)
        m_Error = QStringLiteral("cannot open file \"%1\"").arg(m_Name);
}

FFMpegVideo::~FFMpegVideo()
{
    if (m_Agent) {
        if (m_Opened) {
            Video::pause();
            m_Agent->pause();
        }
        // The worker reads through this video's source: it has to end before ~Video closes it.
        m_Agent->stop();
        delete m_Agent;
        m_Agent = nullptr;
        m_Opened = false;
    }
}

bool FFMpegVideo::open()
{
    // Opening again must not leave the first decoder running on, or reading from, this source.
    if (m_Agent) {
        m_Agent->stop();
        delete m_Agent;
        m_Agent = nullptr;
    }
    m_Opened = false;

    m_Agent = new DecoderAgent(this, m_Options);
    // Signal to signal with the default connection: the decoder emits on its worker thread, this
    // object lives on the GUI thread, so both are queued and re-emitted there.
    connect(m_Agent, &DecoderAgent::videoEnd, this, &Video::videoEnd);
    connect(m_Agent, &DecoderAgent::seekDone, this, &Video::seekDone);
    m_Opened = m_Agent->open();

    if (m_Opened) {
        m_Error.clear();
    } else if (m_Driver && m_Handle) {
        // The constructor has already said why when there is no source at all.
        m_Error = m_Agent->openError();
        if (m_Error.isEmpty())
            m_Error = QStringLiteral("the decoder could not open the input");
    }
    return m_Opened;
}

int FFMpegVideo::width()
{
    return ready() ? m_Agent->videoWidth() : 0;
}

int FFMpegVideo::height()
{
    return ready() ? m_Agent->videoHeight() : 0;
}

PixelPacket *FFMpegVideo::nextPicture()
{
    // Nothing of this object may be touched after the call: its event processing may delete us.
    return ready() ? m_Agent->nextPicture() : nullptr;
}

void FFMpegVideo::play()
{
    if (!ready())
        return;
    Video::play();
    m_Agent->start();
}

void FFMpegVideo::pause()
{
    if (!ready())
        return;
    Video::pause();
    m_Agent->pause();
}

void FFMpegVideo::setVolume(int volume)
{
    if (ready())
        m_Agent->setVolume(volume);
}

int FFMpegVideo::volume()
{
    return ready() ? m_Agent->volume() : 0;
}

qint64 FFMpegVideo::positionMs()
{
    return ready() ? m_Agent->positionMs() : 0;
}

qint64 FFMpegVideo::position()
{
    return ready() ? m_Agent->position() : 0;
}

void FFMpegVideo::seek(int seconds)
{
    if (ready())
        m_Agent->seek(seconds);
}

void FFMpegVideo::seekTo(double seconds, SeekMode mode)
{
    if (ready())
        m_Agent->seekTo(seconds, mode);
}

qint64 FFMpegVideo::durationMs()
{
    return ready() ? m_Agent->durationMs() : 0;
}

qint64 FFMpegVideo::duration()
{
    return ready() ? m_Agent->duration() : 0;
}

float FFMpegVideo::aspectRatio()
{
    return ready() ? m_Agent->aspectRatio() : 0.0f;
}

double FFMpegVideo::frameRate()
{
    return ready() ? m_Agent->frameRate() : 1.0;
}

int FFMpegVideo::dataOffset()
{
    if (!ready())
        return 0;
    return static_cast<int>(static_cast<quint32>(static_cast<quint64>(m_Agent->dataOffset()) & 0xFFFFFFFFu));
}

