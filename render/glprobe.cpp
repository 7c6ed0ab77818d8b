#include "glprobe.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSurfaceFormat>

#include <GL/gl.h>

namespace {

GlProbe probe()
{
    GlProbe result;
    QOpenGLContext context;
    context.setFormat(QSurfaceFormat::defaultFormat());
    if (!context.create())
        return result;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return result;
    result.ok = true;
    result.renderer = reinterpret_cast<const char *>(glGetString(GL_RENDERER));
    result.canBlit = context.format().version() >= qMakePair(3, 0)
                     || context.hasExtension(QByteArrayLiteral("GL_ARB_framebuffer_object"));
    context.doneCurrent();
    return result;
}

} // namespace

const GlProbe &GlProbe::once()
{
    static const GlProbe result = probe();
    return result;
}
