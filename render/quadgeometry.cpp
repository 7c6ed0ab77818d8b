#include "quadgeometry.h"

#include <cmath>
#include <limits>

int QuadGeometry::textureSize(int pictureSize)
{
    // Stop doubling before the int would overflow; no GL accepts a texture that big anyway, and
    // the renderer refuses sizes above the context's limit.
    constexpr int kLargest = 1 << 30;
    int size = 1;
    while (size < pictureSize && size < kLargest)
        size *= 2;
    return size;
}

float QuadGeometry::fitScale(QSize picture, int viewWidth, int viewHeight)
{
    if (picture.width() <= 0 || picture.height() <= 0 || viewWidth <= 0 || viewHeight <= 0)
        return 0.0f;
    const float pictureAspect = float(picture.width()) / float(picture.height());
    const float widgetAspect = float(viewWidth) / float(viewHeight);
    if (widgetAspect < pictureAspect)
        return float(viewWidth) / float(picture.width());
    return float(viewHeight) / float(picture.height());
}

QRect QuadGeometry::targetRect(QSize picture, int viewWidth, int viewHeight)
{
    const int x1 = viewWidth / 2;
    const int y1 = viewHeight / 2;
    return QRect(QPoint(x1, y1), QPoint(x1 + picture.width() - 1, y1 + picture.height() - 1));
}

QuadGeometry QuadGeometry::forView(QSize picture, int viewWidth, int viewHeight, float aspect)
{
    if (picture.width() <= 0 || picture.height() <= 0 || viewWidth <= 0 || viewHeight <= 0)
        return QuadGeometry();
    if (!std::isfinite(aspect) || aspect < 0.0f)
        aspect = 0.0f;
    return QuadGeometry(targetRect(picture, viewWidth, viewHeight), picture, viewWidth, viewHeight,
                        fitScale(picture, viewWidth, viewHeight), 0.0f, kPaintInset, aspect);
}

QuadGeometry::QuadGeometry(const QRect &rect, QSize picture, int viewWidth, int viewHeight,
                           float scale, float angle, float inset, float aspect)
    : m_ViewWidth(viewWidth), m_ViewHeight(viewHeight)
{
    const int rectW = rect.width();
    const int rectH = rect.height();
    if (rectW <= 0 || rectH <= 0 || viewWidth <= 0 || viewHeight <= 0 || picture.width() <= 0
        || picture.height() <= 0)
        return;
    const float viewW = float(viewWidth);
    const float viewH = float(viewHeight);

    if (aspect != 0.0f) {
        const double wanted = double(aspect * float(rectH)) + 0.5;
        // Converting a value outside int's range is undefined; such an aspect is meaningless.
        if (!(std::fabs(wanted) < double(std::numeric_limits<int>::max())))
            return;
        const int n = int(wanted);
        m_Qw = float(n) / viewW;
        scale = viewW / float(rectW);
        // n is 0 for an aspect below half a pixel per rectangle row: keep the rectangle's scale
        // rather than divide by zero.
        if (scale != 0.0f && n != 0) {
            scale = viewW / float(n);
            // Filling the width would push a picture narrower than the view off its top and bottom.
            if (scale * float(rectH) > viewH)
                scale = viewH / float(rectH);
        }
    } else {
        m_Qw = float(rectW) / viewW;
    }
    m_Qh = float(rectH) / viewH;
    m_Scale = scale;

    m_Tx = float(2 * rect.left()) / viewW - 1.0f;
    m_Ty = 1.0f - float(2 * rect.top()) / viewH;

    m_TextureWidth = textureSize(picture.width());
    m_TextureHeight = textureSize(picture.height());

    m_S0 = inset / viewW;
    m_T0 = inset / viewH;
    m_S1 = float(rectW) / float(m_TextureWidth) - m_S0;
    m_T1 = float(rectH) / float(m_TextureHeight) - m_T0;

    float a = float(std::fmod(double(angle), 360.0));
    if (a < 0.0f)
        a = a + 360.0f;
    m_Angle = a;
    float k = 1.0f;
    if (a > 0.0f && a < 90.0f)
        k += a / 180.0f;
    else if (a >= 90.0f && a < 180.0f)
        k += (180.0f - a) / 180.0f;
    else if (a >= 180.0f && a < 270.0f)
        k += (a - 180.0f) / 180.0f;
    else if (a >= 270.0f && a < 360.0f)
        k += (360.0f - a) / 180.0f;
    m_K = k;
    m_M = 2.0 - double(k);
    m_Z = float(m_M * double(scale));
    if (m_Z == 0.0f || !std::isfinite(m_Z))
        return;
    m_TranslateX = m_Tx / m_Z;
    m_TranslateY = m_Ty / m_Z;

    // The side with w = k comes out shorter, the side with w = m longer: the picture turns about
    // its vertical axis. Up to 180 degrees the right side recedes, from there the left.
    const float mf = float(m_M);
    const bool firstHalf = a < 180.0f;
    const float leftW = firstHalf ? mf : k;
    const float rightW = firstHalf ? k : mf;
    m_Vertices[BottomLeft] = {m_S0, m_T1, -m_Qw, -m_Qh, leftW};
    m_Vertices[BottomRight] = {m_S1, m_T1, m_Qw, -m_Qh, rightW};
    m_Vertices[TopRight] = {m_S1, m_T0, m_Qw, m_Qh, rightW};
    m_Vertices[TopLeft] = {m_S0, m_T0, -m_Qw, m_Qh, leftW};

    const float right = -m_Qw + 2.0f * m_Qw / kIndicatorDivisor;
    const float bottom = m_Qh - 2.0f * m_Qh / kIndicatorDivisor;
    m_Indicator = {QPointF(-m_Qw, m_Qh), QPointF(right, m_Qh), QPointF(right, bottom),
                   QPointF(-m_Qw, bottom)};

    m_Drawable = std::isfinite(m_TranslateX) && std::isfinite(m_TranslateY)
                 && std::isfinite(m_Qw) && std::isfinite(m_Qh);
}

QPointF QuadGeometry::toDevice(float x, float y, float w) const
{
    return QPointF(double(m_Z) * x / w + m_Tx, double(m_Z) * y / w + m_Ty);
}

QPointF QuadGeometry::toPixels(float x, float y, float w) const
{
    const QPointF device = toDevice(x, y, w);
    return QPointF((device.x() + 1.0) * m_ViewWidth / 2.0, (1.0 - device.y()) * m_ViewHeight / 2.0);
}

QPointF QuadGeometry::deviceCorner(Corner corner) const
{
    const QuadVertex &v = m_Vertices[corner];
    return toDevice(v.x, v.y, v.w);
}

QPointF QuadGeometry::pixelCorner(Corner corner) const
{
    const QuadVertex &v = m_Vertices[corner];
    return toPixels(v.x, v.y, v.w);
}

QPointF QuadGeometry::indicatorPixelCorner(int index) const
{
    const QPointF &p = m_Indicator[size_t(index) & 3];
    return toPixels(float(p.x()), float(p.y()), 1.0f);
}
