#include "cpupicturepath.h"

#include "quadgeometry.h"

#include "engine/pixelpacket.h"

#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QtDebug>

#include <GL/gl.h>

#include <cmath>
#include <vector>

namespace {

int rounded(double v)
{
    return int(std::lround(v));
}

QRect between(const QPointF &topLeft, const QPointF &bottomRight)
{
    const QPoint a(rounded(topLeft.x()), rounded(topLeft.y()));
    const QPoint b(rounded(bottomRight.x()), rounded(bottomRight.y()));
    return QRect(a, QSize(b.x() - a.x(), b.y() - a.y()));
}

} // namespace

QRect CpuPicturePath::targetRect(const QuadGeometry &geometry)
{
    return between(geometry.pixelCorner(QuadGeometry::TopLeft), geometry.pixelCorner(QuadGeometry::BottomRight));
}

QRect CpuPicturePath::sourceRect(const QuadGeometry &geometry, QSize picture)
{
    const double texW = geometry.textureWidth();
    const double texH = geometry.textureHeight();
    QRect shown = between(QPointF(geometry.s0() * texW, geometry.t0() * texH),
                          QPointF(geometry.s1() * texW, geometry.t1() * texH))
                      .intersected(QRect(QPoint(0, 0), picture));
    shown.setLeft(shown.left() & ~1);
    shown.setTop(shown.top() & ~1);
    return shown;
}

PictureTarget CpuPicturePath::targetFor(QSize decoded, float aspect, QSize view)
{
    const QuadGeometry geometry = QuadGeometry::forView(decoded, view.width(), view.height(), aspect);
    if (!geometry.isDrawable())
        return PictureTarget();
    const PictureTarget target{sourceRect(geometry, decoded), targetRect(geometry).size()};
    return target.appliesTo(decoded) ? target : PictureTarget();
}

QRect CpuPicturePath::planesPart(const QRect &wanted, const QRect &sourceRegion, QSize planes)
{
    if (sourceRegion.isEmpty())
        return QRect();
    const double sx = double(planes.width()) / sourceRegion.width();
    const double sy = double(planes.height()) / sourceRegion.height();
    return between(QPointF((wanted.left() - sourceRegion.left()) * sx, (wanted.top() - sourceRegion.top()) * sy),
                   QPointF((wanted.left() + wanted.width() - sourceRegion.left()) * sx,
                           (wanted.top() + wanted.height() - sourceRegion.top()) * sy))
        .intersected(QRect(QPoint(0, 0), planes));
}

bool CpuPicturePath::show(const PixelPacket &picture, QSize view)
{
    m_HasPicture = false;
    if (!m_Usable || view.isEmpty())
        return false;
    // Placed as the decoded picture would be; the planes may show only a part of it, scaled.
    const QSize pictureSize = picture.sourceSize();
    const QuadGeometry geometry = QuadGeometry::forView(pictureSize, view.width(), view.height(), picture.m_Aspect);
    if (!geometry.isDrawable())
        return false;
    const QRect target = targetRect(geometry).intersected(QRect(QPoint(0, 0), view));
    const QRect part = planesPart(sourceRect(geometry, pictureSize), picture.sourceRegion(),
                                  QSize(picture.m_Width, picture.m_Height));
    if (target.isEmpty() || !m_Scaler.convert(picture, part, target.size()) || !allocate(view, target))
        return false;

    glBindTexture(GL_TEXTURE_2D, m_Texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, m_Scaler.stride() / 4);
    glTexSubImage2D(GL_TEXTURE_2D, 0, target.left(), target.top(), target.width(), target.height(), GL_BGRA,
                    GL_UNSIGNED_BYTE, m_Scaler.pixels());
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);

    m_PictureSize = pictureSize;
    m_Aspect = picture.m_Aspect;
    m_Square = between(geometry.indicatorPixelCorner(0), geometry.indicatorPixelCorner(2)).intersected(target);
    m_SquareShown = PictureIndicator::None;
    m_HasPicture = true;
    return true;
}

