#include "videoengine.h"

VideoEngine::VideoEngine(QObject *parent) : QObject(parent) {}

void VideoEngine::registerDriver(const QString &scheme, VideoDriver *driver)
{
    m_Drivers.insert(scheme, driver);
}

bool VideoEngine::hasDriver(const QString &scheme) const
{
    return m_Drivers.contains(scheme);
}

VideoDriver *VideoEngine::driver(const QString &scheme) const
{
    return m_Drivers.value(scheme, nullptr);
}
