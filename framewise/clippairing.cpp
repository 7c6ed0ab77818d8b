#include "clippairing.h"

int ClipPairing::setFrameRate(double rate, double secondRate)
{
    m_Timing.setRates(rate, secondRate);
    m_Rate = rate;
    return m_Pacer.setFrameRate(rate);
}

void ClipPairing::resumedAt(double time2)
{
    m_Pacer = FramePacer(PacerOptions::framewise());
    m_Pacer.setFrameRate(m_Rate);
    m_Time2 = time2;
    m_SecondShown = true;
}

void ClipPairing::seeked(int second)
{
    m_Timing.seeked();
    m_Readout.seeked(second);
    m_SecondShown = false;
}

ClipPairing::Tick ClipPairing::tick(qint64 nowMs, PictureSource &first, PictureSource &second)
{
    Tick t;
    if (!m_Pacer.tick(nowMs).request)
        return t;
    t.request = true;

    // With nothing queued the first clip's current picture comes back (a repeat), or nothing
    // before its first.
    std::optional<double> time1 = first.nextTime() ? first.take() : std::nullopt;
    if (!time1 && m_FirstShown)
        time1 = m_Pacer.lastPictureTime();
    if (!time1) {
        const FramePacer::PictureDecision drop = m_Pacer.noPicture();
        t.outcome = drop.outcome;
        t.trace = drop.trace();
        return t;
    }
    m_Timing.picture(StartAlignment::First, *time1);
    const FramePacer::PictureDecision shown = m_Pacer.picture(*time1);
    t.outcome = shown.outcome;
    t.trace = shown.trace();
    if (shown.outcome != FramePacer::Outcome::Show)
        return t;
    m_FirstShown = true;
    t.time1 = *time1;
    const double a = m_Timing.relative(StartAlignment::First, *time1);
    m_Readout.picture(PairingReadout::First, a);
    m_Readout.shown(PairingReadout::First);

    const qint64 limit = m_Timing.limitUs(*time1);   // the second's pictures before it
    int taken = 0;
    while (const std::optional<double> next = second.nextTime()) {
        if (m_SecondShown && !m_Timing.before(*next, limit))
            break;
        const std::optional<double> got = second.take();
        if (!got)
            break;
        m_Timing.picture(StartAlignment::Second, *got);
        m_SecondShown = true;
        m_Time2 = *got;
        ++taken;
        m_Readout.picture(PairingReadout::Second, m_Timing.relative(StartAlignment::Second, *got));
        // Not the picture peeked at: the scheduler held its own (or a seek emptied the queue
        // meanwhile). Asking again would not move it on, so the rest waits for the next tick.
        if (*got != *next)
            break;
    }
    if (!m_SecondShown) {
        m_Readout.unpaired();
        return t;
    }
    t.paired = true;
    t.secondMoved = taken > 0;
    t.skipped = taken > 1;
    t.time2 = m_Time2;
    if (taken > 0)
        m_Readout.shown(PairingReadout::Second);
    const bool ahead = !m_Timing.before(m_Time2, limit);
    if (taken > 1)
        m_Readout.paired(PairingReadout::Pairing::SkipSecond, taken - 1);
    else if (taken == 1 && !ahead)
        m_Readout.paired(PairingReadout::Pairing::InStep);
    else
        m_Readout.paired(PairingReadout::Pairing::HoldSecond);
    return t;
}
