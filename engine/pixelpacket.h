#pragma once

#include "datapacket.h"
#include "picturecolour.h"

#include <QRect>
#include <QSize>

// One decoded picture in planar 8-bit 4:2:0: the luma plane (width x height bytes), then Cb and
// Cr (chromaWidth x chromaHeight bytes each), every row packed without padding, top row first.
// This is the decoder's own layout for most streams, so the engine copies planes instead of
// converting to RGB, and a picture takes 1.5 bytes a pixel instead of 3; the renderer converts to
// RGB on the GPU with the matrix and range the picture carries.
class PixelPacket : public DataPacket {
public:
    // source null: the buffer is taken from the pool but left as it is, for the producer to
    // write the picture straight into it.
    PixelPacket(DataQueue *queue, const uint8_t *source, int size, double time, bool keyFrame = false);
    ~PixelPacket() override;

    // Odd sizes round up: the last chroma sample covers a single luma column or row.
    static int chromaWidth(int width) { return (width + 1) / 2; }
    static int chromaHeight(int height) { return (height + 1) / 2; }
    // Bytes of all three planes of a width x height picture; 0 for an empty size.
    static int bufferSize(int width, int height);

    // Plane 0 (Y), 1 (Cb) or 2 (Cr) and its row length in bytes; null / 0 when the packet has no
    // buffer large enough for its size.
    uint8_t *plane(int index) const;
    int lineSize(int index) const;

    // The decoded picture's size, and the part of it these planes show (m_Width x m_Height of
    // them): the whole of it, unless the decoder cut and scaled it for the display (see
    // PictureTarget). Empty when the producer set nothing: then the planes are the whole picture.
    QSize sourceSize() const { return m_SourceSize.isEmpty() ? QSize(m_Width, m_Height) : m_SourceSize; }
    QRect sourceRegion() const { return m_SourceRegion.isEmpty() ? QRect(QPoint(0, 0), sourceSize()) : m_SourceRegion; }

    double m_Time = 0.0;   // presentation time in seconds, counted from the input's start
    bool m_KeyFrame = false;   // the decoder marked the picture as a keyframe (a seek can land on it)
    int m_Width = 0;       // of the planes
    int m_Height = 0;
    QSize m_SourceSize;
    QRect m_SourceRegion;
    PictureColour m_Colour;    // how the shader turns the samples into RGB
    float m_Aspect = 0.0f;     // display aspect ratio; 0 when the pixels are square
};
