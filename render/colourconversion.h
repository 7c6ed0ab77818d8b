#pragma once

#include "engine/picturecolour.h"

#include <array>

// The affine map from sampled Y, Cb, Cr (each 0..1 as a GL texture returns an 8-bit sample) to
// R, G, B (0..1) for a picture's matrix and range: rgb = matrix * (yuv - offset). Limited range
// stretches luma 16..235 and chroma 16..240 to the full scale; full range only centres chroma.
// The fragment shader applies it; working it out here keeps the numbers checkable without GL.
//
// A value type; any thread.
struct ColourConversion {
    static ColourConversion forColour(const PictureColour &colour);

    // Column-major, as glUniformMatrix3fv takes it without transposing: column 0 is what Y
    // contributes to R, G, B, column 1 Cb's, column 2 Cr's.
    std::array<float, 9> matrix{};
    std::array<float, 3> offset{};
};
