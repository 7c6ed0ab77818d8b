#pragma once

#include <cstdint>

// Reads back the frame number that the clip generators draw into every picture: 12 vertical bands,
// band k bright when bit k is set. Works on the luma plane of the decoder's pictures and on
// screenshots of the programs' windows, where the picture is scaled and has black bars around it.
namespace testsupport {

constexpr int kFrameNumberBits = 12;

// Reads the number from a picture of width x height with the given row stride in bytes and
// pixelBytes bytes a pixel (3: RGB24, 1: a luma plane). The picture may be only part of a larger
// image: (left, top, width, height) is the picture's rectangle inside the image. Returns -1 when a
// band is neither clearly bright nor clearly grey.
int readFrameNumber(const uint8_t *rgb, int stride, int left, int top, int width, int height, int pixelBytes = 3);

// From a decoded picture's luma plane (the start of its buffer).
inline int readFrameNumber(const uint8_t *luma, int width, int height)
{
    return readFrameNumber(luma, width, 0, 0, width, height, 1);
}

} // namespace testsupport
