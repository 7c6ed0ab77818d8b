#pragma once

// Where each of framewise's two clips starts, so that their pictures can be compared as times
// since their own first picture rather than as raw stamps.
//
// Two encodes of one source do not always stamp the same picture with the same time: an encoder's
// audio priming makes some muxers start the audio below zero or push the video a little later
// (21 ms for AAC at 48 kHz, more than half of a 25 fps picture interval), and the decoder counts
// every stamp from its input's start. The offset is constant over the whole clip, so it is taken
// once from the first picture each decoder hands out after it started at the beginning of its
// clip. A seek that comes before both first pictures were seen makes those pictures worthless as
// starts: the clips are then compared as stamped (a start of 0 for both), as they also are until
// both starts are known.
//
// A plain value object of the GUI thread; no locking.
class StartAlignment {
public:
    enum Clip { First = 0, Second = 1 };

    // A picture handed out by the clip's decoder; only the first one before any seek counts.
    void picture(Clip clip, double time);
    // The clips were repositioned.
    void seeked();

    // The clip's picture time counted from its start (the raw time while not settled).
    double relative(Clip clip, double time) const;
    // The inverse: the stamp of the clip's picture at a time counted from its start.
    double stamped(Clip clip, double relativeTime) const { return relativeTime + start(clip); }

private:
    double start(Clip clip) const { return m_Settled ? m_Start[clip] : 0.0; }

    double m_Start[2] = {0.0, 0.0};
    bool m_Seen[2] = {false, false};
    bool m_Settled = false;
};
