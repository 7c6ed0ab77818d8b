// The audio output's device on SDL's dummy driver.
#include "engine/audioagent.h"
#include "engine/audiopacket.h"
#include "engine/playbackclock.h"

#include <gtest/gtest.h>

namespace {

// A damaged file may declare 2 Hz (the fuzz target found one): one device buffer would last over
// eight minutes, and closing the device waits for the buffer in flight.
TEST(AudioOutput, ADeclaredRateNoDevicePlaysIsHeldToTheNearestPlayableOne)
{
    const int cases[][2] = {{2, AudioAgent::minSampleRate},      {0, AudioAgent::minSampleRate},
                            {-44100, AudioAgent::minSampleRate}, {48000, 48000},
                            {100000000, AudioAgent::maxSampleRate}};
    for (const auto &c : cases) {
        PlaybackClock clock;
        AudioAgent agent([] { return static_cast<AudioPacket *>(nullptr); }, &clock, c[0], 2, 1.0 / 48000, false);
        EXPECT_TRUE(agent.sampleRate() == c[1] && agent.isDeviceOpen()) << c[0];
        agent.resume();   // running, so closing has a buffer in flight to wait for
    }
}

} // namespace
