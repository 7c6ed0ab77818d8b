#include "landingwatch.h"

void LandingWatch::arm(qint64 nowMs, qint64 clockMs, bool waitForSeekDone)
{
    m_Armed = true;
    m_WaitForSeekDone = waitForSeekDone;
    m_SeekDoneSeen = false;
    m_ArmedAt = nowMs;
    m_Baseline = clockMs;
    m_Waited = 0;
}

void LandingWatch::seekDone(qint64 clockMs)
{
    if (!m_Armed || !m_WaitForSeekDone || m_SeekDoneSeen)
        return;
    m_SeekDoneSeen = true;
    m_Baseline = clockMs;
}

LandingWatch::State LandingWatch::poll(qint64 nowMs, qint64 clockMs, qint64 durationMs)
{
    if (!m_Armed)
        return State::Idle;
    m_Waited = nowMs - m_ArmedAt;

    const bool acknowledged = !m_WaitForSeekDone || m_SeekDoneSeen;
    const bool insideClip = clockMs >= 0 && (durationMs <= 0 || clockMs <= durationMs);
    if (acknowledged && clockMs != m_Baseline && insideClip) {
        m_Armed = false;
        return State::Landed;
    }
    if (m_Waited > TimeoutMs) {
        m_Armed = false;
        return State::TimedOut;
    }
    return State::Pending;
}

void LandingWatch::cancel()
{
    m_Armed = false;
    m_SeekDoneSeen = false;
}
