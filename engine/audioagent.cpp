#include "audioagent.h"

#include "log/logcategory.h"

#include <QString>
#include <QtDebug>

#include <algorithm>
#include <cstring>
#include <utility>

static LogCategory s_Log("decoder");

AudioAgent::AudioAgent(AudioFeed::Source source, PlaybackClock *clock, int sampleRate,
                       int channels, double timeBase, bool logChannels)
    : m_Feed(std::move(source))
    , m_Clock(clock)
    , m_TimeBase(timeBase)
    , m_SampleRate(std::clamp(sampleRate, minSampleRate, maxSampleRate))
    , m_Channels(std::clamp(channels, 1, 2))
{
    openDevice(logChannels);
}

AudioAgent::~AudioAgent()
{
    if (m_Device) {
        SDL_PauseAudioDevice(m_Device, 1);
        if (!m_Locked)
            SDL_LockAudioDevice(m_Device);
        m_Feed.discardCurrent();
        // Closing waits for the audio thread, which takes the device lock on every pass: the lock
        // must be free by then or both threads wait for each other.
        SDL_UnlockAudioDevice(m_Device);
        m_Locked = false;
    }
    closeDevice();
}

void AudioAgent::openDevice(bool logChannels)
{
    if (tryOpen())
        return;
    reportFailure(logChannels, QStringLiteral("audio device failed: %1; playing to the dummy driver")
                                   .arg(QString::fromUtf8(SDL_GetError())));
    // Play to the dummy driver instead: it calls back in real time, so the clock still runs.
    // The override beats SDL_AUDIODRIVER for this one open and is reset right after, so a later
    // agent tries the configured driver again. (While another agent keeps the audio subsystem up,
    // its driver stays in use; the dummy and disk drivers take only one device at a time.)
    closeDevice();
    SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
    const bool opened = tryOpen();
    SDL_ResetHint(SDL_HINT_AUDIODRIVER);
    if (!opened) {
        reportFailure(logChannels, QStringLiteral("audio device failed: %1; playing without sound")
                                       .arg(QString::fromUtf8(SDL_GetError())));
        closeDevice();
    }
}

bool AudioAgent::tryOpen()
{
    // Starting SDL's audio also starts its event subsystem, which by default takes over SIGINT and
    // SIGTERM and turns them into quit events that nobody here reads: the programs would no longer
    // end when asked to.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return false;
    m_SubsystemUp = true;
    SDL_AudioSpec wanted;
    SDL_zero(wanted);
    wanted.freq = m_SampleRate;
    wanted.format = AUDIO_S16LSB;
    wanted.channels = static_cast<Uint8>(m_Channels);
    wanted.silence = 0;
    wanted.samples = 1024;
    wanted.callback = &AudioAgent::callback;
    wanted.userdata = this;
    // Only the buffer's length may differ from the one asked for: SDL converts the rest, so the
    // callback always sees the format asked for, and its buffer is the device's own (a length it
    // had to bridge would sit in one more buffer of SDL's, unaccounted for in the delay).
    SDL_AudioSpec obtained;
    SDL_zero(obtained);
    m_Device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
    if (m_Device != 0) {
        m_BufferSeconds = double(obtained.samples > 0 ? obtained.samples : wanted.samples) / m_SampleRate;
        m_DelaySeconds = delayBuffers(SDL_GetCurrentAudioDriver()) * m_BufferSeconds;
    }
    return m_Device != 0;
}

double AudioAgent::delayBuffers(const char *driver)
{
    // SDL's pulseaudio driver asks the server for one buffer of latency in all and hands its next
    // buffer over only after the server has asked for more (a quarter buffer, the server's
    // request size for that latency): three quarters of a buffer are still queued when the
    // callback fills the next one.
    if (driver && std::strcmp(driver, "pulseaudio") == 0)
        return 1.75;
    // Otherwise a callback fills one buffer while the device plays the one before (what ffplay
    // assumes of SDL as well).
    return 2.0;
}

void AudioAgent::closeDevice()
{
    if (m_Device) {
        SDL_CloseAudioDevice(m_Device);
        m_Device = 0;
    }
    if (m_SubsystemUp) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        m_SubsystemUp = false;
    }
}

void AudioAgent::reportFailure(bool logChannels, const QString &text)
{
    if (logChannels)
        s_Log.log(LOG_WARN, text, "./audioagent", __LINE__);
    else
        qWarning().noquote() << text;
}

void AudioAgent::resume()
{
    if (!m_Device)
        return;
    // From a pause the block being played goes on where it stopped; from a stop it belongs to
    // the old position.
    if (m_Locked) {
        m_Feed.discardCurrent();
        SDL_UnlockAudioDevice(m_Device);
        m_Locked = false;
    }
    SDL_PauseAudioDevice(m_Device, 0);
}

void AudioAgent::pause()
{
    if (m_Device)
        SDL_PauseAudioDevice(m_Device, 1);
}

void AudioAgent::stop()
{
    if (!m_Device)
        return;
    SDL_PauseAudioDevice(m_Device, 1);
    if (!m_Locked) {
        SDL_LockAudioDevice(m_Device);
        m_Locked = true;
    }
}

int AudioAgent::clampVolume(int percent)
{
    return std::clamp(percent, 0, 100);
}

int AudioAgent::mixVolumeFor(int percent)
{
    return static_cast<int>(clampVolume(percent) / 100.0 * SDL_MIX_MAXVOLUME);
}

void AudioAgent::setVolume(int percent)
{
    const int clamped = clampVolume(percent);
    if (clamped == m_VolumePercent.load())
        return;
    m_MixVolume.store(mixVolumeFor(clamped));
    m_VolumePercent.store(clamped);
}

void AudioAgent::fill(uint8_t *buffer, int length)
{
    m_Feed.fill(buffer, length, m_MixVolume.load(), m_TimeBase, m_Clock, 1.0 / (m_SampleRate * m_Channels * 2.0));
}

void SDLCALL AudioAgent::callback(void *userdata, Uint8 *stream, int length)
{
    static_cast<AudioAgent *>(userdata)->fill(stream, length);
}
