#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

class AudioPacket;
class PlaybackClock;

// The body of the audio callback, apart from the device: hands decoded blocks to the device buffer
// in queue order, continuing a block that spans two callbacks where it stopped, mixes them at the
// given volume into a cleared buffer, and lets the playback clock judge every chunk (play it, keep
// it waiting behind silence, or skip it) and follow what the buffer holds. It only knows where
// blocks come from, so it can be driven by a plain queue in tests.
//
// Threads: fill() runs on SDL's audio thread and alone touches m_Current, m_Offset and m_Waiting.
// discardCurrent() comes from the controlling thread and only raises an atomic flag that the next
// fill() acts on: SDL's device lock did not order the controlling thread's access against the
// audio thread's under ThreadSanitizer with the dummy driver, so the block is never handed across.
class AudioFeed {
public:
    // Returns the next block (the caller owns it) or null when none is available.
    using Source = std::function<AudioPacket *()>;

    explicit AudioFeed(Source source);
    ~AudioFeed();

    AudioFeed(const AudioFeed &) = delete;
    AudioFeed &operator=(const AudioFeed &) = delete;

    // Fills length bytes of interleaved signed 16-bit little-endian samples. The buffer is cleared
    // first (SDL2 hands over the previous call's data), so mixing at mixVolume (0..128) scales.
    // When no block is available the rest stays silent. A block's time is its time stamp x
    // timeBase, and secondsPerByte gives the time of each byte in it. clock (may be null) judges
    // each chunk (PlaybackClock::sound()) and hears of the filled buffer (callbackDone()): a block
    // that has to wait keeps its place and the rest of the buffer stays silent; a skipped block is
    // dropped unplayed.
    void fill(uint8_t *buffer, int length, int mixVolume, double timeBase, PlaybackClock *clock,
              double secondsPerByte);

    // Drops the partly played block (on resume), at the start of the next fill(). The offset is
    // kept on purpose: that fill finds no block while the offset still points into one, plays one
    // buffer of silence, and starts on a fresh block the call after.
    void discardCurrent();

    int offset() const { return m_Offset; }
    const AudioPacket *current() const { return m_Current; }

private:
    void fillBuffer(uint8_t *buffer, int length, int mixVolume, double timeBase, PlaybackClock *clock,
                    double secondsPerByte);

    Source m_Source;
    AudioPacket *m_Current = nullptr;   // owned; the block being played
    int m_Offset = 0;                   // read position in m_Current; 0 = fetch the next block
    bool m_Waiting = false;             // m_Current waits for the clock: do not fetch another
    std::atomic<bool> m_DiscardPending{false};
};
