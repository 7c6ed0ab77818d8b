#include "seekchart.h"

#include "seekprobe/svgplot.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kWidth = 960;
constexpr int kChartHeight = 240;
constexpr int kMargin = 40;
constexpr int kScatterWidth = 560;
constexpr int kHistogramLeft = 660;
constexpr int kHistogramWidth = 260;
constexpr int kBins = 20;

void chart(SvgPlot &plot, const ClipResult &result, int top)
{
    const double plotTop = top + 30, plotBottom = top + kChartHeight - 30;
    plot.beginGroup("clip");
    plot.label(kMargin, top + 18, result.clip);

    // Landing error against the target second; the zero line in the middle when errors go both ways.
    qint64 maxTarget = 1, maxError = 1;
    for (const SeekRow &row : result.rows) {
        maxTarget = std::max(maxTarget, row.target);
        if (row.pictureShown)
            maxError = std::max(maxError, std::llabs(ClipSummary::errorPictures(row, result.frameRate)));
    }
    const double x0 = kMargin, zeroY = (plotTop + plotBottom) / 2, half = (plotBottom - plotTop) / 2;
    plot.line(x0, plotTop, x0, plotBottom, "#888");
    plot.line(x0, zeroY, x0 + kScatterWidth, zeroY, "#888");
    plot.label(x0 - 4, plotTop + 4, QString::number(maxError), "end");
    plot.label(x0 - 4, zeroY + 4, QStringLiteral("0"), "end");
    plot.label(x0 - 4, plotBottom + 4, QString::number(-maxError), "end");
    plot.label(x0 + kScatterWidth, plotBottom + 16, QStringLiteral("%1 s").arg(maxTarget), "end");
    plot.label(x0 + 4, plotBottom + 16, QStringLiteral("landing error in pictures by target second"));
    for (const SeekRow &row : result.rows) {
        const double x = x0 + kScatterWidth * static_cast<double>(row.target) / maxTarget;
        if (!row.pictureShown || (row.verified && row.contentIndex < 0))
            plot.cross(x, zeroY, "red");
        else
            plot.dot(x, zeroY - half * ClipSummary::errorPictures(row, result.frameRate) / maxError, "steelblue");
    }

    // Histogram of request-to-picture times.
    qint64 maxMs = 1;
    for (const SeekRow &row : result.rows)
        if (row.pictureShown)
            maxMs = std::max(maxMs, row.requestToPictureMs);
    QList<int> bins(kBins, 0);
    for (const SeekRow &row : result.rows)
        if (row.pictureShown)
            ++bins[std::min<qint64>(kBins - 1, row.requestToPictureMs * kBins / (maxMs + 1))];
    const int tallest = std::max(1, *std::max_element(bins.cbegin(), bins.cend()));
    const double barWidth = double(kHistogramWidth) / kBins;
    plot.line(kHistogramLeft, plotBottom, kHistogramLeft + kHistogramWidth, plotBottom, "#888");
    for (int i = 0; i < kBins; ++i) {
        const double h = (plotBottom - plotTop) * bins[i] / tallest;
        plot.bar(kHistogramLeft + i * barWidth, plotBottom - h, barWidth - 1, h, "darkorange");
    }
    plot.label(kHistogramLeft, plotBottom + 16, QStringLiteral("request to picture, 0 to %1 ms").arg(maxMs));
    plot.label(kHistogramLeft - 4, plotTop + 4, QString::number(tallest), "end");
    plot.endGroup();
}

} // namespace

QString SeekChart::svg(const QList<ClipResult> &results)
{
    SvgPlot plot(kWidth, std::max<int>(1, results.size()) * kChartHeight);
    for (int i = 0; i < results.size(); ++i)
        chart(plot, results.at(i), i * kChartHeight);
    return plot.text();
}
