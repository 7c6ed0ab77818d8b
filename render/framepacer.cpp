#include "framepacer.h"

#include <cmath>

QByteArray FramePacer::PictureDecision::trace() const
{
    switch (outcome) {
    case Outcome::Drop:
        return "drop ZERO: " + QByteArray::number(accumulatedBefore) + "\n";
    case Outcome::Repeat:
        return "repeat ZERO: " + QByteArray::number(accumulatedBefore) + "\n";
    case Outcome::Show:
        break;
    }
    return QByteArray();
}

FramePacer::FramePacer(const PacerOptions &options)
    : m_Options(options)
{
}

double FramePacer::rateUsed(double rate, bool limitRate)
{
    // !(rate > 0) also catches NaN, which would otherwise slip through every comparison.
    if (!(rate > 0.0) || !std::isfinite(rate))
        return DefaultRate;
    if (limitRate && !(rate > LowestRate && rate <= HighestRate))
        return DefaultRate;
    return rate;
}

int FramePacer::intervalForRate(double rate, bool limitRate)
{
    return static_cast<int>(1000.0 / rateUsed(rate, limitRate));
}

int FramePacer::setFrameRate(double rate)
{
    m_FrameInterval = intervalForRate(rate, m_Options.limitRate);
    return m_FrameInterval;
}

FramePacer::TickDecision FramePacer::tick(qint64 nowMs)
{
    TickDecision d;
    if (!m_HaveLastTick) {
        d.elapsed = m_FrameInterval;
        m_HaveLastTick = true;
    } else {
        // A monotonic clock never runs back; a caller that mixes clocks must not stall us.
        d.elapsed = nowMs >= m_LastTick ? nowMs - m_LastTick : 0;
        d.late = d.elapsed > LateTickMs;
    }
    m_LastTick = nowMs;
    m_Accumulated += d.elapsed;
    d.request = m_Accumulated >= m_FrameInterval;
    return d;
}

FramePacer::PictureDecision FramePacer::noPicture()
{
    PictureDecision d;
    d.outcome = Outcome::Drop;
    d.accumulatedBefore = m_Accumulated;
    m_Accumulated += m_FrameInterval;
    return d;
}

FramePacer::PictureDecision FramePacer::picture(double time)
{
    PictureDecision d;
    d.accumulatedBefore = m_Accumulated;
    // Exact comparison on purpose: the scheduler hands back the very same picture when it holds.
    if (time == m_LastPictureTime) {
        d.outcome = Outcome::Repeat;
        m_Accumulated = 0;
        return d;
    }
    d.outcome = Outcome::Show;
    m_Accumulated -= m_FrameInterval;
    if (m_Options.cutBacklog)
        m_Accumulated = m_Accumulated <= m_FrameInterval + 5 ? 0 : 10;
    m_LastPictureTime = time;
    return d;
}
