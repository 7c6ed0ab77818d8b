#include "seektestrun.h"

void SeekTestRun::start(qint64 nowMs)
{
    m_Active = true;
    m_Waiting = false;
    m_NextSeekAt = nowMs;
    m_FailuresInARow = 0;
    m_StopReason.clear();
}

void SeekTestRun::stop()
{
    m_Active = false;
    m_Waiting = false;
}

void SeekTestRun::seekAsked()
{
    m_Waiting = true;
}

bool SeekTestRun::seekDue(qint64 nowMs) const
{
    return m_Active && !m_Waiting && nowMs >= m_NextSeekAt;
}

void SeekTestRun::landed(qint64 nowMs, bool batchComplete)
{
    m_Waiting = false;
    m_FailuresInARow = 0;
    if (batchComplete)
        ++m_BatchesDone;
    m_NextSeekAt = nowMs + NextSeekDelayMs;
}

bool SeekTestRun::failed(qint64 nowMs)
{
    m_Waiting = false;
    ++m_FailedSeeks;
    ++m_FailuresInARow;
    m_NextSeekAt = nowMs + NextSeekDelayMs;
    if (m_Active && m_FailuresInARow >= MaxFailuresInARow) {
        m_StopReason = QStringLiteral("seek test stopped: %1 seeks in a row did not land")
                           .arg(m_FailuresInARow);
        stop();
        return true;
    }
    return false;
}

QString SeekTestRun::progress(int measuredInBatch) const
{
    QString text = QStringLiteral("seek test: batch %1, seek %2/%3")
                       .arg(m_BatchesDone + 1)
                       .arg(measuredInBatch + 1)
                       .arg(SeeksPerBatch);
    if (m_FailedSeeks > 0)
        text += QStringLiteral(", %1 failed").arg(m_FailedSeeks);
    return text;
}
