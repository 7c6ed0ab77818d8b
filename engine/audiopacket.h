#pragma once

#include "datapacket.h"

#include <cstdint>

// One block of decoded sound: interleaved signed 16-bit samples at the device's channel count.
class AudioPacket : public DataPacket {
public:
    // pts is in units of the audio stream's time base (the audio output scales it to seconds).
    AudioPacket(DataQueue *queue, const uint8_t *source, int size, int64_t pts);
    ~AudioPacket() override;

    int m_Played = 0;     // bytes already handed to the device; advanced by the audio output
    double m_Pts = 0.0;   // time stamp in audio stream time-base units
    int m_Generation = 0; // the playback clock's generation it was decoded in (see PlaybackClock)
};