bool CpuPicturePath::allocate(QSize view, const QRect &target)
{
    if (m_Texture != 0 && view == m_View && target == m_Target)
        return true;
    QOpenGLExtraFunctions *gl = QOpenGLContext::currentContext()->extraFunctions();
    if (m_Texture == 0) {
        GLuint name = 0;
        glGenTextures(1, &name);
        m_Texture = name;
        glBindTexture(GL_TEXTURE_2D, m_Texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    }
    glBindTexture(GL_TEXTURE_2D, m_Texture);
    // The whole view, black around the picture's rectangle: copied into the window as it is, it
    // needs no clearing of the window first. Unsized RGBA with BGRA pixels: Mesa then stores the
    // texture in the window's own byte order, which keeps that copy a plain memory copy.
    const std::vector<uint32_t> black(size_t(view.width()) * size_t(view.height()), 0xff000000u);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, view.width(), view.height(), 0, GL_BGRA, GL_UNSIGNED_BYTE, black.data());
    m_View = view;
    m_Target = target;
    if (m_Framebuffer == 0) {
        GLuint name = 0;
        gl->glGenFramebuffers(1, &name);
        m_Framebuffer = name;
    }
    gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, m_Framebuffer);
    gl->glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_Texture, 0);
    const GLenum status = gl->glCheckFramebufferStatus(GL_READ_FRAMEBUFFER);
    gl->glBindFramebuffer(GL_FRAMEBUFFER, QOpenGLContext::currentContext()->defaultFramebufferObject());
    if (status != GL_FRAMEBUFFER_COMPLETE) {
        qWarning("CpuPicturePath: a %dx%d texture cannot be read as a framebuffer here (status 0x%x)",
                 view.width(), view.height(), unsigned(status));
        m_Usable = false;
        m_View = QSize();
        return false;
    }
    return true;
}

void CpuPicturePath::writeSquare(PictureIndicator indicator)
{
    m_SquareShown = indicator;
    if (m_Square.isEmpty())
        return;
    glBindTexture(GL_TEXTURE_2D, m_Texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    if (indicator == PictureIndicator::None) {
        // The picture as converted, where the square was.
        const QPoint at = m_Square.topLeft() - m_Target.topLeft();
        glPixelStorei(GL_UNPACK_ROW_LENGTH, m_Scaler.stride() / 4);
        glTexSubImage2D(GL_TEXTURE_2D, 0, m_Square.x(), m_Square.y(), m_Square.width(), m_Square.height(), GL_BGRA,
                        GL_UNSIGNED_BYTE, m_Scaler.pixels() + at.y() * m_Scaler.stride() + at.x() * 4);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        return;
    }
    // B, G, R, A: red for the first clip, blue for the second.
    const uint32_t colour = indicator == PictureIndicator::First ? 0xffff0000u : 0xff0000ffu;
    const std::vector<uint32_t> square(size_t(m_Square.width()) * size_t(m_Square.height()), colour);
    glTexSubImage2D(GL_TEXTURE_2D, 0, m_Square.x(), m_Square.y(), m_Square.width(), m_Square.height(), GL_BGRA,
                    GL_UNSIGNED_BYTE, square.data());
}

void CpuPicturePath::paint(QSize view, PictureIndicator indicator)
{
    if (!m_HasPicture || view.isEmpty()) {
        glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    if (indicator != m_SquareShown)
        writeSquare(indicator);
    QOpenGLContext *context = QOpenGLContext::currentContext();
    QOpenGLExtraFunctions *gl = context->extraFunctions();
    gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, m_Framebuffer);
    gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, context->defaultFramebufferObject());
    // The texture's first row is the view's top row: turned over here, which cancels the turn
    // between a texture's rows (bottom up) and the window's (top down), so nothing is turned.
    if (view == m_View) {
        gl->glBlitFramebuffer(0, 0, view.width(), view.height(), 0, view.height(), view.width(), 0,
                              GL_COLOR_BUFFER_BIT, GL_NEAREST);
    } else {
        // Converted for another size: stretched into this one until it is converted again.
        glClear(GL_COLOR_BUFFER_BIT);
        const QuadGeometry geometry = QuadGeometry::forView(m_PictureSize, view.width(), view.height(), m_Aspect);
        const QRect target = targetRect(geometry);
        if (geometry.isDrawable() && !target.isEmpty())
            gl->glBlitFramebuffer(m_Target.left(), m_Target.top(), m_Target.right() + 1, m_Target.bottom() + 1,
                                  target.left(), view.height() - target.top(), target.right() + 1,
                                  view.height() - target.bottom() - 1, GL_COLOR_BUFFER_BIT, GL_LINEAR);
    }
    gl->glBindFramebuffer(GL_FRAMEBUFFER, context->defaultFramebufferObject());
}

void CpuPicturePath::release()
{
    if (m_Framebuffer != 0) {
        GLuint name = m_Framebuffer;
        QOpenGLContext::currentContext()->extraFunctions()->glDeleteFramebuffers(1, &name);
    }
    if (m_Texture != 0) {
        GLuint name = m_Texture;
        glDeleteTextures(1, &name);
    }
    abandon();
}

void CpuPicturePath::abandon()
{
    m_Framebuffer = 0;
    m_Texture = 0;
    m_View = QSize();
    m_Target = QRect();
    m_HasPicture = false;
    m_Usable = true;
}
