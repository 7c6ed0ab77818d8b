#pragma once

#include "picturefeed.h"

#include "engine/pendingseek.h"

class DecoderAgent;

// A decoder's picture queue as a PictureFeed: the pictures are taken from the queue itself (not
// through the scheduler), so the taker owns them. They draw on the queue's buffer pool and must
// be destroyed before the decoder is closed.
//
// Seeks go to the keyframe at or before the stamp (counted back to seconds from the clip's first
// picture, the decoder's unit), or with seekTo() to the picture at it; the decoder carries them
// out on its worker, and no picture of the old position comes after the call. The end is only known to decoders that stop at the end of their
// input (the comparisons'); the window's decoders keep polling, and never say they ended.
//
// Threads: the thread that controls the decoder (the GUI thread, or the comparison's own).
class DecoderFeed : public PictureFeed {
public:
    explicit DecoderFeed(DecoderAgent *decoder) : m_Decoder(decoder) {}

    std::optional<double> headTime() override;
    std::unique_ptr<PixelPacket> take() override;
    void seek(double stamp) override;
    void seekTo(double stamp, SeekMode mode);
    bool ended() override;

private:
    DecoderAgent *m_Decoder;   // not owned
};
