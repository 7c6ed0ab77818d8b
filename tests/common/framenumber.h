#pragma once

#include <cstdint>

// Reads back the frame number that the clip generators draw into every picture: 12 vertical bands,
// band k bright when bit k is set. Works on the luma plane of the decoder's pictures and on
// screenshots of the programs' windows, where the picture is scaled and has black bars around it.
namespace testsupport {

// Reads the number from a picture of width x height with the given row stride in bytes and
// pixelBytes bytes a pixel (3: RGB24, 1: a luma plane). The picture may be only part of a larger
// image: (left, top, width, height) is the picture's rectangle inside the image. Returns -1 when a
// band is neither clearly bright nor clearly grey.
inline int readFrameNumber(const uint8_t *rgb, int stride, int left, int top, int width, int height, int pixelBytes = 3)
{
    constexpr int bits = 12;
    if (!rgb || width < bits || height < 4)
        return -1;
    // Three quarters down: clear of the corner indicator at the top and of any picture content that
    // a generator puts in the upper half.
    const int y = top + height * 3 / 4;
    int number = 0;
    for (int k = 0; k < bits; ++k) {
        const int x = left + (2 * k + 1) * width / (2 * bits);
        int sum = 0;   // of the 3 x 3 pixels around (x, y)
        for (int i = 0; i < 9; ++i) {
            const uint8_t *p = rgb + (y + i / 3 - 1) * stride + (x + i % 3 - 1) * pixelBytes;
            sum += pixelBytes == 3 ? (p[0] + p[1] + p[2]) / 3 : p[0];
        }
        // Grey 96 comes out near 93 in RGB, bright 235 near 255; anything far from both is not a band.
        if (sum / 9 > 190)
            number |= 1 << k;
        else if (sum / 9 < 50 || sum / 9 > 140)
            return -1;
    }
    return number;
}

// From a decoded picture's luma plane (the start of its buffer).
inline int readFrameNumber(const uint8_t *luma, int width, int height)
{
    return readFrameNumber(luma, width, 0, 0, width, height, 1);
}

} // namespace testsupport
