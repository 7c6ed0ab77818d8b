#include "screenpicture.h"

#include "tests/common/framenumber.h"

namespace fwtest {

QRectF fittedRect(QSize picture, QSize view)
{
    if (picture.isEmpty() || view.isEmpty())
        return QRectF();
    const double sx = double(view.width()) / picture.width();
    const double sy = double(view.height()) / picture.height();
    const double s = sx < sy ? sx : sy;
    const double w = picture.width() * s;
    const double h = picture.height() * s;
    return QRectF((view.width() - w) / 2, (view.height() - h) / 2, w, h);
}

Rgb pixelAt(const QImage &image, int x, int y)
{
    const QRgb p = image.pixel(x, y);
    return {qRed(p), qGreen(p), qBlue(p)};
}

bool isBlack(Rgb c)
{
    return c.r < 16 && c.g < 16 && c.b < 16;
}

Marker markerOn(const QImage &screen, QSize picture)
{
    const QRectF r = fittedRect(picture, screen.size());
    if (r.isEmpty())
        return Marker::None;
    // The middle of the square that covers a 25th of the picture's width and height.
    const Rgb c = pixelAt(screen, int(r.left() + r.width() / 50), int(r.top() + r.height() / 50));
    if (c.r > 200 && c.g < 50 && c.b < 50)
        return Marker::Red;
    if (c.b > 200 && c.r < 50 && c.g < 50)
        return Marker::Blue;
    return Marker::None;
}

int frameNumberOn(const QImage &screen, QSize picture)
{
    const QRectF r = fittedRect(picture, screen.size());
    if (r.isEmpty())
        return -1;
    const QImage rgb = screen.convertToFormat(QImage::Format_RGB888);
    // A pixel inside each edge, clear of the scaled picture's blurred border.
    const int left = int(r.left()) + 2;
    const int top = int(r.top()) + 2;
    const int width = int(r.width()) - 4;
    const int height = int(r.height()) - 4;
    return testsupport::readFrameNumber(rgb.constBits(), int(rgb.bytesPerLine()), left, top, width,
                                        height);
}

const char *markerName(Marker m)
{
    switch (m) {
    case Marker::Red:
        return "red";
    case Marker::Blue:
        return "blue";
    case Marker::None:
        break;
    }
    return "none";
}

} // namespace fwtest
