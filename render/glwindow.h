#pragma once

#include <QImage>
#include <QOpenGLWindow>
#include <QString>

// The players' window base: a QOpenGLWindow that draws straight into its own native window, with
// no offscreen framebuffer and no second pass that composites it into a widget (with
// QOpenGLWidget under a software GL that pass cost as much as drawing the picture). It offers the
// widget-style names the windows and their tests use, so code written for a widget reads the same.
//
// Threads: GUI thread only, as any window.
class GlWindow : public QOpenGLWindow {
    Q_OBJECT
public:
    explicit GlWindow(QWindow *parent = nullptr);

    void setWindowTitle(const QString &title) { setTitle(title); }
    QString windowTitle() const { return title(); }
    bool isFullScreen() const { return windowStates().testFlag(Qt::WindowFullScreen); }
    qreal devicePixelRatioF() const { return devicePixelRatio(); }
    // What the window shows now: painted afresh into the back buffer and read from there, as a
    // widget's grab does (the window's own grab reads a back buffer already swapped away).
    QImage grabFramebuffer();

protected:
    // The second press of a double click arrives only as the double click, as a widget gets it: a
    // window would get it as a press as well, and a right double click would seek twice.
    bool event(QEvent *event) override;
};
