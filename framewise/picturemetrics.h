#pragma once

#include "engine/ffmpegptr.h"

#include <QSize>
#include <QString>

#include <memory>
#include <optional>

class PixelPacket;

// How far two pictures differ: PSNR of the luma plane and of all planes (dB, infinity for
// identical pictures) and SSIM of the luma plane (1 for identical ones).
struct PairScores {
    double psnrY = 0.0;
    double psnrAll = 0.0;
    double ssimY = 0.0;
};

// Measures picture pairs with libavfilter's own psnr and ssim filters, so the figures are the ones
// `ffmpeg -lavfi psnr`/`ssim` prints for the same pictures; no metric is computed here. A pair of
// planar 8-bit 4:2:0 pictures (the engine's PixelPacket) goes in as two frames; the filters'
// per-frame metadata (lavfi.psnr.psnr.y, lavfi.psnr.psnr_avg, lavfi.ssim.Y) comes out. SSIM
// is run on the luma planes alone (extractplanes): its Y figure is the same as on the whole
// picture at two thirds of the work. A second picture of another size is scaled to the first's
// (libswscale's bicubic, as ffmpeg's scale filter does) before it is compared.
//
// LumaPsnr measures only the luma PSNR (psnrY; the other figures stay 0): the offset search's
// many pairs.
//
// Threads: one object per thread; the graph is built on the first pair and again when a size
// changes. frame() may be called on any thread.
class PictureMetrics {
public:
    enum class Kind { Full, LumaPsnr };

    explicit PictureMetrics(Kind kind = Kind::Full);

    // A copy of the picture's planes as a reference-counted frame the filters may keep.
    static FramePtr frame(const PixelPacket &picture);
    // The picture's own planes as a frame, without a copy: the picture lives on as long as the
    // frame or a filter holding it (until the next pair, or the object's end).
    static FramePtr frame(std::shared_ptr<PixelPacket> picture);

    // The scores of the pair; none when libavfilter refused it (the reason in error()).
    std::optional<PairScores> measure(const PixelPacket &first, const PixelPacket &second);
    // The same for frames made by frame(); both are consumed.
    std::optional<PairScores> measure(FramePtr first, FramePtr second);
    QString error() const { return m_Error; }

private:
    bool build(QSize first, QSize second);
    std::optional<PairScores> fail(const QString &why);

    const Kind m_Kind;
    FilterGraphPtr m_Graph;
    AVFilterContext *m_First = nullptr;    // buffer sources, owned by the graph
    AVFilterContext *m_Second = nullptr;
    AVFilterContext *m_Psnr = nullptr;     // buffer sinks, owned by the graph
    AVFilterContext *m_Ssim = nullptr;
    QSize m_FirstSize;
    QSize m_SecondSize;
    int64_t m_Pts = 0;
    QString m_Error;
};
