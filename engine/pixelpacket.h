#pragma once

#include "datapacket.h"

// One converted picture: RGB24, rows top to bottom, each row exactly 3 x width bytes.
class PixelPacket : public DataPacket {
public:
    PixelPacket(DataQueue *queue, const uint8_t *source, int size, double time);
    ~PixelPacket() override;

    double m_Time = 0.0;   // presentation time in seconds, counted from the input's start
};
