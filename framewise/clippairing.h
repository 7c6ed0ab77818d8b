#pragma once

#include "pairingreadout.h"
#include "picturesource.h"
#include "pairtiming.h"

#include "render/framepacer.h"

#include <QByteArray>
#include <QtGlobal>

// framewise's render tick: when the first clip shows its next picture, and which picture of the
// second clip goes with it. The player routes each tick of its 4 ms timer here with the two
// clips' pictures and carries out what comes back (uploads, debug lines, a repaint).
//
// The first clip keeps its own pace: a FramePacer (framewise options) asks for its next picture
// at its own frame rate. The second clip is paired by time (PairTiming: each clip's times counted
// from its own first picture, moved by the offset): it shows its latest picture not after the
// first clip's, taking as many pictures as that needs (skipping the ones between) and holding its
// picture while the next one is ahead. So clips of different rates stay in step (a 60 fps second
// clip moves 2 or 3 pictures a tick beside a 25 fps first clip, a 25 fps one holds most ticks
// beside 60 fps), and two encodes of one rate move one picture a tick each.
//
// After the clips were repositioned (the start, a seek) the second clip's first picture is taken
// whatever its time, so its texture shows where it landed rather than a picture from before; where
// it landed ahead of the first clip it then holds until the first has caught up.
//
// A plain value object of the GUI thread; no locking. Times of day are the caller's monotonic
// milliseconds.
class ClipPairing {
public:
    // What one tick asks of the player.
    struct Tick {
        bool request = false;   // a picture of the first clip was due
        FramePacer::Outcome outcome = FramePacer::Outcome::Drop;   // valid with request
        // The pacer's trace for a dropped or repeated request ("drop ZERO: ..." for qDebug,
        // "repeat ZERO: ..." for the debugger output).
        QByteArray trace;
        double time1 = 0.0;          // Show: the first clip's new current picture (as stamped)
        bool paired = false;         // Show: the second clip has a current picture ("PAcket V2")
        bool secondMoved = false;    // it changed: upload it
        bool skipped = false;        // pictures of the second clip were passed over ("DIVERSI")
        double time2 = 0.0;          // the second clip's current picture (as stamped)
    };

    // The debug line written when the second clip skipped pictures.
    static const char *skipLine() { return "DIVERSI"; }

    // The first clip's rate, used as it is (0 or nonsense paces at 25); returns the logged interval
    // in whole milliseconds. secondRate: the second clip's, the unit of the offset.
    int setFrameRate(double rate, double secondRate = 0.0);
    // Moves the second clip by whole pictures (see PairTiming); it takes effect from the next tick.
    void setOffset(int pictures) { m_Timing.setOffset(pictures); }

    Tick tick(qint64 nowMs, PictureSource &first, PictureSource &second);
    // Both clips were sought to the given second: their next pictures start over.
    void seeked(int second);
    // Only the second clip was repositioned: its next picture is taken whatever its time.
    void secondSeeked() { m_SecondShown = false; }
    // Playback resumes after steps: the pacer starts afresh (the next picture may carry the time
    // of one shown before the steps), the second clip shows its picture stamped time2.
    void resumedAt(double time2);

    const PairTiming &timing() const { return m_Timing; }

    PairingReadout &readout() { return m_Readout; }

private:
    FramePacer m_Pacer{PacerOptions::framewise()};
    double m_Rate = 0.0;
    PairTiming m_Timing;
    PairingReadout m_Readout;
    bool m_FirstShown = false;        // the first clip has shown a picture
    bool m_SecondShown = false;       // the second clip has one since it was last positioned
    double m_Time2 = 0.0;             // the second clip's current picture
};
