#include "videoagent.h"

#include "pixelpacket.h"
#include "playbackclock.h"
#include "schedulerdecision.h"

#include "log/logcategory.h"
#include "platform/debugoutput.h"

#include <QCoreApplication>
#include <QString>
#include <QtDebug>

#include <algorithm>

static LogCategory s_Log("decoder");

#define VIDEO_LOG(level, text)                                          \
    do {                                                                \
        if (m_Options.logChannels)                                      \
            s_Log.log((level), (text), "./videoagent", __LINE__);       \
    } while (0)

int VideoAgent::queueLimit(int64_t pictureBytes)
{
    if (pictureBytes <= 0)
        return queueCapacity;
    const int64_t fit = pictureQueueBudgetBytes / pictureBytes;
    return static_cast<int>(std::clamp<int64_t>(fit, queueCapacity, maxQueuedPictures));
}

int VideoAgent::markFor(int64_t pictureBytes)
{
    if (pictureBytes <= 0)
        return queueCapacity;
    return static_cast<int>(std::clamp<int64_t>(pictureMarkBudgetBytes / pictureBytes, markFloor, queueCapacity));
}

VideoAgent::VideoAgent(PlaybackClock *clock, int width, int height, int64_t durationUs,
                       const EngineOptions &options)
    : m_Pictures(options.queueChecks)
    , m_Clock(clock)
    , m_Width(width > 0 ? width : 0)
    , m_Height(height > 0 ? height : 0)
    , m_DurationUs(durationUs)
    , m_Options(options)
{
    const int bufferBytes = PixelPacket::bufferSize(m_Width, m_Height) + pictureSlack;
    m_QueuedBytes = PixelPacket::bufferSize(m_Width, m_Height);
    m_Pictures.init(bufferBytes, queueLimit(bufferBytes), pooledPictures);
}

VideoAgent::~VideoAgent()
{
    delete m_Current;
    m_Current = nullptr;
    m_Pictures.flush();
}

PixelPacket *VideoAgent::blankPicture(QSize size)
{
    if (size.isEmpty())
        size = QSize(m_Width, m_Height);
    const int bytes = PixelPacket::bufferSize(size.width(), size.height());
    if (bytes <= 0 || size.width() > m_Width || size.height() > m_Height)
        return nullptr;
    auto *picture = new PixelPacket(&m_Pictures, nullptr, bytes, 0.0);
    if (!picture->m_Buffer) {
        delete picture;
        return nullptr;
    }
    picture->m_Width = size.width();
    picture->m_Height = size.height();
    return picture;
}

void VideoAgent::queuePicture(PixelPacket *picture)
{
    if (!picture)
        return;
    m_QueuedBytes = picture->m_Size;
    if (m_Pictures.isFull())
        VIDEO_LOG(LOG_DEBUG, "Video Packet queue full");
    m_Pictures.put(picture);
}

void VideoAgent::flush()
{
    m_Pictures.flush();
}

PixelPacket *VideoAgent::takePicture()
{
    return static_cast<PixelPacket *>(m_Pictures.takeCurrent(m_Serial.load()));
}

bool VideoAgent::nextTime(double *time)
{
    return m_Pictures.withCurrentHead(m_Serial.load(),
                                      [time](DataPacket *head) { *time = static_cast<PixelPacket *>(head)->m_Time; });
}

void VideoAgent::dispose()
{
    if (m_Inside) {
        m_DisposePending = true;
        m_Clock = nullptr;
        flush();
        return;
    }
    delete this;
}

PixelPacket *VideoAgent::nextPicture()
{
    if (m_Inside)
        return m_Current;
    m_Inside = true;
    PixelPacket *picture = choose();
    m_Inside = false;
    if (m_DisposePending) {
        delete this;
        return nullptr;
    }
    return picture;
}

PixelPacket *VideoAgent::choose()
{
    if (m_Options.pictureDebugLines)
        qDebug() << this << m_Pictures.count();

    double headTime = 0.0;
    if (!nextTime(&headTime)) {
        if (m_Options.pictureDebugLines)
            qDebug() << "EMPTY VIDEO QUEUE";
        VIDEO_LOG(LOG_DEBUG, "EMPTY VIDEO QUEUE");
        // The picture of a position left behind is not handed out again: the display keeps it
        // on screen anyway, and a null answer makes a pacer ask again at its next tick instead of
        // waiting a whole interval for the new position's first picture.
        return m_Current && m_Current->m_Serial < m_Serial.load() ? nullptr : m_Current;
    }

    if (m_NoAudio) {
        m_Clock->store(headTime);
        return advance();
    }

    switch (m_Clock->picture(headTime, m_DurationUs)) {
    case PictureAction::Drop:
        if (lastLeft())
            break;
        dropLoop(SchedulerDecision::clockDifferenceMs(headTime, m_Clock->load()));
        return nullptr;
    case PictureAction::Hold:
        VIDEO_LOG(LOG_DEBUG, "Repeating frame");
        return m_Current;
    case PictureAction::Show:
        break;
    }
    return advance();
}

PixelPacket *VideoAgent::advance()
{
    // A flush on another thread may have emptied the queue since the head was looked at: then the
    // shown picture simply stays.
    auto *next = takePicture();
    if (!next)
        return m_Current && m_Current->m_Serial < m_Serial.load() ? nullptr : m_Current;
    delete m_Current;
    m_Current = next;
    return m_Current;
}

bool VideoAgent::lastLeft()
{
    return m_InputEnded.load() && m_Pictures.count() == 1;
}

void VideoAgent::dropLoop(int diff)
{
    int dropped = 0;
    while (dropped < SchedulerDecision::dropLimit) {
        VIDEO_LOG(LOG_DEBUG, QStringLiteral("Dropping frames Count %1 ccdiff:%2").arg(dropped).arg(diff));
        const DataPacket *head = nullptr;
        double headTime = 0.0;
        m_Pictures.withCurrentHead(m_Serial.load(), [&](DataPacket *p) {
            head = p;
            headTime = static_cast<PixelPacket *>(p)->m_Time;
        });
        if (!head)
            break;

        // Lets the audio clock and the decoder's queue move on while the GUI stays responsive.
        QCoreApplication::processEvents();
        if (m_DisposePending)
            return;   // the owner is gone: touch neither the clock nor the log again

        diff = SchedulerDecision::clockDifferenceMs(headTime, m_Clock->load());
        bool sameHead = false;
        m_Pictures.withCurrentHead(m_Serial.load(), [&](DataPacket *p) { sameHead = (p == head); });
        if (!sameHead)
            break;   // flushed meanwhile (a seek): the pictures judged here are gone
        if (lastLeft())
            break;
        delete takePicture();
        ++dropped;
        if (diff >= SchedulerDecision::lateThresholdMs)
            break;
    }
    if (m_Options.logChannels)
        debugOutput(QStringLiteral("drop:%1\n").arg(diff).toLatin1().constData());
}
