#pragma once

#include <QtGlobal>

// Tells when a seek has landed, so that the second it landed on can be measured. The decoder's
// seekDone() comes when the first sound block after the seek is queued, not when it plays: the
// playback clock still shows the old position then, and only moves once the audio callback takes
// the new block. So the watch waits, after seekDone(), for the clock to change from the value it
// had when seekDone() was handled; only sound of the new position can change it by then (the seek
// emptied the queue of the old one). Whether the new block was already playing when seekDone() was
// handled or not, the clock it then shows is at most a block or two past the landing, far below
// the whole second that is measured.
//
// A clip without sound never emits seekDone(): there the clock is driven by the pictures shown,
// and the seek emptied the picture queue, so the first change of the clock after the seek itself
// is the first picture of the new position.
//
// A clock outside the clip (beyond its duration, or negative) is not a landing. A seek that has not
// landed TimeoutMs after it was asked for has failed; the watch then disarms itself.
//
// Time (monotonic ms) and the clock (ms) come from the caller. GUI thread only; no locking.
class LandingWatch {
public:
    static constexpr qint64 TimeoutMs = 5000;

    enum class State {
        Idle,      // nothing armed
        Pending,   // armed, not landed yet
        Landed,    // the clock shows the new position now (the watch is disarmed)
        TimedOut,  // no landing within TimeoutMs (the watch is disarmed)
    };

    // A seek was just asked for at nowMs, with the clock at clockMs right after the request.
    // waitForSeekDone: the clip has sound, so the decoder will acknowledge the seek.
    void arm(qint64 nowMs, qint64 clockMs, bool waitForSeekDone);
    // The decoder acknowledged the seek; clockMs is the clock as the acknowledgement is handled.
    // Ignored while nothing is armed.
    void seekDone(qint64 clockMs);
    // Where the seek stands at nowMs with the clock at clockMs. durationMs <= 0: unknown, no bound.
    State poll(qint64 nowMs, qint64 clockMs, qint64 durationMs);
    void cancel();

    bool isArmed() const { return m_Armed; }
    bool seekDoneSeen() const { return m_SeekDoneSeen; }
    // ms since arming, as of the last poll.
    qint64 waited() const { return m_Waited; }

private:
    bool m_Armed = false;
    bool m_WaitForSeekDone = false;
    bool m_SeekDoneSeen = false;
    qint64 m_ArmedAt = 0;
    qint64 m_Baseline = 0;   // the clock value that does not count as landed
    qint64 m_Waited = 0;
};
