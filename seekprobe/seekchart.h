#pragma once

#include "seekprobe/clipsummary.h"

#include <QList>
#include <QString>

// seekprobe's chart: one chart per clip, stacked: on the left the landing error in pictures of
// each seek against its target second (a dot per seek; corrupt pictures and seeks without a
// picture as red crosses on the zero line), on the right a histogram of the request-to-picture
// times. Drawn with SvgPlot.
//
// Pure: text out, no files.
class SeekChart {
public:
    static QString svg(const QList<ClipResult> &results);
};
