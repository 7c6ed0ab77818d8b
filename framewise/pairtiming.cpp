#include "pairtiming.h"

#include "render/framepacer.h"

#include <cmath>

qint64 PairTiming::microseconds(double seconds)
{
    return std::llround(seconds * 1e6);
}

void PairTiming::setRates(double firstRate, double secondRate)
{
    m_FirstInterval = 1.0 / FramePacer::rateUsed(firstRate, false);
    m_SecondInterval = 1.0 / FramePacer::rateUsed(secondRate, false);
}

qint64 PairTiming::limitUs(double firstTime) const
{
    // In the second clip's own time: the offset moves the limit the other way.
    return microseconds(relative(Clip::First, firstTime) - m_Offset * m_SecondInterval) + microseconds(m_FirstInterval) / 4;
}

bool PairTiming::before(double secondTime, qint64 limitUs) const
{
    return microseconds(relative(Clip::Second, secondTime)) < limitUs;
}

double PairTiming::firstRelativeFor(double secondTime) const
{
    return relative(Clip::Second, secondTime) + m_Offset * m_SecondInterval;
}
