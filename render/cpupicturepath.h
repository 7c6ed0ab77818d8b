#pragma once

#include "pictureindicator.h"
#include "picturescaler.h"

#include "engine/picturetarget.h"

#include <QRect>
#include <QSize>

class PixelPacket;
class QuadGeometry;

// The picture path for a software GL (see PicturePathChoice): each picture is converted and
// scaled on the CPU (PictureScaler) to exactly the rectangle it takes in the window, the same
// fitted rectangle and the same inset margin the shader path draws, into a texture of the view's
// size that is black around it, and the whole texture is copied into the window 1:1 with
// glBlitFramebuffer. Under Mesa such a copy, unscaled and turned the right way up, is a plain
// memory copy: no shader is generated or run (a generated shader alone made llvmpipe keep about
// 20 MB more of its code in memory), and the window needs no clearing (a clear cost llvmpipe's
// threads a pass over the window for every picture). framewise's square is written into the
// texture, for the same reason.
//
// A picture converted for one view size is drawn scaled into another until it is converted
// again (the owner does that when it still has the picture, see PictureRenderer).
//
// The decoder can do the scaling (see PictureTarget, targetFor()): a picture that comes already
// cut and scaled to this view's rectangle is only converted to RGB here, unscaled. A picture cut
// for another view (queued before a resize) is placed by the part of the decoded picture it
// shows, so it lands where a whole one would.
//
// Threads: GUI thread only, with the window's context current for every call that issues GL
// (show, paint, release).
class CpuPicturePath {
public:
    CpuPicturePath() = default;
    CpuPicturePath(const CpuPicturePath &) = delete;
    CpuPicturePath &operator=(const CpuPicturePath &) = delete;

    // Converts the picture for a view of the given size (device pixels) and puts it into the
    // texture. False, with the previous picture dropped, when it cannot: no planes, an empty
    // view, libswscale refusing the sizes, or a GL that cannot attach the texture to a
    // framebuffer (then this path cannot work here at all: see usable()).
    bool show(const PixelPacket &picture, QSize view);
    // Draws the picture shown last and the indicator square over the whole view; before the
    // first picture it clears the view.
    void paint(QSize view, PictureIndicator indicator);
    bool hasPicture() const { return m_HasPicture; }
    // The picture shown last was converted for this view size.
    bool madeFor(QSize view) const { return m_HasPicture && view == m_View; }
    // False once the GL refused the texture as a framebuffer.
    bool usable() const { return m_Usable; }
    // No picture any more (a new clip): the next paint draws nothing.
    void forget() { m_HasPicture = false; }
    // Deletes the texture and the framebuffer (context current).
    void release();
    // Forgets them without GL: their context is gone, and with it the objects.
    void abandon();
    // Where the geometry puts the picture, in view pixels (top-left origin), and the part of the
    // picture it shows (the inset margin cut off), in picture pixels, starting on an even row and
    // column (the chroma planes hold one sample per two).
    static QRect targetRect(const QuadGeometry &geometry);
    static QRect sourceRect(const QuadGeometry &geometry, QSize picture);
    // What the decoder should make of each picture of the given decoded size and display aspect
    // for a view of the given size: the shown part at its size in the view. Unset when the view
    // shows the picture larger than it is (the whole picture then scales up better here).
    static PictureTarget targetFor(QSize decoded, float aspect, QSize view);
    // The part of a picture's planes that shows the given part of the decoded picture (both in
    // their own pixels); the planes show sourceRegion of the decoded picture.
    static QRect planesPart(const QRect &wanted, const QRect &sourceRegion, QSize planes);

private:
    // A black texture of the view's size for a picture at target; kept while neither changes.
    bool allocate(QSize view, const QRect &target);
    void writeSquare(PictureIndicator indicator);

    PictureScaler m_Scaler;
    unsigned int m_Texture = 0;
    unsigned int m_Framebuffer = 0;
    QSize m_View;              // the view size the picture was converted for, and the texture's
    QRect m_Target;            // where the picture lies in that view
    QSize m_PictureSize;       // the picture's own size and display aspect, to fit it into another view
    float m_Aspect = 0.0f;
    QRect m_Square;            // the indicator square in view pixels (rows from the top)
    PictureIndicator m_SquareShown = PictureIndicator::None;   // what the texture holds there
    bool m_HasPicture = false;
    bool m_Usable = true;
};
