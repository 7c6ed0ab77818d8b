#pragma once

#include "seekprobe/clipsummary.h"

#include <QList>
#include <QString>

// seekprobe's chart: one self-contained SVG (no scripts, no fonts or files of its own to fetch)
// with one chart per clip, stacked: on the left the landing error in pictures of each seek against
// its target second (a dot per seek; corrupt pictures and seeks without a picture as red crosses
// on the zero line), on the right a histogram of the request-to-picture times. A few dozen lines
// of SVG elements are all it takes, so it is written here instead of pulling in a plotting library.
//
// Pure: text out, no files.
class SvgPlot {
public:
    static QString svg(const QList<ClipResult> &results);
};
