#pragma once

#include "startalignment.h"

#include <QtGlobal>

// Which picture of the second clip goes with a picture of the first: the second clip's latest
// picture not after the first clip's, comparing times counted from each clip's own first picture
// (StartAlignment). "Not after" allows a quarter of the first clip's interval, so the same picture
// stamped in other units by two containers neither holds the second clip back nor makes it skip.
// The offset moves the second clip by whole pictures of its own: +1 pairs its picture k - 1 with
// the first clip's picture k (the second clip one picture later), -1 its picture k + 1 (earlier).
// Times are compared in whole microseconds, so a picture on the edge is decided the same way
// whatever the doubles' last bits.
//
// The one rule behind the window's playback, its steps, the headless comparison and the offset
// search. A plain value object; no locking.
class PairTiming {
public:
    using Clip = StartAlignment::Clip;

    static qint64 microseconds(double seconds);

    // The clips' frame rates (0 or nonsense counts as 25 pictures a second).
    void setRates(double firstRate, double secondRate);
    double firstInterval() const { return m_FirstInterval; }
    double secondInterval() const { return m_SecondInterval; }
    void setOffset(int pictures) { m_Offset = pictures; }
    int offset() const { return m_Offset; }

    // A picture handed out by a clip's decoder (the alignment learns where each clip starts).
    void picture(Clip clip, double time) { m_Alignment.picture(clip, time); }
    // The clips were repositioned.
    void seeked() { m_Alignment.seeked(); }
    // A clip's picture time counted from its own first picture (the offset not applied).
    double relative(Clip clip, double time) const { return m_Alignment.relative(clip, time); }
    // The stamp of a clip's picture at a time counted from its first picture.
    double stamped(Clip clip, double relativeTime) const { return m_Alignment.stamped(clip, relativeTime); }

    // The second clip's pictures stamped before this (in its own relative µs) go with the first
    // clip's picture stamped firstTime; its latest such picture is the pair.
    qint64 limitUs(double firstTime) const;
    bool before(double secondTime, qint64 limitUs) const;
    // The first clip's relative time that a second clip's picture (stamped secondTime) pairs
    // with: where the offset puts it.
    double firstRelativeFor(double secondTime) const;

private:
    StartAlignment m_Alignment;
    double m_FirstInterval = 0.04;
    double m_SecondInterval = 0.04;
    int m_Offset = 0;
};
