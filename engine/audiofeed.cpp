#include "audiofeed.h"

#include "audiopacket.h"

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

void AudioFeed::fill(uint8_t *buffer, int length, int mixVolume, double timeBase, std::atomic<double> *clock)
{
    if (m_DiscardPending.exchange(false)) {
        delete m_Current;
        m_Current = nullptr;
    }
    if (length <= 0)
        return;
    std::memset(buffer, 0, static_cast<size_t>(length));
    while (length > 0) {
        if (m_Offset <= 0) {
            delete m_Current;
            m_Current = m_Source ? m_Source() : nullptr;
        }
        if (!m_Current) {
            // The rest of the buffer is already silent.
            m_Offset = 0;
            return;
        }
        if (clock)
            clock->store(m_Current->m_Pts * timeBase);
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

void AudioFeed::discardCurrent()
{
    m_DiscardPending.store(true);
}
