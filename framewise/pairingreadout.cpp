#include "pairingreadout.h"

#include "engine/pixelpacket.h"

#include <algorithm>
#include <cmath>

namespace {

QString decibels(double value)
{
    return std::isinf(value) ? QStringLiteral("inf") : QString::number(value, 'f', 2);
}

} // namespace

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

void PairingReadout::stepped(Clip clip, double time, std::optional<int> pictures)
{
    ClipState &c = m_Clips[clip];
    c.lastNumber = pictures && c.handedOut ? std::max(0, c.lastNumber + *pictures) : 0;
    c.handedOut = true;
    c.lastTime = time;
    shown(clip);
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

void PairingReadout::setOffset(int pictures)
{
    m_Offset = pictures;
    changed(true);
}

void PairingReadout::setScores(std::optional<PairScores> scores)
{
    m_HaveScores = scores.has_value();
    m_Scores = scores.value_or(PairScores());
    changed(true);
}

void PairingReadout::setSample(std::optional<Sample> sample)
{
    m_Sample = sample;
    changed(false);
}

std::optional<std::array<int, 3>> PairingReadout::sampleAt(const PixelPacket &picture, QPoint pixel)
{
    const int x = pixel.x(), y = pixel.y();
    if (!picture.plane(0) || x < 0 || y < 0 || x >= picture.m_Width || y >= picture.m_Height)
        return std::nullopt;
    const int c = (y / 2) * picture.lineSize(1) + x / 2;
    return std::array<int, 3>{picture.plane(0)[y * picture.lineSize(0) + x], picture.plane(1)[c], picture.plane(2)[c]};
}

void PairingReadout::setView(View view, double zoom)
{
    m_View = view;
    m_Zoom = zoom;
    changed(true);
}

void PairingReadout::setPassProgress(double fraction)
{
    m_PassProgress = fraction;
    changed(false);
}

void PairingReadout::setWorstShown(int index, int count)
{
    m_PassProgress = -1.0;
    m_WorstIndex = index;
    m_WorstCount = count;
    changed(true);
}

void PairingReadout::setActivity(const QString &activity)
{
    m_Activity = activity;
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
    if (!m_Activity.isEmpty())
        t += QStringLiteral(" | ") + m_Activity;
    if (m_Offset != 0)
        t += QStringLiteral(" | offset %1%2").arg(m_Offset > 0 ? QStringLiteral("+") : QString()).arg(m_Offset);
    if (m_Paused && m_HaveScores)
        t += QStringLiteral(" | PSNR Y %1 dB, all %2 dB, SSIM Y %3")
                 .arg(decibels(m_Scores.psnrY), decibels(m_Scores.psnrAll))
                 .arg(m_Scores.ssimY, 0, 'f', 4);
    else if (m_Paused)
        t += QStringLiteral(" | measuring");
    if (m_View != View::Plain || m_Zoom > 1.0) {
        t += QStringLiteral(" | ");
        if (m_View != View::Plain)
            t += m_View == View::Difference ? QStringLiteral("difference ") : QStringLiteral("split ");
        t += QStringLiteral("%1x").arg(m_Zoom, 0, 'f', m_Zoom < 10 ? 1 : 0);
    }
    if (m_Sample) {
        t += QStringLiteral(" | x %1 y %2 Y'CbCr").arg(m_Sample->pixel.x()).arg(m_Sample->pixel.y());
        for (int clip : {0, 1}) {
            const auto &v = m_Sample->values[clip];
            t += QStringLiteral("%1 %2: ").arg(clip == 0 ? "" : ",").arg(clip + 1)
                + (v ? QStringLiteral("%1 %2 %3").arg((*v)[0]).arg((*v)[1]).arg((*v)[2]) : QStringLiteral("-"));
        }
    }
    if (m_PassProgress >= 0.0)
        t += QStringLiteral(" | worst pairs %1 %").arg(int(m_PassProgress * 100));
    else if (m_WorstCount == 0)
        t += QStringLiteral(" | no pairs to rank");
    else if (m_WorstCount > 0 && m_WorstIndex > 0)
        t += QStringLiteral(" | worst pair %1 of %2").arg(m_WorstIndex).arg(m_WorstCount);
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
