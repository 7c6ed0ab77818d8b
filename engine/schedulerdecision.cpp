#include "schedulerdecision.h"

#include <limits>

int SchedulerDecision::clockDifferenceMs(double pictureTime, double clock)
{
    const double diff = (pictureTime - clock) * 1000.0;
    // A garbage clock must not turn into an undefined conversion.
    if (!(diff > std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    if (!(diff < std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return static_cast<int>(diff);
}

int64_t SchedulerDecision::wholeSeconds(int64_t durationUs)
{
    return (durationUs - durationUs % 1000000) / 1000000;
}

PictureAction SchedulerDecision::decide(int diffMs, double clock, int64_t durationUs, bool noAudio)
{
    if (noAudio)
        return PictureAction::Show;
    if (diffMs < lateThresholdMs)
        return PictureAction::Drop;
    if (diffMs >= holdFromMs && diffMs <= holdToMs) {
        const int64_t clockSeconds = static_cast<int64_t>(clock + 0.5);
        if (clockSeconds < wholeSeconds(durationUs) - 1)
            return PictureAction::Hold;
    }
    return PictureAction::Show;
}
