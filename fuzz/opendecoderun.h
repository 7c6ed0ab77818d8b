#pragma once

#include <cstddef>
#include <cstdint>

// One pass of the fuzz target, and what the tests replay: the bytes are opened as a clip by a
// seekmark-form decoder reading from memory, then driven the way the player drives it, all on the
// calling thread (deterministic, so the fuzzer's coverage feedback means something): one worker
// step at a time, after each that queued pictures a position query and a display request, and
// whatever else is queued freed at once; a seek to the middle once a few pictures came; on to the
// end of the input or one of the bounds below, then closed.
//
// Sound is decoded into the audio queue; the audio device opens (SDL's dummy driver in the fuzz
// target) but is never unpaused, so the queue is emptied here.
class OpenDecodeRun {
public:
    struct Result {
        bool opened = false;
        int steps = 0;
        int pictures = 0;      // pictures the decoder queued
        int audioBlocks = 0;
        bool seeked = false;
        bool ended = false;    // the decoder said videoEnd()
    };

    // Bounds that keep one input short: a few seconds of a small clip at most.
    static constexpr int maxSteps = 1500;
    static constexpr int maxPictures = 48;
    static constexpr int seekAfterPictures = 16;

    static Result run(const uint8_t *data, size_t size);
};
