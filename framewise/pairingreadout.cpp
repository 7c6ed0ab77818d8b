#include "pairingreadout.h"

#include <cmath>

void PairingReadout::picture(Clip clip, double time)
{
    ClipState &c = m_Clips[clip];
    if (!c.handedOut) {
        c.handedOut = true;
        c.lastNumber = 0;
    } else if (time != c.lastTime) {
        ++c.lastNumber;
    }
    c.lastTime = time;
    changed(false);
}

void PairingReadout::shown(Clip clip)
{
    ClipState &c = m_Clips[clip];
    if (!c.handedOut)
        return;
    c.shown = true;
    c.shownTime = c.lastTime;
    c.shownNumber = c.lastNumber;
    changed(false);
}

void PairingReadout::paired(Pairing pairing, int skipped)
{
    switch (pairing) {
    case Pairing::InStep:
        m_Step = Step::InStep;
        break;
    case Pairing::SkipSecond:
        m_Step = Step::SkipSecond;
        m_Skips += skipped;
        break;
    case Pairing::HoldSecond:
        m_Step = Step::HoldSecond;
        ++m_Holds;
        break;
    }
    changed(m_AwaitingPair);
    m_AwaitingPair = false;
}

void PairingReadout::unpaired()
{
    m_Step = Step::NoSecond;
    changed(m_AwaitingPair);
    m_AwaitingPair = false;
}

void PairingReadout::seeked(int second)
{
    m_Clips[First] = ClipState();
    m_Clips[Second] = ClipState();
    m_Step = Step::Seeking;
    m_SeekSecond = second;
    m_Skips = 0;
    m_Holds = 0;
    m_Sought = true;
    m_AwaitingPair = true;
    changed(true);
}

void PairingReadout::setShowing(Clip clip)
{
    m_Showing = clip;
    changed(true);
}

void PairingReadout::setPaused(bool paused)
{
    m_Paused = paused;
    changed(true);
}

void PairingReadout::changed(bool urgent)
{
    m_Changed = true;
    m_Urgent = m_Urgent || urgent;
}

QString PairingReadout::clipText(Clip clip) const
{
    const ClipState &c = m_Clips[clip];
    const QString label = QString::number(clip + 1) + QStringLiteral(": ");
    if (!c.shown)
        return label + QStringLiteral("-");
    // A time that rounds to zero is written as zero, never as "-0.000".
    const double time = std::fabs(c.shownTime) < 0.0005 ? 0.0 : c.shownTime;
    return label + QString::number(time, 'f', 3) + QStringLiteral(" s #") + QString::number(c.shownNumber);
}

QString PairingReadout::stepText() const
{
    switch (m_Step) {
    case Step::InStep:
        return QStringLiteral("in step");
    case Step::SkipSecond:
        return QStringLiteral("second skipped");
    case Step::HoldSecond:
        return QStringLiteral("second held");
    case Step::NoSecond:
        return QStringLiteral("no second picture");
    case Step::Seeking:
        return QStringLiteral("seeking to %1 s").arg(m_SeekSecond);
    case Step::None:
        break;
    }
    return QStringLiteral("waiting");
}

QString PairingReadout::title() const
{
    if (!m_Sought && !m_Clips[First].shown && !m_Clips[Second].shown)
        return programName();
    QString t = programName() + QStringLiteral(" - ") + clipText(First) + QStringLiteral(" | ")
                + clipText(Second) + QStringLiteral(" | ") + stepText()
                + QStringLiteral(" | skips %1, holds %2").arg(m_Skips).arg(m_Holds)
                + QStringLiteral(" | showing %1").arg(m_Showing + 1);
    if (m_Paused)
        t += QStringLiteral(" | paused");
    return t;
}

bool PairingReadout::titleDue(qint64 nowMs) const
{
    if (!m_Changed)
        return false;
    return m_Urgent || !m_EverTaken || nowMs - m_TakenAtMs >= MinTitleIntervalMs;
}

QString PairingReadout::takeTitle(qint64 nowMs)
{
    m_Changed = false;
    m_Urgent = false;
    m_EverTaken = true;
    m_TakenAtMs = nowMs;
    return title();
}
