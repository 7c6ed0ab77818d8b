#include "comparereport.h"

#include "seekprobe/svgplot.h"

#include <QPointF>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr int kChartWidth = 960;
constexpr int kPanelHeight = 220;
constexpr int kLeft = 60;
constexpr int kPlotWidth = 860;

struct Figure {
    const char *name;
    double PairScores::*value;
    bool decibels;
};

const Figure kFigures[] = {
    {"psnr_y", &PairScores::psnrY, true},
    {"psnr_all", &PairScores::psnrAll, true},
    {"ssim_y", &PairScores::ssimY, false},
};

QString figureText(double value, bool decibels)
{
    return decibels ? CompareReport::decibels(value) : QString::number(value, 'f', 6);
}

// One panel: the figures against the first clip's time, y from low to high.
void panel(SvgPlot &plot, const QList<PairRow> &rows, const QList<int> &worst, int top, const QList<const Figure *> &figures,
           const QString &axis)
{
    double low = INFINITY, high = -INFINITY, end = 0.001;
    for (const PairRow &row : rows) {
        end = std::max(end, row.firstS);
        for (const Figure *f : figures) {
            const double v = row.scores.*(f->value);
            if (std::isfinite(v)) {
                low = std::min(low, v);
                high = std::max(high, v);
            }
        }
    }
    if (!std::isfinite(low)) {   // nothing finite: identical pictures all along
        low = 0.0;
        high = 1.0;
    }
    if (high - low < 1e-6)
        high = low + 1.0;
    const double plotTop = top + 30, plotBottom = top + kPanelHeight - 30;
    auto x = [&](double s) { return kLeft + kPlotWidth * s / end; };
    auto y = [&](double v) { return plotBottom - (plotBottom - plotTop) * (std::min(v, high) - low) / (high - low); };
    plot.line(kLeft, plotTop, kLeft, plotBottom, "#888");
    plot.line(kLeft, plotBottom, kLeft + kPlotWidth, plotBottom, "#888");
    plot.label(kLeft - 4, plotTop + 4, QString::number(high, 'f', figures.first()->decibels ? 1 : 4), "end");
    plot.label(kLeft - 4, plotBottom + 4, QString::number(low, 'f', figures.first()->decibels ? 1 : 4), "end");
    plot.label(kLeft + kPlotWidth, plotBottom + 16, QStringLiteral("%1 s").arg(end, 0, 'f', 1), "end");
    plot.label(kLeft + 4, plotTop - 8, axis);
    const char *colours[] = {"steelblue", "darkorange"};
    for (int i = 0; i < figures.size(); ++i) {
        QList<QPointF> points;
        for (const PairRow &row : rows)
            points << QPointF(x(row.firstS), y(row.scores.*(figures.at(i)->value)));
        plot.polyline(points, colours[i % 2]);
    }
    for (int index : worst)
        plot.dot(x(rows.at(index).firstS), y(rows.at(index).scores.*(figures.first()->value)), "red");
}

} // namespace

QString CompareReport::decibels(double value)
{
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    return QString::number(value, 'f', 4);
}

QString CompareReport::csvHeader()
{
    return QStringLiteral("first_s,second_s,first_picture,second_picture,psnr_y,psnr_all,ssim_y");
}

QString CompareReport::csvLine(const PairRow &row)
{
    return QStringList{QString::number(row.firstS, 'f', 3), QString::number(row.secondS, 'f', 3),
                       QString::number(row.firstPicture), QString::number(row.secondPicture),
                       decibels(row.scores.psnrY), decibels(row.scores.psnrAll),
                       QString::number(row.scores.ssimY, 'f', 6)}
        .join(QLatin1Char(','));
}

QList<int> CompareReport::worstFirst(const QList<PairRow> &rows)
{
    QList<int> order(rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&rows](int a, int b) {
        const PairScores &x = rows.at(a).scores, &y = rows.at(b).scores;
        return x.psnrY != y.psnrY ? x.psnrY < y.psnrY : x.ssimY < y.ssimY;
    });
    return order;
}

int CompareReport::belowGate(const QList<PairRow> &rows, double minPsnr)
{
    if (std::isnan(minPsnr))
        return 0;
    return int(std::count_if(rows.cbegin(), rows.cend(), [minPsnr](const PairRow &r) { return r.scores.psnrY < minPsnr; }));
}

QString CompareReport::summary(const QList<PairRow> &rows, int offset, double minPsnr)
{
    const int identical = int(std::count_if(rows.cbegin(), rows.cend(), [](const PairRow &r) { return std::isinf(r.scores.psnrY); }));
    QString out = QStringLiteral("pairs: %1 (%2 identical), offset %3\n").arg(rows.size()).arg(identical).arg(offset);
    if (rows.isEmpty())
        return out;
    for (const Figure &f : kFigures) {
        double sum = 0.0, low = INFINITY;
        int finite = 0;
        for (const PairRow &row : rows) {
            const double v = row.scores.*(f.value);
            low = std::min(low, v);
            if (std::isfinite(v)) {
                sum += v;
                ++finite;
            }
        }
        const double mean = finite > 0 ? sum / finite : INFINITY;
        out += QStringLiteral("%1: mean %2, min %3%4\n")
                   .arg(QLatin1String(f.name), figureText(mean, f.decibels), figureText(low, f.decibels),
                        f.decibels ? QStringLiteral(" dB") : QString());
    }
    const QList<int> worst = worstFirst(rows);
    out += QStringLiteral("worst pairs:\n") + csvHeader() + QLatin1Char('\n');
    for (int i = 0; i < std::min<int>(WorstListed, worst.size()); ++i)
        out += csvLine(rows.at(worst.at(i))) + QLatin1Char('\n');
    if (!std::isnan(minPsnr))
        out += QStringLiteral("gate: psnr_y >= %1 dB, %2 pairs below\n").arg(minPsnr, 0, 'f', 2).arg(belowGate(rows, minPsnr));
    return out;
}

QString CompareReport::chart(const QList<PairRow> &rows, const QString &title)
{
    SvgPlot plot(kChartWidth, 2 * kPanelHeight + 30);
    plot.label(kLeft, 18, title);
    const QList<int> worst = worstFirst(rows).mid(0, WorstListed);
    plot.beginGroup("psnr");
    panel(plot, rows, worst, 30, {&kFigures[0], &kFigures[1]}, QStringLiteral("PSNR dB: luma (blue), all planes (orange); worst pairs red"));
    plot.endGroup();
    plot.beginGroup("ssim");
    panel(plot, rows, worst, 30 + kPanelHeight, {&kFigures[2]}, QStringLiteral("SSIM, luma, by the first clip's time"));
    plot.endGroup();
    return plot.text();
}
