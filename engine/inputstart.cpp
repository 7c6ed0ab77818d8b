#include "inputstart.h"

namespace {
// Where the picture rate is unknown: half a picture at 25 pictures a second.
constexpr int64_t kUnknownHalfIntervalUs = 20000;
}

int64_t InputStart::choose(int64_t formatStartUs, int64_t videoStartUs, int videoWrapBits, int64_t pictureIntervalUs)
{
    if (formatStartUs == none)
        return 0;
    // Late starts (MPEG-TS at 1.4 s, broadcast captures at hours) are starts.
    if (formatStartUs >= 0)
        return formatStartUs;
    // Stamps that wrap are unsigned in the file: a time below 0 is libavformat's unwrapping of
    // stamps written before the wrap, whichever stream came first.
    if (videoWrapBits > 0 && videoWrapBits < 63)
        return formatStartUs;
    // Pictures stamped before 0 (more than a rounding's worth) are pictures to be shown from the
    // start; priming leaves the pictures at or after 0 and stamps only the sound earlier.
    const int64_t halfInterval = pictureIntervalUs > 0 ? pictureIntervalUs / 2 : kUnknownHalfIntervalUs;
    if (videoStartUs != none && videoStartUs <= -halfInterval)
        return formatStartUs;
    return 0;
}
