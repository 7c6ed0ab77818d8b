#pragma once

#include <atomic>

// The sound waits for the pictures: after the open, a seek or a restart the audio callback takes
// no block (plays silence and leaves the clock alone) until picturesFirst pictures of the new
// position are queued. Sound decodes in microseconds, a 1080p picture comes out of the frame
// threads several packets later, and the display takes its first pictures slowly (shaders
// compiled, the texture allocated: ticks of 25-30 ms instead of 5); a clock started by the sound
// alone ran 50 to 100 ms ahead of the first pictures, and the scheduler dropped them as late. The
// gate also opens when the sound queue is at its mark or the input has ended, so a clip whose
// pictures never come still plays.
//
// Threads: close() on the GUI thread (open, restart) and under the decoder's lock (seek); update()
// and open() on the worker; isOpen() on SDL's audio thread. The state is one atomic.
class SoundGate {
public:
    static constexpr int picturesFirst = 4;
    // The audio queue's mark (DecoderAgent::audioQueueCapacity).
    static constexpr int soundMark = 31;

    // The decision: true once the sound may play.
    static bool opens(int pictures, int audioBlocks, bool inputEnded);

    void close() { m_Open.store(false); }
    void open() { m_Open.store(true); }
    // Opens the gate when opens() says so; never closes it.
    void update(int pictures, int audioBlocks, bool inputEnded)
    {
        if (opens(pictures, audioBlocks, inputEnded))
            m_Open.store(true);
    }
    bool isOpen() const { return m_Open.load(); }

private:
    std::atomic<bool> m_Open{true};
};
