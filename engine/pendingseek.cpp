#include "pendingseek.h"

#include <QMutexLocker>

void PendingSeek::post(const SeekRequest &request)
{
    QMutexLocker lock(&m_Mutex);
    m_Request = request;
    m_Waiting = true;
}

std::optional<SeekRequest> PendingSeek::take()
{
    QMutexLocker lock(&m_Mutex);
    if (!m_Waiting)
        return std::nullopt;
    m_Waiting = false;
    return m_Request;
}

bool PendingSeek::unlessPosted(const std::function<void()> &f)
{
    QMutexLocker lock(&m_Mutex);
    if (m_Waiting)
        return false;
    f();
    return true;
}

void PendingSeek::clear()
{
    QMutexLocker lock(&m_Mutex);
    m_Waiting = false;
}
