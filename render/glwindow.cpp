#include "glwindow.h"

#include <QMouseEvent>

GlWindow::GlWindow(QWindow *parent) : QOpenGLWindow(QOpenGLWindow::NoPartialUpdate, parent)
{
    // The size a top-level widget opens at; a bare window would open at 160 x 160.
    resize(640, 480);
}

QImage GlWindow::grabFramebuffer()
{
    if (!isValid())
        return QImage();
    makeCurrent();
    paintGL();
    return QOpenGLWindow::grabFramebuffer();
}

bool GlWindow::event(QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress
        && static_cast<QMouseEvent *>(event)->flags().testFlag(Qt::MouseEventCreatedDoubleClick))
        return true;
    return QOpenGLWindow::event(event);
}
