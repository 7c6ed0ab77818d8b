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

template <typename Judge>
void AudioFeed::fillWith(uint8_t *buffer, int length, int mixVolume, Judge judge)
{
    if (m_DiscardPending.exchange(false)) {
        delete m_Current;
        m_Current = nullptr;
        m_Waiting = false;
    }
    if (length <= 0)
        return;
    std::memset(buffer, 0, static_cast<size_t>(length));
    while (length > 0) {
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
        const int verdict = judge(m_Current);
        m_Waiting = verdict == 1;
        if (m_Waiting)
            return;   // silent until the clock reaches the block
        if (verdict == 2) {
            delete m_Current;
            m_Current = nullptr;
            m_Offset = 0;
            continue;
        }
        const int left = m_Current->m_Buffer ? m_Current->m_Size - m_Current->m_Played : 0;
        const int n = std::max(0, std::min(left, length));
        if (n > 0) {
            SDL_MixAudioFormat(buffer, m_Current->m_Buffer + m_Current->m_Played, AUDIO_S16LSB,
                               static_cast<Uint32>(n), mixVolume);
            m_Current->m_Played += n;
            buffer += n;
            length -= n;
        }
        m_Offset = (m_Current->m_Played < m_Current->m_Size && n > 0) ? m_Current->m_Played : 0;
    }
}

void AudioFeed::fill(uint8_t *buffer, int length, int mixVolume, double timeBase, std::atomic<double> *clock)
{
    fillWith(buffer, length, mixVolume, [clock, timeBase](const AudioPacket *block) {
        if (clock)
            clock->store(block->m_Pts * timeBase);
        return 0;
    });
}

void AudioFeed::fill(uint8_t *buffer, int length, int mixVolume, double timeBase, PlaybackClock *clock,
                     double secondsPerByte)
{
    fillWith(buffer, length, mixVolume, [clock, timeBase, secondsPerByte](const AudioPacket *block) {
        if (!clock)
            return 0;
        switch (clock->sound(block->m_Pts * timeBase, block->m_Size * secondsPerByte, block->m_Generation)) {
        case PlaybackClock::SoundAction::Play:
            return 0;
        case PlaybackClock::SoundAction::Wait:
            return 1;
        case PlaybackClock::SoundAction::Skip:
            break;
        }
        return 2;
    });
}

void AudioFeed::discardCurrent()
{
    m_DiscardPending.store(true);
}
