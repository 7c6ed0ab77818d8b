#pragma once

// Reads what framewise's window shows, from an in-process grab or a screenshot of the program:
// where the picture lies, which indicator square marks it and which frame number it carries.
#include <QImage>
#include <QRectF>
#include <QSize>

namespace fwtest {

struct Rgb {
    int r = 0, g = 0, b = 0;
};

enum class Marker { None, Red, Blue };

// Where a picture of the given size lands in a view of the given size: as large as fits with its
// proportions kept, centred, black bars on the remaining sides.
QRectF fittedRect(QSize picture, QSize view);

Rgb pixelAt(const QImage &image, int x, int y);
bool isBlack(Rgb c);

// The colour of the indicator square in the picture's top-left corner.
Marker markerOn(const QImage &screen, QSize picture);
// The frame number the shown picture carries; -1 when unreadable.
int frameNumberOn(const QImage &screen, QSize picture);

const char *markerName(Marker m);

} // namespace fwtest
