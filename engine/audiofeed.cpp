#include "audiofeed.h"

#include "audiopacket.h"
#include "playbackclock.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <utility>

AudioFeed::AudioFeed(Source source)
    : m_Source(std::move(source))
{
}

AudioFeed::~AudioFeed()
{
    delete m_Current;
}

void AudioFeed::fill(uint8_t *buffer, int length, int mixVolume, double timeBase, PlaybackClock *clock,
                     double secondsPerByte)
{
    fillBuffer(buffer, length, mixVolume, timeBase, clock, secondsPerByte);
    if (clock)
        clock->callbackDone();
}

void AudioFeed::fillBuffer(uint8_t *buffer, int length, int mixVolume, double timeBase, PlaybackClock *clock,
                           double secondsPerByte)
{
    if (m_DiscardPending.exchange(false)) {
        delete m_Current;
        m_Current = nullptr;
        m_Waiting = false;
    }
    if (length <= 0)
        return;
    std::memset(buffer, 0, static_cast<size_t>(length));
    int filled = 0;
    while (filled < length) {
        if (m_Offset <= 0 && !m_Waiting) {
            delete m_Current;
            m_Current = m_Source ? m_Source() : nullptr;
        }
        if (!m_Current) {
            // The rest of the buffer is already silent.
            m_Offset = 0;
            m_Waiting = false;
            return;
        }
        const int left = m_Current->m_Buffer ? m_Current->m_Size - m_Current->m_Played : 0;
        const int n = std::max(0, std::min(left, length - filled));
        PlaybackClock::SoundAction verdict = PlaybackClock::SoundAction::Play;
        if (clock)
            verdict = clock->sound(m_Current->m_Pts * timeBase + m_Current->m_Played * secondsPerByte,
                                   n * secondsPerByte, m_Current->m_Generation, filled * secondsPerByte);
        m_Waiting = verdict == PlaybackClock::SoundAction::Wait;
        if (m_Waiting)
            return;   // silent until the clock reaches the block
        if (verdict == PlaybackClock::SoundAction::Skip) {
            delete m_Current;
            m_Current = nullptr;
            m_Offset = 0;
            continue;
        }
        if (n > 0) {
            SDL_MixAudioFormat(buffer + filled, m_Current->m_Buffer + m_Current->m_Played, AUDIO_S16LSB,
                               static_cast<Uint32>(n), mixVolume);
            m_Current->m_Played += n;
            filled += n;
        }
        m_Offset = (m_Current->m_Played < m_Current->m_Size && n > 0) ? m_Current->m_Played : 0;
    }
}

void AudioFeed::discardCurrent()
{
    m_DiscardPending.store(true);
}
