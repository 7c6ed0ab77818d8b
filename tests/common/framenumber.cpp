#include "framenumber.h"

namespace testsupport {

int readFrameNumber(const uint8_t *rgb, int stride, int left, int top, int width, int height, int pixelBytes)
{
    if (!rgb || width < kFrameNumberBits || height < 4)
        return -1;
    // Three quarters down: clear of the corner indicator at the top and of any picture content that
    // a generator puts in the upper half.
    const int y = top + height * 3 / 4;
    int number = 0;
    for (int k = 0; k < kFrameNumberBits; ++k) {
        const int x = left + (2 * k + 1) * width / (2 * kFrameNumberBits);
        int sum = 0;
        int count = 0;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const uint8_t *p = rgb + (y + dy) * stride + (x + dx) * pixelBytes;
                sum += pixelBytes == 3 ? (p[0] + p[1] + p[2]) / 3 : p[0];
                ++count;
            }
        }
        const int level = sum / count;
        // Grey 96 comes out near 93 in RGB, bright 235 near 255; anything far from both is not a band.
        if (level > 190)
            number |= 1 << k;
        else if (level < 50 || level > 140)
            return -1;
    }
    return number;
}

} // namespace testsupport
