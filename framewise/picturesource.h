#pragma once

#include <optional>

// One clip's pictures as framewise's pairing sees them: the time of the picture that would come
// next, and taking it, which makes it the clip's current picture (the one its texture gets). The
// player implements it over a decoder's picture scheduler, the tests over a list of times, so
// the pairing is decided without a window, a decoder or a clock.
class PictureSource {
public:
    virtual ~PictureSource() = default;
    // The next picture's time in seconds; none while nothing is queued.
    virtual std::optional<double> nextTime() = 0;
    // Makes the next picture current and returns its time; none when there was no picture.
    virtual std::optional<double> take() = 0;
};
