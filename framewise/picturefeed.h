#pragma once

#include <memory>
#include <optional>

class PixelPacket;

// One clip's decoded pictures in their order, as the caller's own: the stepping and the
// comparisons keep the pictures they take (a run kept for steps back, a pair being measured). The
// window implements it over a decoder's picture queue (DecoderFeed), the tests over a list of
// picture times with keyframes.
class PictureFeed {
public:
    virtual ~PictureFeed() = default;
    // The next picture's stamp (seconds, as the decoder stamps it); none while nothing is queued.
    virtual std::optional<double> headTime() = 0;
    // Takes the next picture; null when nothing is queued.
    virtual std::unique_ptr<PixelPacket> take() = 0;
    // Repositions at the keyframe at or before the picture stamped `stamp`: the pictures that come
    // afterwards start there, in order. Pictures of the old position never come again.
    virtual void seek(double stamp) = 0;
    // Nothing will come any more (the clip's end was read and every picture taken), until a seek.
    virtual bool ended() = 0;
};
