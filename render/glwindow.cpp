#include "glwindow.h"

GlWindow::GlWindow(QWindow *parent) : QOpenGLWindow(QOpenGLWindow::NoPartialUpdate, parent)
{
}

QImage GlWindow::grabFramebuffer()
{
    if (!isValid())
        return QImage();
    makeCurrent();
    paintGL();
    return QOpenGLWindow::grabFramebuffer();
}
