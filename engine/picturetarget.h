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

    // Set, and only a shrink of a part of a decoded picture of the given size: the decoder never
    // enlarges (the window scales up better from the whole picture) and ignores a target made
    // for another picture size.
    bool shrinks(QSize decoded) const
    {
        return !size.isEmpty() && !region.isEmpty() && QRect(QPoint(0, 0), decoded).contains(region)
               && size.width() <= region.width() && size.height() <= region.height();
    }

    bool operator==(const PictureTarget &other) const { return region == other.region && size == other.size; }
    bool operator!=(const PictureTarget &other) const { return !(*this == other); }
};
