#include "video.h"

#include "videodriver.h"
#include "videoengine.h"

Video::Video(VideoEngine *engine, const QString &url, QObject *parent) : QObject(parent)
{
    const int colon = url.indexOf(QLatin1Char(':'));
    const QString scheme = colon < 0 ? url : url.left(colon);
    m_Driver = engine ? engine->driver(scheme) : nullptr;
    if (!m_Driver)
        return;

    // "file://C:/a.mp4" and "file:C:/a.mp4" both name "C:/a.mp4": a leading slash stands for the
    // pair "//", so two characters go, whatever the second one is.
    QString rest = url.mid(scheme.size() + 1);
    if (rest.startsWith(QLatin1Char('/')))
        rest.remove(0, 2);
    m_Name = rest;
    m_Handle = m_Driver->open(m_Name.toUtf8().constData());
    m_Opened = m_Handle != 0;
}

Video::~Video()
{
    if (m_Driver && m_Handle) {
        m_Driver->close(m_Handle);
        m_Handle = 0;
    }
}

void Video::play()
{
    if (m_Driver && m_Handle)
        m_Driver->started(m_Handle);
}

void Video::pause()
{
    if (m_Driver && m_Handle)
        m_Driver->paused(m_Handle);
}

qint64 Video::sourceState()
{
    if (m_Driver && m_Handle)
        return m_Driver->sourceState(m_Handle);
    return 1;
}

float Video::aspectRatio()
{
    return 0.0f;
}

double Video::frameRate()
{
    return 1.0;
}

qint64 Video::read(char *buffer, qint64 offset, qint64 size)
{
    if (!m_Driver || !m_Handle)
        return 0;
    if (!m_Driver->isAvailable(m_Handle, offset, size)) {
        emit noInputData(m_Name, int(offset), int(size), 0);
        emit dataFailure(m_Handle, int(offset), int(size), 0);
    }
    return m_Driver->read(m_Handle, buffer, offset, size);
}

qint64 Video::sourceSize()
{
    if (m_Driver && m_Handle)
        return m_Driver->size(m_Handle);
    return 0;
}
