#pragma once

#include <QPointF>
#include <QRect>
#include <QSize>

#include <array>

// One corner of the picture quad as it goes to GL: texture coordinate (s, t), then the position
// (x, y, 0, w) before the modelview transform.
struct QuadVertex {
    float s = 0.0f;
    float t = 0.0f;
    float x = 0.0f;
    float y = 0.0f;
    float w = 1.0f;
};

// Everything needed to draw one picture as one textured quad, worked out without touching GL so
// that it can be checked number by number: the power-of-two texture size, the fit scale and target
// rectangle a paint uses, the quad's half extents, origin and texture coordinates (with the inset
// margin), the tilt of a turned picture, the modelview scale and translation, the four vertices,
// and the indicator square of framewise. The arithmetic is single precision throughout (the
// counter-tilt m alone is double) so that what a test checks is what GL receives.
//
// Device positions: the modelview is scale(Z) then translate(tx / Z, ty / Z), so a vertex
// (x, y, 0, w) lands at (Z * x / w + tx, Z * y / w + ty) in normalised device coordinates.
//
// A value type with no shared state; any thread may make and read one.
class QuadGeometry {
public:
    enum Corner { BottomLeft = 0, BottomRight = 1, TopRight = 2, TopLeft = 3 };

    // The margin, in texture units times the view size, that a paint cuts off each side.
    static constexpr float kPaintInset = 4.0f;
    // The indicator square covers this fraction of the picture's width and of its height.
    static constexpr float kIndicatorDivisor = 25.0f;

    // 1, doubled while below pictureSize: the smallest power of two that holds it (1 for 0 or 1).
    // GL 1.x textures must be power-of-two sized.
    static int textureSize(int pictureSize);
    // The scale that fits the picture into the view keeping its proportions: fit the width when
    // the view is relatively narrower than the picture, else (equal aspects too) the height.
    // 0 when the picture or the view is empty.
    static float fitScale(QSize picture, int viewWidth, int viewHeight);
    // A rectangle of the picture's size whose top-left pixel is the view centre (truncated).
    static QRect targetRect(QSize picture, int viewWidth, int viewHeight);
    // The geometry a paint draws: fit scale, target rectangle, angle 0, paint inset and the
    // picture's display aspect (0: square pixels, the picture's own proportions). Not drawable
    // when the picture or the view is empty.
    static QuadGeometry forView(QSize picture, int viewWidth, int viewHeight, float aspect = 0.0f);

    // An empty geometry: not drawable.
    QuadGeometry() = default;
    // The quad for rect (inclusive corners, in view pixels) showing a picture of the given size in
    // a view of viewWidth x viewHeight. angle in degrees turns the picture about its vertical axis;
    // aspect, when not 0, makes the quad aspect * rect height pixels wide and rescales it so that
    // this width fills the view, or, when the quad would then be taller than the view, so that
    // its height does (the picture fitted at its display aspect).
    QuadGeometry(const QRect &rect, QSize picture, int viewWidth, int viewHeight, float scale,
                 float angle, float inset, float aspect);

    // False when the inputs cannot give a finite, non-degenerate quad (empty picture or view, a
    // zero or non-finite zoom); such a geometry must not be drawn.
    bool isDrawable() const { return m_Drawable; }

    int viewWidth() const { return m_ViewWidth; }
    int viewHeight() const { return m_ViewHeight; }
    float scale() const { return m_Scale; }   // after the aspect branch replaced it
    float qw() const { return m_Qw; }         // half extents before scaling, device units
    float qh() const { return m_Qh; }
    float tx() const { return m_Tx; }         // device position of the rectangle's top-left pixel
    float ty() const { return m_Ty; }
    int textureWidth() const { return m_TextureWidth; }
    int textureHeight() const { return m_TextureHeight; }
    float s0() const { return m_S0; }
    float t0() const { return m_T0; }
    float s1() const { return m_S1; }
    float t1() const { return m_T1; }
    float angle() const { return m_Angle; }   // normalised into [0, 360)
    float k() const { return m_K; }           // tilt factor, 1 (flat) to 1.5
    double m() const { return m_M; }          // 2 - k
    float z() const { return m_Z; }           // modelview scale, m * scale
    float translateX() const { return m_TranslateX; }   // tx / z, the modelview translation
    float translateY() const { return m_TranslateY; }

    const QuadVertex &vertex(Corner corner) const { return m_Vertices[corner]; }
    const std::array<QuadVertex, 4> &vertices() const { return m_Vertices; }
    // The indicator square's corners (z 0, w 1) in drawing order: top left, top right,
    // bottom right, bottom left of the square, in the picture quad's coordinates.
    const std::array<QPointF, 4> &indicator() const { return m_Indicator; }

    // Where a vertex position lands in normalised device coordinates.
    QPointF toDevice(float x, float y, float w) const;
    // The same in view pixels: x from the left edge, y down from the top edge.
    QPointF toPixels(float x, float y, float w) const;
    QPointF deviceCorner(Corner corner) const;
    QPointF pixelCorner(Corner corner) const;
    QPointF indicatorPixelCorner(int index) const;

private:
    bool m_Drawable = false;
    int m_ViewWidth = 0;
    int m_ViewHeight = 0;
    float m_Scale = 0.0f;
    float m_Qw = 0.0f;
    float m_Qh = 0.0f;
    float m_Tx = 0.0f;
    float m_Ty = 0.0f;
    int m_TextureWidth = 1;
    int m_TextureHeight = 1;
    float m_S0 = 0.0f;
    float m_T0 = 0.0f;
    float m_S1 = 0.0f;
    float m_T1 = 0.0f;
    float m_Angle = 0.0f;
    float m_K = 1.0f;
    double m_M = 1.0;
    float m_Z = 0.0f;
    float m_TranslateX = 0.0f;
    float m_TranslateY = 0.0f;
    std::array<QuadVertex, 4> m_Vertices{};
    std::array<QPointF, 4> m_Indicator{};
};
