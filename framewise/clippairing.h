#pragma once

// Keeps framewise's second clip in step with the first, picture by picture. Each time the first
// clip shows a new picture the player fetches the second clip's next picture too and asks which
// way they stand:
//   - SkipSecond: the second clip is behind; the player fetches its next picture once more (and
//     writes "DIVERSI");
//   - AdvanceFirst: the second clip is ahead; the player advances the first clip once, so its
//     next picture becomes current and is shown on the next due tick;
//   - InStep: nothing to do.
//
// Each clip may carry a shift, counted in pictures of the first clip's frame interval, added to
// its picture times before they are compared. It is 0 by default: our decoders stamp every picture
// with its own presentation time, reordered streams included, so the pictures of two encodes of
// one source compare as they are. The rule that shifts the clip without reordering by one picture
// when only the other one reorders is kept behind reorderOffsets (off by default).
//
// Two times closer than sameInstant() count as equal: containers keep times in different units
// (milliseconds in Matroska, 1/12800 or 1/90000 of a second elsewhere), so the same picture of two
// encodes can carry times that differ by rounding, which must not make the second clip skip.
//
// A plain value object of the GUI thread; no locking.
class ClipPairing {
public:
    enum class Step { InStep, SkipSecond, AdvanceFirst };
    // After a seek: which clip to advance by one picture to realign them.
    enum class Realign { None, AdvanceFirst, AdvanceSecond };

    static constexpr double DefaultSameInstant = 0.001;  // seconds

    // The debug line written when the second clip skips a picture.
    static const char *skipLine() { return "DIVERSI"; }

    // The first clip's frame interval, the unit of the shifts.
    void setFrameInterval(int ms) { m_FrameInterval = ms; }
    int frameInterval() const { return m_FrameInterval; }

    // Shifts in pictures, added to the first and second clip's times.
    void setOffsets(int pictures1, int pictures2);
    int offset1() const { return m_Offset1; }
    int offset2() const { return m_Offset2; }

    void setSameInstant(double seconds) { m_SameInstant = seconds < 0 ? 0 : seconds; }
    double sameInstant() const { return m_SameInstant; }

    void setReorderOffsets(bool on) { m_ReorderOffsets = on; }
    bool reorderOffsets() const { return m_ReorderOffsets; }
    // Called after each comparison with the two decoders' count of held-back pictures
    // (has_b_frames). With reorderOffsets on, when exactly one of the clips reorders, the other
    // one is shifted by one picture from then on; shifts are never taken back. Off, nothing.
    void noteReordering(int reorder1, int reorder2);

    // Compares the first clip's picture time with the second's, both in seconds.
    Step compare(double time1, double time2) const;

    // When only one clip reorders, that one is advanced by one picture.
    static Realign realignAfterSeek(int reorder1, int reorder2);

private:
    int m_FrameInterval = 40;  // ms
    int m_Offset1 = 0;         // pictures
    int m_Offset2 = 0;         // pictures
    double m_SameInstant = DefaultSameInstant;
    bool m_ReorderOffsets = false;
};
