#pragma once

#include <QPoint>
#include <QPointF>
#include <QRectF>

#include <optional>

class QuadGeometry;

// Where the picture lies when framewise's view is zoomed and panned, and which picture pixel is
// under a point of the view. Both clips share it, so a left click compares the same pixels.
//
// The base is what the plain view shows: the picture region it samples (picture pixels: the
// paint's inset margin cut off each side) fitted into a rectangle of the view (view pixels, y
// down). Zoomed, that region is drawn into a rectangle `zoom` times as large; the wheel zooms
// around the point under the cursor (that picture point stays under it), a drag pans, and the
// zoomed picture always covers the base rectangle (no panning it off the screen). From
// SquaresFrom on each picture pixel is drawn as a square of one colour (nearest sampling).
//
// The state is the zoom and the picture point (as a fraction of the region) at the base
// rectangle's centre, so a resized window keeps showing the same part of the picture.
//
// A plain value object of the GUI thread.
class ZoomGeometry {
public:
    static constexpr double MaxZoom = 32.0;
    static constexpr double SquaresFrom = 4.0;
    // One wheel notch (120 eighths of a degree) zooms by this factor.
    static constexpr double NotchFactor = 1.4142135623730951;

    // The base of a paint's quad: its rectangle in view pixels and the region its texture
    // coordinates sample, in picture pixels.
    static void baseOf(const QuadGeometry &quad, QRectF &fitted, QRectF &region);

    void setBase(const QRectF &fitted, const QRectF &region);
    // notches: wheel notches, positive zooms in; the zoom stays within 1 and MaxZoom.
    void zoomAt(QPointF viewPoint, double notches);
    void pan(QPointF viewDelta);
    void reset();

    double zoom() const { return m_Zoom; }
    bool isZoomed() const { return m_Zoom > 1.0; }
    bool squares() const { return m_Zoom >= SquaresFrom - 1e-9; }
    QRectF region() const { return m_Region; }
    // Where the region lands in view pixels.
    QRectF shown() const;
    // The picture pixel under a view point; none outside the picture.
    std::optional<QPoint> pictureAt(QPointF viewPoint) const;

private:
    void clampCentre();

    QRectF m_Fitted;
    QRectF m_Region;
    double m_Zoom = 1.0;
    QPointF m_Centre{0.5, 0.5};   // fraction of the region at the base rectangle's centre
};
