#include "svgplot.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kWidth = 960;
constexpr int kChartHeight = 240;
constexpr int kMargin = 40;
constexpr int kScatterWidth = 560;
constexpr int kHistogramLeft = 660;
constexpr int kHistogramWidth = 260;
constexpr int kBins = 20;

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString num(double v)
{
    return QString::number(v, 'f', 1);
}

QString line(double x1, double y1, double x2, double y2, const char *colour)
{
    return QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%4\" stroke=\"%5\"/>")
        .arg(num(x1), num(y1), num(x2), num(y2), QLatin1String(colour));
}

QString label(double x, double y, const QString &text, const char *anchor = "start")
{
    return QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"%3\">%4</text>")
        .arg(num(x), num(y), QLatin1String(anchor), escaped(text));
}

QString chart(const ClipResult &result, int top)
{
    const double plotTop = top + 30, plotBottom = top + kChartHeight - 30;
    QString out = QStringLiteral("<g class=\"clip\">") + label(kMargin, top + 18, result.clip);

    // Landing error against the target second; the zero line in the middle when errors go both ways.
    qint64 maxTarget = 1, maxError = 1;
    for (const SeekRow &row : result.rows) {
        maxTarget = std::max(maxTarget, row.target);
        if (row.pictureShown)
            maxError = std::max(maxError, std::llabs(ClipSummary::errorPictures(row, result.frameRate)));
    }
    const double x0 = kMargin, zeroY = (plotTop + plotBottom) / 2, half = (plotBottom - plotTop) / 2;
    out += line(x0, plotTop, x0, plotBottom, "#888") + line(x0, zeroY, x0 + kScatterWidth, zeroY, "#888");
    out += label(x0 - 4, plotTop + 4, QString::number(maxError), "end") + label(x0 - 4, zeroY + 4, QStringLiteral("0"), "end")
        + label(x0 - 4, plotBottom + 4, QString::number(-maxError), "end")
        + label(x0 + kScatterWidth, plotBottom + 16, QStringLiteral("%1 s").arg(maxTarget), "end")
        + label(x0 + 4, plotBottom + 16, QStringLiteral("landing error in pictures by target second"));
    for (const SeekRow &row : result.rows) {
        const double x = x0 + kScatterWidth * static_cast<double>(row.target) / maxTarget;
        if (!row.pictureShown || (row.verified && row.contentIndex < 0)) {
            out += line(x - 4, zeroY - 4, x + 4, zeroY + 4, "red") + line(x - 4, zeroY + 4, x + 4, zeroY - 4, "red");
            continue;
        }
        const double y = zeroY - half * ClipSummary::errorPictures(row, result.frameRate) / maxError;
        out += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"3\" fill=\"steelblue\"/>").arg(num(x), num(y));
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
    out += line(kHistogramLeft, plotBottom, kHistogramLeft + kHistogramWidth, plotBottom, "#888");
    for (int i = 0; i < kBins; ++i) {
        const double h = (plotBottom - plotTop) * bins[i] / tallest;
        out += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"darkorange\"/>")
                   .arg(num(kHistogramLeft + i * barWidth), num(plotBottom - h), num(barWidth - 1), num(h));
    }
    out += label(kHistogramLeft, plotBottom + 16, QStringLiteral("request to picture, 0 to %1 ms").arg(maxMs))
        + label(kHistogramLeft - 4, plotTop + 4, QString::number(tallest), "end");
    return out + QStringLiteral("</g>\n");
}

} // namespace

QString SvgPlot::svg(const QList<ClipResult> &results)
{
    const int height = std::max<int>(1, results.size()) * kChartHeight;
    QString out = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" "
                                 "font-family=\"sans-serif\" font-size=\"12\">\n"
                                 "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n")
                      .arg(kWidth)
                      .arg(height);
    for (int i = 0; i < results.size(); ++i)
        out += chart(results.at(i), i * kChartHeight);
    return out + QStringLiteral("</svg>\n");
}
