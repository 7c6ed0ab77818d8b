#pragma once

#include <cstdint>

// What the picture scheduler does with the oldest queued picture, decided from plain numbers so
// the thresholds can be checked by table.
enum class PictureAction {
    Show,   // advance: the picture becomes the shown one
    Hold,   // too early: show the previous picture again
    Drop,   // too late: start dropping pictures
};

struct SchedulerDecision {
    static constexpr int lateThresholdMs = -50;   // a picture more than 50 ms late is dropped
    static constexpr int holdFromMs = 101;        // a picture 101..999 ms early is held back
    static constexpr int holdToMs = 999;
    static constexpr int dropLimit = 30;          // most pictures dropped by one request

    // The clock difference of a picture, as the log prints it ("ccdiff"): (picture time - clock)
    // in milliseconds, truncated toward zero. Negative means late.
    static int clockDifferenceMs(double pictureTime, double clock);

    // The container's duration in whole seconds (truncated); an unknown duration (the no-value
    // marker, the most negative 64-bit number) gives a hugely negative value.
    static int64_t wholeSeconds(int64_t durationUs);

    // diffMs: the picture's clock difference; clock: the playback clock in seconds; durationUs:
    // the container's duration; noAudio: the pictures drive the clock themselves.
    // Without audio every picture is shown. Otherwise below -50 ms drops; 101..999 ms early holds,
    // except near the end (the clock rounded to whole seconds at least the duration in whole
    // seconds minus 1), where the sound, and with it the clock, may have run out already.
    static PictureAction decide(int diffMs, double clock, int64_t durationUs, bool noAudio);
};
