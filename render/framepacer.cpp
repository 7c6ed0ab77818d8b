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

FramePacer::TickDecision FramePacer::tickUs(qint64 nowUs)
{
    TickDecision d;
    if (!m_HaveLastTick) {
        d.elapsed = m_FrameInterval;
        m_HaveLastTick = true;
        m_AccumulatedUs += m_IntervalUs;
    } else {
        // A monotonic clock never runs back; a caller that mixes clocks must not stall us.
        const qint64 elapsedUs = std::max<qint64>(0, nowUs - m_LastTickUs);
        m_AccumulatedUs += elapsedUs;
        d.elapsed = elapsedUs / 1000;
        d.late = d.elapsed > LateTickMs;
    }
    m_LastTickUs = nowUs;
    d.request = m_AccumulatedUs + m_LeadUs >= m_IntervalUs;
    return d;
}

qint64 FramePacer::untilRequestUs() const
{
    return std::max<qint64>(0, m_IntervalUs - m_LeadUs - m_AccumulatedUs);
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

void FramePacer::followClock(qint64 aheadUs)
{
    if (!m_Options.followClock)
        return;
    // The next picture is due one interval after this one's time: aheadUs plus an interval from
    // now. A picture more than a second off the clock is a jump (the first picture of a new
    // position, before the clock has moved there), not a phase: following it would hold the
    // requests back for up to a second while the clock runs on and the pictures go late.
    if (aheadUs > -maxPhaseUs && aheadUs < maxPhaseUs)
        m_AccumulatedUs = -aheadUs;
}

void FramePacer::displayTook(qint64 tookUs)
{
    if (!m_Options.followClock)
        return;
    m_Took[m_TookCount++ % displaySamples] = std::clamp<qint64>(tookUs, 0, m_IntervalUs);
    const int n = std::min(m_TookCount, displaySamples);
    qint64 sorted[displaySamples];
    std::copy(m_Took, m_Took + n, sorted);
    std::nth_element(sorted, sorted + n / 2, sorted + n);
    m_LeadUs = sorted[n / 2];
}
