#pragma once

#include <cstdint>

// Where an input's time begins: the time every picture, sound block, position and seek target
// counts from. libavformat reports a start below 0 for two different reasons. Sound priming (the
// AAC or Opus encoder's delay, a few tens of milliseconds, in Matroska, WebM or an MP4 without its
// edit list) stamps only the sound before 0; the pictures start at or after 0, and counting from
// the sound's start would stamp every picture late. Stamps that wrap (33 bits in MPEG-TS and -PS)
// and began shortly before the wrap are unwrapped by libavformat into times below 0: there the
// whole input starts before 0, and ignoring that puts every position seconds off. A plain function
// of what libavformat reports, so the rule is tested by table.
struct InputStart {
    static constexpr int64_t none = INT64_MIN;   // libavformat's AV_NOPTS_VALUE

    // All times in µs. formatStartUs: the input's start (its earliest stream); videoStartUs: the
    // played video stream's; videoWrapBits: the bits its stamps have before they wrap (64 when they
    // do not); pictureIntervalUs: one picture of it (0 when the rate is unknown).
    static int64_t choose(int64_t formatStartUs, int64_t videoStartUs, int videoWrapBits, int64_t pictureIntervalUs);
};
