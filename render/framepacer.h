#pragma once

#include <QByteArray>
#include <QtGlobal>

// The two ways the programs pace their picture requests. seekmark catches up a backlog picture by
// picture and keeps its rate within a plausible range; framewise trusts the clip's rate and cuts
// a real backlog short.
struct PacerOptions {
    // After a shown picture, a backlog of more than one interval plus 5 ms (the timer stalled) is
    // cut to the part below one interval instead of being caught up on consecutive ticks. Anything
    // less is kept: the timer's period rarely divides the interval, and dropping the remainder
    // made every picture wait for the next whole tick (36 ms instead of 33.3 at 30 fps with a 4 ms
    // timer, 27.6 pictures a second).
    bool cutBacklog = false;
    // Rates outside (20, 60] frames per second are taken as 25 (seekmark's safety net for streams
    // that report field rates or nonsense). Off, the rate is used as it is.
    bool limitRate = true;
    // Aim the requests at the playback clock (see followClock()); only for a player whose
    // pictures are scheduled against a sound clock.
    bool followClock = true;

    static PacerOptions seekmark() { return PacerOptions(); }

    static PacerOptions framewise()
    {
        PacerOptions o;
        o.cutBacklog = true;
        o.limitRate = false;
        o.followClock = false;
        return o;
    }
};

// Decides, tick by tick, when the player asks its scheduler for a picture, so that requests come
// at the clip's frame rate however irregularly the fast timer fires. Every tick adds the time that
// passed to an accumulator; once one frame interval has gathered, the player asks for a picture
// and reports what it got back, which spends the accumulator:
//   - no picture (late ones were just dropped, or nothing is open): one more interval is added,
//     so the next tick asks again at once;
//   - the picture shown last (the next one is early, or none is queued): the accumulator restarts
//     at 0, so the next request waits a whole interval;
//   - a new picture: one interval is spent (and with cutBacklog a real backlog is cut).
//
// The interval shown and logged is whole milliseconds (trunc(1000 / rate)), but the requests are
// paced at the exact rate: at 30 or 60 pictures a second the truncated interval asked for 1 or 4 %
// more pictures than the clip has, so the pictures drifted ahead of the sound until the
// scheduler's hold (a picture 101 ms early) caught them, and then stayed 70 to 100 ms ahead.
//
// With followClock the player also reports, for every new picture, how far its time is from the
// playback clock, and how long the picture took from the request to the screen. The next request
// is then aimed at the moment the next picture is due on the clock, earlier by the display's time
// (the median of the last displaySamples), so that it reaches the screen when its sound is heard.
// The rate stays the clip's; the phase is the clock's, which a fixed rate cannot keep by itself
// (the sound starts, and restarts after a seek, at its own moment). untilRequestUs() tells the
// player when that is, so it can wake for it between the fast timer's ticks: a request that waits
// for the next 5 ms tick comes up to 5 ms late, and unevenly so.
//
// Time comes from the caller as monotonic milliseconds (a QElapsedTimer, or a fake in tests), so
// the elapsed time never goes negative. The very first tick has no previous tick to measure from;
// it counts as exactly one frame interval, so the first picture is requested at once and pacing
// starts from there (rather than from a huge first elapsed time that would let the first queued
// pictures race by at the tick rate).
//
// Owned and used by one thread (the GUI thread's timer); no locking.
class FramePacer {
public:
    // A tick later than this after the previous one is worth a debug line.
    static constexpr int LateTickMs = 15;
    // The rate used when the clip's own is unusable (or, with limitRate, out of range).
    static constexpr double DefaultRate = 25.0;
    // The plausible range of rates with limitRate: above LowestRate, up to HighestRate.
    static constexpr double LowestRate = 20.0;
    static constexpr double HighestRate = 60.0;
    // The rate a pacer with these options uses for a clip's rate.
    static double rateUsed(double rate, bool limitRate);

    struct TickDecision {
        qint64 elapsed = 0;    // ms since the previous tick (one interval for the first tick)
        bool late = false;     // elapsed > LateTickMs; never set on the first tick
        bool request = false;  // ask the scheduler for a picture now, then call picture()/noPicture()
    };

    enum class Outcome {
        Show,    // a new picture: upload and repaint it
        Drop,    // nothing came back
        Repeat,  // the picture already on screen came back: nothing to upload
    };

    struct PictureDecision {
        Outcome outcome = Outcome::Show;
        qint64 accumulatedBefore = 0;  // the accumulator as the request found it
        // "drop ZERO: %1\n" or "repeat ZERO: %1\n" with the accumulator before the change; empty
        // for a shown picture. The caller chooses where it goes.
        QByteArray trace() const;
    };

    explicit FramePacer(const PacerOptions &options = PacerOptions());

    // Sets the frame interval from the clip's frame rate and returns it (ms): trunc(1000 / rate),
    // where a rate that is zero, negative or not a number is replaced by DefaultRate, and with
    // limitRate also any rate outside (20, HighestRate]. (Up to 30 once: a 50 or 60 frames a second
    // clip was then asked for 25 pictures a second and lost more than half of them to the drop rule.)
    int setFrameRate(double rate);
    static int intervalForRate(double rate, bool limitRate);

    // One timer tick at monotonic time nowMs (or nowUs).
    TickDecision tick(qint64 nowMs) { return tickUs(nowMs * 1000); }
    TickDecision tickUs(qint64 nowUs);

    // What the request of the current tick returned: a picture stamped with time seconds, or none.
    PictureDecision picture(double time);
    PictureDecision noPicture();
    // A new picture just shown was aheadUs early (negative: late) against the playback clock when
    // it was asked for; it took tookUs from the request to the screen. Both do nothing without
    // followClock.
    void followClock(qint64 aheadUs);
    // The most a picture may be off the clock and still set the phase.
    static constexpr qint64 maxPhaseUs = 1000000;
    void displayTook(qint64 tookUs);
    // µs from the last tick until the next request is due (0: now).
    qint64 untilRequestUs() const;
    // The display's time that requests are aimed ahead by, µs.
    qint64 leadUs() const { return m_LeadUs; }

    // ms gathered towards the next request (truncated).
    qint64 accumulated() const { return m_AccumulatedUs / 1000; }
    int frameInterval() const { return m_FrameInterval; }
    // The exact interval the requests are paced at, in µs.
    qint64 intervalUs() const { return m_IntervalUs; }
    double lastPictureTime() const { return m_LastPictureTime; }
    const PacerOptions &options() const { return m_Options; }

private:
    PacerOptions m_Options;
    // µs gathered towards the next request; 64-bit because a clip that never delivers a picture
    // keeps adding to it on every due tick for as long as the window stays open.
    qint64 m_AccumulatedUs = 0;
    int m_FrameInterval = 40;         // ms per picture, truncated (the logged interval)
    qint64 m_IntervalUs = 40000;      // µs per picture, exact to the µs (the pacing)
    double m_LastPictureTime = -1.0;  // time of the picture shown last; no picture has it at first
    qint64 m_LastTickUs = 0;          // monotonic µs of the previous tick
    bool m_HaveLastTick = false;
    qint64 m_LeadUs = 0;              // median of m_Took
    static constexpr int displaySamples = 9;
    qint64 m_Took[displaySamples] = {};
    int m_TookCount = 0;
};
