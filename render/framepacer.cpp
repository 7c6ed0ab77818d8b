#include "framepacer.h"

#include <algorithm>
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
    m_IntervalUs = std::llround(1000000.0 / rateUsed(rate, m_Options.limitRate));
    return m_FrameInterval;
}

FramePacer::TickDecision FramePacer::tick(qint64 nowMs)
{
    TickDecision d;
    if (!m_HaveLastTick) {
        d.elapsed = m_FrameInterval;
        m_HaveLastTick = true;
        m_AccumulatedUs += m_IntervalUs - qint64(m_FrameInterval) * 1000;
    } else {
        // A monotonic clock never runs back; a caller that mixes clocks must not stall us.
        d.elapsed = nowMs >= m_LastTick ? nowMs - m_LastTick : 0;
        d.late = d.elapsed > LateTickMs;
    }
    m_LastTick = nowMs;
    m_AccumulatedUs += d.elapsed * 1000;
    d.request = m_AccumulatedUs >= m_IntervalUs;
    return d;
}

FramePacer::PictureDecision FramePacer::noPicture()
{
    PictureDecision d;
    d.outcome = Outcome::Drop;
    d.accumulatedBefore = accumulated();
    m_AccumulatedUs += m_IntervalUs;
    return d;
}

FramePacer::PictureDecision FramePacer::picture(double time)
{
    PictureDecision d;
    d.accumulatedBefore = accumulated();
    // Exact comparison on purpose: the scheduler hands back the very same picture when it holds.
    if (time == m_LastPictureTime) {
        d.outcome = Outcome::Repeat;
        m_AccumulatedUs = 0;
        return d;
    }
    d.outcome = Outcome::Show;
    m_AccumulatedUs -= m_IntervalUs;
    if (m_Options.cutBacklog && m_AccumulatedUs > m_IntervalUs + 5000)
        m_AccumulatedUs %= m_IntervalUs;
    m_LastPictureTime = time;
    return d;
}

void FramePacer::followClock(int diffMs)
{
    if (!m_Options.followClock)
        return;
    const qint64 limit = m_IntervalUs / 4;
    m_AccumulatedUs -= std::clamp<qint64>(qint64(diffMs) * 1000 / 8, -limit, limit);
}
