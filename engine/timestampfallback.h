#pragma once

#include <cstdint>

// Which time a decoded picture, a sound block or a packet gets when the stream leaves stamps out
// (raw elementary streams, broken muxers, the frames a decoder drains at the end). All values are
// in the stream's time base; none is FFmpeg's AV_NOPTS_VALUE.
struct TimestampFallback {
    static constexpr int64_t none = INT64_MIN;

    // A picture: the decoder's best effort, else its pts, else one picture after the previous
    // picture (frameStep: one picture interval, none when the frame rate is unknown), else the
    // stream's start (startOffset), so a stampless stream still plays from its start.
    static int64_t picture(int64_t bestEffort, int64_t pts, int64_t previous, int64_t frameStep,
                           int64_t startOffset);
    // A sound block: the decoder's best effort, else where the previous block ended (expected),
    // else the stream's start.
    static int64_t sound(int64_t bestEffort, int64_t expected, int64_t startOffset);
    // A packet's stamp: the wanted one (pts or dts), else the other; none when both are missing.
    static int64_t packet(int64_t wanted, int64_t other);
};
