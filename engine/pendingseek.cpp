#include "pendingseek.h"

#include <QMutexLocker>

int PendingSeek::post(double seconds, SeekMode mode)
{
    QMutexLocker lock(&m_Mutex);
    const int serial = m_Serial.load() + 1;
    m_Request = SeekRequest{seconds, mode, serial};
    m_Waiting = true;
    m_Serial.store(serial);
    return serial;
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
