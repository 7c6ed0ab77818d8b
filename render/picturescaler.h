#pragma once

#include "engine/ffmpegptr.h"
#include "engine/picturecolour.h"

#include <QRect>
#include <QSize>

#include <cstdint>

class PixelPacket;

// Converts a region of a picture's planes (planar 8-bit 4:2:0, see PixelPacket) into 32-bit BGRA
// pixels of another size in one pass of libswscale, with the picture's own matrix (BT.601, BT.709,
// BT.2020) and range, as a software video output does. The result stays here until the next
// conversion: rows top first, stride() bytes apart (padded for libswscale's vector code).
//
// GUI thread (whoever owns it); no locking.
class PictureScaler {
public:
    // crop: the part of the picture to convert, in picture pixels; its left and top edges are
    // moved to even columns and rows (the chroma planes hold one sample per two), and it is kept
    // inside the picture. False, with the last result dropped, when the picture has no planes,
    // the crop or the target is empty, or libswscale refuses the sizes.
    bool convert(const PixelPacket &picture, QRect crop, QSize target);

    const uint8_t *pixels() const { return m_Pixels.get(); }
    int stride() const { return m_Stride; }
    QSize size() const { return m_Size; }

private:
    SwsContextPtr m_Context;
    QSize m_SourceSize;            // the context's input size
    QSize m_ContextTarget;         // its output size
    PictureColour m_Colour;        // the matrix and range the context converts with
    AvBufferPtr m_Pixels;
    int m_Stride = 0;
    QSize m_Size;                  // of the last result; empty when there is none
    size_t m_Capacity = 0;         // bytes allocated in m_Pixels
};
