#pragma once

#include "datapacket.h"

// One converted picture: RGB24, rows top to bottom, each row exactly 3 x width bytes.
class PixelPacket : public DataPacket {
public:
    // source null: the buffer is taken from the pool but left as it is, for the producer to
    // write the picture straight into it.
    PixelPacket(DataQueue *queue, const uint8_t *source, int size, double time, bool keyFrame = false);
    ~PixelPacket() override;

    double m_Time = 0.0;   // presentation time in seconds, counted from the input's start
    bool m_KeyFrame = false;   // the decoder marked the picture as a keyframe (a seek can land on it)
};
