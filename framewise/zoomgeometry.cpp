#include "zoomgeometry.h"

#include "render/quadgeometry.h"

#include <algorithm>
#include <cmath>

void ZoomGeometry::baseOf(const QuadGeometry &quad, QRectF &fitted, QRectF &region)
{
    fitted = QRectF(quad.pixelCorner(QuadGeometry::TopLeft), quad.pixelCorner(QuadGeometry::BottomRight)).normalized();
    region = QRectF(QPointF(quad.s0() * quad.textureWidth(), quad.t0() * quad.textureHeight()),
                    QPointF(quad.s1() * quad.textureWidth(), quad.t1() * quad.textureHeight()));
}

void ZoomGeometry::setBase(const QRectF &fitted, const QRectF &region)
{
    m_Fitted = fitted;
    m_Region = region;
    clampCentre();
}

void ZoomGeometry::zoomAt(QPointF viewPoint, double notches)
{
    const QRectF before = shown();
    if (before.isEmpty())
        return;
    // The fraction of the region under the point stays under it.
    const QPointF under((viewPoint.x() - before.left()) / before.width(), (viewPoint.y() - before.top()) / before.height());
    m_Zoom = std::clamp(m_Zoom * std::pow(NotchFactor, notches), 1.0, MaxZoom);
    const double w = m_Fitted.width() * m_Zoom, h = m_Fitted.height() * m_Zoom;
    m_Centre = QPointF(under.x() - (viewPoint.x() - m_Fitted.center().x()) / w, under.y() - (viewPoint.y() - m_Fitted.center().y()) / h);
    clampCentre();
}

void ZoomGeometry::pan(QPointF viewDelta)
{
    const QRectF now = shown();
    if (now.isEmpty())
        return;
    m_Centre -= QPointF(viewDelta.x() / now.width(), viewDelta.y() / now.height());
    clampCentre();
}

void ZoomGeometry::reset()
{
    m_Zoom = 1.0;
    m_Centre = QPointF(0.5, 0.5);
}

void ZoomGeometry::clampCentre()
{
    // Covering the base rectangle: the centre keeps half a base rectangle from either edge.
    const double margin = 0.5 / m_Zoom;
    m_Centre = QPointF(std::clamp(m_Centre.x(), margin, 1.0 - margin), std::clamp(m_Centre.y(), margin, 1.0 - margin));
}

QRectF ZoomGeometry::shown() const
{
    const double w = m_Fitted.width() * m_Zoom, h = m_Fitted.height() * m_Zoom;
    return QRectF(m_Fitted.center().x() - m_Centre.x() * w, m_Fitted.center().y() - m_Centre.y() * h, w, h);
}

std::optional<QPoint> ZoomGeometry::pictureAt(QPointF viewPoint) const
{
    const QRectF s = shown();
    if (s.isEmpty() || m_Region.isEmpty())
        return std::nullopt;
    const double x = m_Region.left() + (viewPoint.x() - s.left()) / s.width() * m_Region.width();
    const double y = m_Region.top() + (viewPoint.y() - s.top()) / s.height() * m_Region.height();
    if (x < m_Region.left() || y < m_Region.top() || x >= m_Region.right() || y >= m_Region.bottom())
        return std::nullopt;
    return QPoint(int(std::floor(x)), int(std::floor(y)));
}
