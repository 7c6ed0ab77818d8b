#include "picturerenderer.h"

#include <QOpenGLContext>
#include <QtDebug>

#include <GL/gl.h>

#include <algorithm>
#include <vector>

namespace {

// Texture clearing uploads zeros in bands of rows, so a large texture needs no large buffer.
constexpr int kClearBandBytes = 1 << 20;

} // namespace

bool PictureRenderer::contextCurrent(const char *operation) const
{
    QOpenGLContext *current = QOpenGLContext::currentContext();
    if (!current) {
        qWarning("PictureRenderer::%s without a current GL context: ignored", operation);
        return false;
    }
    if (!m_Context || !QOpenGLContext::areSharing(current, m_Context)) {
        qWarning("PictureRenderer::%s in a GL context that does not hold its texture: ignored",
                 operation);
        return false;
    }
    return true;
}

void PictureRenderer::initialize(QSize pictureSize)
{
    QOpenGLContext *current = QOpenGLContext::currentContext();
    if (!current) {
        qWarning("PictureRenderer::initialize without a current GL context: ignored");
        return;
    }
    // Called again in the same context: replace the texture. A name from an earlier context
    // (Qt recreates a widget's context when it moves to another window) belongs to that
    // context and goes with it; here the same number may name something else.
    if (m_Texture != 0 && m_Context == current) {
        GLuint old = m_Texture;
        glDeleteTextures(1, &old);
    }
    m_Context = current;
    m_Texture = 0;
    m_PictureSize = pictureSize;
    m_AllocatedFor = QSize(-1, -1);

    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glEnable(GL_TEXTURE_2D);
    GLuint name = 0;
    glGenTextures(1, &name);
    m_Texture = name;
    glBindTexture(GL_TEXTURE_2D, m_Texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    allocate();
}

void PictureRenderer::setPictureSize(QSize size)
{
    m_PictureSize = size;
}

bool PictureRenderer::ensureAllocated()
{
    if (m_AllocatedFor != m_PictureSize)
        allocate();
    return m_TextureUsable;
}

void PictureRenderer::allocate()
{
    m_AllocatedFor = m_PictureSize;
    m_TextureWidth = QuadGeometry::textureSize(m_PictureSize.width());
    m_TextureHeight = QuadGeometry::textureSize(m_PictureSize.height());
    glBindTexture(GL_TEXTURE_2D, m_Texture);

    GLint limit = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
    if (m_TextureWidth > limit || m_TextureHeight > limit) {
        qWarning("PictureRenderer: a %dx%d picture needs a %dx%d texture, above this GL's limit "
                 "%d: not shown",
                 m_PictureSize.width(), m_PictureSize.height(), m_TextureWidth, m_TextureHeight,
                 int(limit));
        m_TextureUsable = false;
        return;
    }

    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, m_TextureWidth, m_TextureHeight, 0, GL_RGB,
                 GL_UNSIGNED_BYTE, nullptr);
    // A texture allocated without data holds whatever the driver had: clear it so that nothing
    // undefined reaches the screen before the first picture.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    const int rowBytes = m_TextureWidth * 3;
    const int bandRows = std::clamp(kClearBandBytes / rowBytes, 1, m_TextureHeight);
    const std::vector<uint8_t> black(size_t(rowBytes) * size_t(bandRows), 0);
    for (int row = 0; row < m_TextureHeight; row += bandRows) {
        const int rows = std::min(bandRows, m_TextureHeight - row);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, row, m_TextureWidth, rows, GL_RGB, GL_UNSIGNED_BYTE,
                        black.data());
    }
    m_TextureUsable = true;
}

bool PictureRenderer::upload(const uint8_t *rgb, int width, int height)
{
    if (!rgb || width <= 0 || height <= 0)
        return false;
    if (m_Texture == 0) {
        qWarning("PictureRenderer::upload before initialize: ignored");
        return false;
    }
    if (!contextCurrent("upload"))
        return false;
    m_PictureSize = QSize(width, height);
    if (!ensureAllocated())
        return false;
    glBindTexture(GL_TEXTURE_2D, m_Texture);
    // Rows are packed at 3 * width bytes; with GL's default alignment of 4 an odd width would
    // shear the picture and read past the end of the buffer.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb);
    return true;
}

void PictureRenderer::resize(int width, int height)
{
    if (!contextCurrent("resize"))
        return;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glViewport(0, 0, width, height);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void PictureRenderer::paint(int viewWidth, int viewHeight, Indicator indicator)
{
    if (!contextCurrent("paint"))
        return;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (m_Texture == 0 || !ensureAllocated())
        return;
    const QuadGeometry geometry = QuadGeometry::forView(m_PictureSize, viewWidth, viewHeight);
    drawPicture(geometry, 1.0f, indicator);
}

void PictureRenderer::drawPicture(const QuadGeometry &geometry, float alpha, Indicator indicator)
{
    if (!geometry.isDrawable() || m_Texture == 0 || !m_TextureUsable)
        return;
    glBindTexture(GL_TEXTURE_2D, m_Texture);

    glLoadIdentity();
    glScalef(geometry.z(), geometry.z(), geometry.z());
    glTranslatef(geometry.translateX(), geometry.translateY(), 0.0f);

    glColor4f(1.0f, 1.0f, 1.0f, alpha);
    glBegin(GL_QUADS);
    for (const QuadVertex &v : geometry.vertices()) {
        glTexCoord2f(v.s, v.t);
        glVertex4f(v.x, v.y, 0.0f, v.w);
    }
    glEnd();

    if (indicator == Indicator::None)
        return;
    if (indicator == Indicator::First)
        glColor3f(1.0f, 0.0f, 0.0f);
    else
        glColor3f(0.0f, 0.0f, 1.0f);
    // Untextured, or the square would be modulated by the picture under it.
    glDisable(GL_TEXTURE_2D);
    glBegin(GL_QUADS);
    for (const QPointF &p : geometry.indicator())
        glVertex4f(float(p.x()), float(p.y()), 0.0f, 1.0f);
    glEnd();
    glEnable(GL_TEXTURE_2D);
}

void PictureRenderer::release()
{
    if (m_Texture == 0 || !contextCurrent("release"))
        return;
    GLuint name = m_Texture;
    glDeleteTextures(1, &name);
    m_Texture = 0;
    m_TextureUsable = false;
    m_AllocatedFor = QSize(-1, -1);
}
