#pragma once

#include <QList>
#include <QPointF>
#include <QString>

// One self-contained SVG picture (no scripts, no fonts or files of its own to fetch) built from a
// few kinds of elements. The programs' charts (seekprobe's seek charts, framewise's comparison
// chart) take a few dozen of them, so they are written here instead of pulling in a plotting
// library. Coordinates are SVG pixels, y downwards.
//
// Pure: text out, no files; a value object of one thread.
class SvgPlot {
public:
    SvgPlot(int width, int height);

    void line(double x1, double y1, double x2, double y2, const char *colour);
    void label(double x, double y, const QString &text, const char *anchor = "start");
    void dot(double x, double y, const char *colour);
    void cross(double x, double y, const char *colour);
    void bar(double x, double y, double width, double height, const char *colour);
    void polyline(const QList<QPointF> &points, const char *colour);
    // Elements between these form one group (one chart of several).
    void beginGroup(const char *cssClass);
    void endGroup();

    // The whole document.
    QString text() const;

private:
    int m_Width;
    int m_Height;
    QString m_Body;
};
