#include "timestampfallback.h"

int64_t TimestampFallback::picture(int64_t bestEffort, int64_t pts, int64_t previous, int64_t frameStep,
                                   int64_t startOffset)
{
    if (bestEffort != none)
        return bestEffort;
    if (pts != none)
        return pts;
    if (previous != none && frameStep != none)
        return previous + frameStep;
    return startOffset;
}

int64_t TimestampFallback::sound(int64_t bestEffort, int64_t expected, int64_t startOffset)
{
    if (bestEffort != none)
        return bestEffort;
    return expected != none ? expected : startOffset;
}

int64_t TimestampFallback::packet(int64_t wanted, int64_t other)
{
    return wanted != none ? wanted : other;
}
