#pragma once

#include "audiofeed.h"

#include <QString>

#include <SDL.h>

#include <atomic>

class PlaybackClock;

// Plays decoded sound through an SDL audio device and, as it goes, keeps the playback clock that
// the picture scheduler follows. The device asks for signed 16-bit little-endian samples at the
// stream's rate and at most two channels, 1024 sample frames per buffer (or the device's own
// length, which SDL reports in the SDL_AudioSpec it opened with, and the clock's delay follows); SDL converts
// the rest to whatever the hardware takes. The rate is held within minSampleRate..maxSampleRate: a file may declare
// any rate, and at 2 Hz one buffer would last over eight minutes, which closing the device waits
// out; the decoder resamples to the device's rate. Each agent opens its own device, so two decoders can play side by side.
// When no device can be opened (no sound card), the agent says so in a WARN line and plays to
// SDL's dummy driver instead, which still calls back in real time, so the clock keeps running.
//
// Threads: fill() runs on SDL's audio thread with the device lock held; everything else on the
// controlling (GUI) thread. The feed's block and offset belong to the callback while the device
// runs and are touched by the controlling thread only while the callback is shut out (device
// paused and locked). m_Locked is the controlling thread's own record of holding the device lock.
// The volume values are atomics because setVolume() may run while the callback reads them.
class AudioAgent {
public:
    static constexpr int minSampleRate = 4000;
    static constexpr int maxSampleRate = 384000;

    // source: where blocks come from (the decoder's audio queue); clock: the playback clock that
    // judges every block and that the sound drives while it plays; sampleRate and channels: the decoded stream's (channels limited to 2 and
    // the rate to minSampleRate..maxSampleRate here; see sampleRate()); timeBase: seconds per unit of the blocks' time stamps; logChannels: report a device
    // failure through the "decoder" log channel, otherwise through qWarning.
    AudioAgent(AudioFeed::Source source, PlaybackClock *clock, int sampleRate, int channels,
               double timeBase, bool logChannels);
    virtual ~AudioAgent();

    AudioAgent(const AudioAgent &) = delete;
    AudioAgent &operator=(const AudioAgent &) = delete;

    // Lets the device run (from every state); after a stop the partly played block is discarded,
    // after a pause it plays on.
    void resume();
    // Pauses the device; the current block stays.
    void pause();
    // Pauses the device and keeps the callback shut out (device lock held) until resume() or
    // destruction. Calling it twice is harmless.
    void stop();

    // Clamped to 0..100; the mix volume follows as truncate(percent / 100 x 128).
    void setVolume(int percent);
    int volume() const { return m_VolumePercent.load(); }
    int mixVolume() const { return m_MixVolume.load(); }

    // The device's channel count (1 or 2) and rate: what the decoder has to deliver.
    int channels() const { return m_Channels; }
    int sampleRate() const { return m_SampleRate; }
    bool isDeviceOpen() const { return m_Device != 0; }
    double timeBase() const { return m_TimeBase; }
    // Seconds of sound in one callback's buffer as the device opened, and from the end of a
    // callback until the end of its buffer is heard (see PlaybackClock::setDevice()).
    double bufferSeconds() const { return m_BufferSeconds; }
    double delaySeconds() const { return m_DelaySeconds; }

    // The callback body.
    void fill(uint8_t *buffer, int length);

    // The device's delay in buffers: from the end of a callback until the end of its buffer is
    // heard, with SDL's driver of that name.
    static double delayBuffers(const char *driver);
    static int clampVolume(int percent);
    static int mixVolumeFor(int percent);

private:
    static void SDLCALL callback(void *userdata, Uint8 *stream, int length);
    void openDevice(bool logChannels);
    bool tryOpen();
    void closeDevice();
    void reportFailure(bool logChannels, const QString &text);

    AudioFeed m_Feed;
    PlaybackClock *m_Clock;   // not owned
    std::atomic<int> m_VolumePercent{50};
    std::atomic<int> m_MixVolume{64};
    const double m_TimeBase;
    const int m_SampleRate;
    const int m_Channels;
    bool m_SubsystemUp = false;    // this agent holds one reference on SDL's audio subsystem
    SDL_AudioDeviceID m_Device = 0;
    double m_BufferSeconds = 0.0;   // set when the device opens
    double m_DelaySeconds = 0.0;
    bool m_Locked = false;          // the controlling thread holds the device lock (stopped)
};
