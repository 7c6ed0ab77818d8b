#pragma once

#include <QRect>
#include <QSize>

// What the display makes of each picture, when it says so: the part of the decoded picture it
// shows (region, in decoded pixels) and the size it shows that part at. A window that draws its
// pictures scaled down on the CPU (see CpuPicturePath) hands this to the decoder, which then
// queues each picture already cut and scaled: the queue holds window-sized pictures instead of
// full ones, and the window converts them to RGB without scaling.
//
// A value type; any thread.
struct PictureTarget {
    QRect region;
    QSize size;

    // Set, for a part of a decoded picture of the given size, and no larger than that picture:
    // the queue's buffers hold one decoded picture, and a window larger than the picture scales
    // it up better from the whole of it. A target made for another picture size does not apply.
    bool appliesTo(QSize decoded) const
    {
        return !size.isEmpty() && !region.isEmpty() && QRect(QPoint(0, 0), decoded).contains(region)
               && size.width() <= decoded.width() && size.height() <= decoded.height();
    }

    bool operator==(const PictureTarget &other) const { return region == other.region && size == other.size; }
    bool operator!=(const PictureTarget &other) const { return !(*this == other); }
};
