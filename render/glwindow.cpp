#include "glwindow.h"

GlWindow::GlWindow(QWindow *parent) : QOpenGLWindow(QOpenGLWindow::NoPartialUpdate, parent)
{
}
