#pragma once

#include "picturesource.h"

class DecoderAgent;
class PixelPacket;

// A framewise decoder's pictures as a PictureSource. framewise's decoders have no sound clock, so
// every request to the scheduler hands out the next queued picture (or the current one again
// when none is queued); this adapter only peeks at the queue's head first.
//
// GUI thread only, like the scheduler it asks. The current picture belongs to the scheduler and
// stays valid until the next take() (or a seek's flush of the queue, which keeps it).
class DecoderPictures : public PictureSource {
public:
    void setDecoder(DecoderAgent *decoder);
    // Pictures stamped at or before this are dropped from the queue unseen (shown already while
    // stepping); until the next seek.
    void skipThrough(double stamp);
    std::optional<double> nextTime() override;
    std::optional<double> take() override;
    // The picture taken last; null before the first.
    PixelPacket *current() const { return m_Current; }

private:
    DecoderAgent *m_Decoder = nullptr;   // not owned
    PixelPacket *m_Current = nullptr;    // the scheduler's
    bool m_Skipping = false;
    double m_SkipThrough = 0.0;
};
