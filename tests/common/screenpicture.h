#pragma once

// Reads what a player window shows, from an in-process grab or a screenshot of a program: where
// the fitted picture lies, the frame number it carries and framewise's indicator square.
#include "tests/common/framenumber.h"

#include <QImage>
#include <QRectF>
#include <QSize>

#include <algorithm>

namespace testsupport {

// As large as fits with its proportions kept, centred, black bars on the remaining sides.
inline QRectF fittedRect(QSize picture, QSize view)
{
    if (picture.isEmpty() || view.isEmpty())
        return QRectF();
    const double s = std::min(double(view.width()) / picture.width(), double(view.height()) / picture.height());
    const double w = picture.width() * s;
    const double h = picture.height() * s;
    return QRectF((view.width() - w) / 2, (view.height() - h) / 2, w, h);
}

inline bool isBlack(QRgb c)
{
    return qRed(c) < 16 && qGreen(c) < 16 && qBlue(c) < 16;
}

// -1 when unreadable. Reads a pixel inside each edge, clear of the scaled picture's blurred border.
inline int frameNumberOn(const QImage &screen, QSize picture)
{
    const QRectF r = fittedRect(picture, screen.size());
    if (r.isEmpty())
        return -1;
    const QImage rgb = screen.convertToFormat(QImage::Format_RGB888);
    return readFrameNumber(rgb.constBits(), int(rgb.bytesPerLine()), int(r.left()) + 2, int(r.top()) + 2,
                           int(r.width()) - 4, int(r.height()) - 4);
}

enum class Marker { None, Red, Blue };

// framewise's square in the picture's top-left corner, a 25th of its width and height.
inline Marker markerOn(const QImage &screen, QSize picture)
{
    const QRectF r = fittedRect(picture, screen.size());
    if (r.isEmpty())
        return Marker::None;
    const QRgb c = screen.pixel(int(r.left() + r.width() / 50), int(r.top() + r.height() / 50));
    if (qRed(c) > 200 && qGreen(c) < 50 && qBlue(c) < 50)
        return Marker::Red;
    if (qBlue(c) > 200 && qRed(c) < 50 && qGreen(c) < 50)
        return Marker::Blue;
    return Marker::None;
}

} // namespace testsupport
