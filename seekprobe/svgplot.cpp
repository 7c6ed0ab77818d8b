#include "svgplot.h"

namespace {

QString num(double v)
{
    return QString::number(v, 'f', 1);
}

} // namespace

SvgPlot::SvgPlot(int width, int height)
    : m_Width(width)
    , m_Height(height)
{
}

void SvgPlot::line(double x1, double y1, double x2, double y2, const char *colour)
{
    m_Body += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%4\" stroke=\"%5\"/>")
                  .arg(num(x1), num(y1), num(x2), num(y2), QLatin1String(colour));
}

void SvgPlot::label(double x, double y, const QString &text, const char *anchor)
{
    m_Body += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"%3\">%4</text>")
                  .arg(num(x), num(y), QLatin1String(anchor), text.toHtmlEscaped());
}

void SvgPlot::dot(double x, double y, const char *colour)
{
    m_Body += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"3\" fill=\"%3\"/>").arg(num(x), num(y), QLatin1String(colour));
}

void SvgPlot::cross(double x, double y, const char *colour)
{
    line(x - 4, y - 4, x + 4, y + 4, colour);
    line(x - 4, y + 4, x + 4, y - 4, colour);
}

void SvgPlot::bar(double x, double y, double width, double height, const char *colour)
{
    m_Body += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"/>")
                  .arg(num(x), num(y), num(width), num(height), QLatin1String(colour));
}

void SvgPlot::polyline(const QList<QPointF> &points, const char *colour)
{
    if (points.isEmpty())
        return;
    QString coordinates;
    for (const QPointF &p : points)
        coordinates += num(p.x()) + QLatin1Char(',') + num(p.y()) + QLatin1Char(' ');
    m_Body += QStringLiteral("<polyline points=\"%1\" fill=\"none\" stroke=\"%2\"/>")
                  .arg(coordinates.trimmed(), QLatin1String(colour));
}

void SvgPlot::beginGroup(const char *cssClass)
{
    m_Body += QStringLiteral("<g class=\"%1\">").arg(QLatin1String(cssClass));
}

void SvgPlot::endGroup()
{
    m_Body += QStringLiteral("</g>\n");
}

QString SvgPlot::text() const
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" "
                          "font-family=\"sans-serif\" font-size=\"12\">\n"
                          "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n")
               .arg(m_Width)
               .arg(m_Height)
        + m_Body + QStringLiteral("</svg>\n");
}
