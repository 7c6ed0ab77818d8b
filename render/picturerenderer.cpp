#include "picturerenderer.h"

#include "colourconversion.h"
#include "glprobe.h"

#include "engine/pixelpacket.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QtDebug>

#include <GL/gl.h>

#include <algorithm>
#include <vector>

namespace {

// Texture clearing uploads in bands of rows, so a large texture needs no large buffer.
constexpr int kClearBandBytes = 1 << 20;

// GLSL 1.10 on the fixed-function attributes, so the quad stays one immediate-mode primitive
// with the legacy matrices and the tilt's w coordinates (interpolated perspective-correct).
const char *const kVertexShader = R"(#version 110
varying vec2 texCoord;
void main()
{
    texCoord = gl_MultiTexCoord0.xy;
    gl_FrontColor = gl_Color;
    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
}
)";

const char *const kFragmentShader = R"(#version 110
uniform sampler2D planeY;
uniform sampler2D planeCb;
uniform sampler2D planeCr;
uniform mat3 toRgb;
uniform vec3 offset;
varying vec2 texCoord;
void main()
{
    vec3 yuv = vec3(texture2D(planeY, texCoord).r, texture2D(planeCb, texCoord).r, texture2D(planeCr, texCoord).r);
    gl_FragColor = vec4(clamp(toRgb * (yuv - offset), 0.0, 1.0), 1.0) * gl_Color;
}
)";

} // namespace

PictureRenderer::PictureRenderer() = default;
PictureRenderer::~PictureRenderer() = default;

bool PictureRenderer::contextCurrent(const char *operation) const
{
    QOpenGLContext *current = QOpenGLContext::currentContext();
    if (!current) {
        qWarning("PictureRenderer::%s without a current GL context: ignored", operation);
        return false;
    }
    if (!m_Context || !QOpenGLContext::areSharing(current, m_Context)) {
        qWarning("PictureRenderer::%s in a GL context that does not hold its textures: ignored",
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
    // Called again in the same context: replace the objects. Names from an earlier context (Qt
    // recreates a context when a window moves to another screen) went with it; here the same
    // numbers may name something else, and the shader object would delete in the wrong context.
    if (m_Context == current) {
        deleteObjects();
        m_Cpu.release();
    } else {
        m_Cpu.abandon();
    }
    m_Shader.reset();   // one of a destroyed context: Qt has already let go of its GL object
    m_Context = current;
    m_Textures = {};
    m_PictureSize = pictureSize;
    m_AllocatedFor = QSize(-1, -1);
    m_TextureWidth = m_TextureHeight = -1;
    m_HasPicture = m_PlanesHeld = m_CpuStale = false;

    m_RendererName = reinterpret_cast<const char *>(glGetString(GL_RENDERER));
    m_CanBlit = current->format().version() >= qMakePair(3, 0)
                || current->hasExtension(QByteArrayLiteral("GL_ARB_framebuffer_object"));
    m_DecodedSize = pictureSize;
    choosePath();
    m_PathChosen = true;
    updateTarget();

    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glEnable(GL_TEXTURE_2D);
    if (m_Path == PicturePathChoice::Path::Shader)
        createShaderObjects();
}

void PictureRenderer::prepare(QSize viewSize)
{
    if (m_Context)
        return;   // the window's own context has chosen
    const GlProbe &gl = GlProbe::once();
    if (!gl.ok)
        return;
    m_RendererName = gl.renderer;
    m_CanBlit = gl.canBlit;
    m_ViewSize = viewSize;
    choosePath();
    m_PathChosen = true;
    updateTarget();
}

void PictureRenderer::choosePath()
{
    const PicturePathChoice choice = PicturePathChoice::choose(
        m_RendererName, qgetenv("SEEKMARK_PICTURE_PATH"), m_View, m_CanBlit && m_Cpu.usable());
    m_Path = choice.path;
    if (choice.reason != m_PathReason)
        qDebug().noquote() << "picture path:" << choice.reason;
    m_PathReason = choice.reason;
}

void PictureRenderer::setView(PicturePathChoice::View view)
{
    m_View = view;
    if (!m_PathChosen)
        return;   // prepare() or initialize() chooses
    const PicturePathChoice::Path before = m_Path;
    choosePath();
    if (m_Path != before) {
        // The new path holds nothing yet: the paint draws the picture afresh from the source.
        m_PlanesHeld = false;
        m_Cpu.forget();
        m_CpuStale = m_HasPicture;
        updateTarget();
    }
}

void PictureRenderer::updateTarget(bool always)
{
    PictureTarget target;
    if (m_Path == PicturePathChoice::Path::Cpu && m_PathChosen)
        target = CpuPicturePath::targetFor(m_DecodedSize, m_DecodedAspect, m_ViewSize);
    if (target == m_Target && !always)
        return;
    m_Target = target;
    if (m_TargetListener)
        m_TargetListener(target);
}

void PictureRenderer::createShaderObjects()
{
    if (m_Textures[0] != 0)
        return;
    auto shader = std::make_unique<QOpenGLShaderProgram>();
    if (shader->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader)
        && shader->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader) && shader->link()) {
        shader->bind();
        shader->setUniformValue("planeY", 0);
        shader->setUniformValue("planeCb", 1);
        shader->setUniformValue("planeCr", 2);
        shader->release();
        m_Shader = std::move(shader);
    } else {
        qWarning("PictureRenderer: the picture shader does not build here, no picture can be shown: %s",
                 qPrintable(shader->log()));
    }

    GLuint names[3] = {0, 0, 0};
    glGenTextures(3, names);
    for (int i = 0; i < 3; ++i) {
        m_Textures[size_t(i)] = names[i];
        glBindTexture(GL_TEXTURE_2D, names[i]);
        // A picture shrunk into the window is sampled at the nearest texel: under a software GL
        // the bilinear fetches of three planes were a sixth of the program's CPU at 1080p in a
        // 640x480 window, and bilinear does not filter a shrink of more than 2 either. Enlarged
        // pictures (a small clip, full screen) keep the smooth filter.
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        // The inset keeps the quad off the edges; clamping keeps the far side out of any blend.
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    allocate();
}

void PictureRenderer::setPictureSize(QSize size)
{
    m_PictureSize = m_DecodedSize = size;
    m_DecodedAspect = 0.0f;
    m_HasPicture = m_PlanesHeld = m_CpuStale = false;
    m_Cpu.forget();
    updateTarget(true);
}

bool PictureRenderer::ensureAllocated()
{
    if (m_AllocatedFor != m_PictureSize)
        allocate();
    return m_TexturesUsable;
}

void PictureRenderer::allocate()
{
    m_AllocatedFor = m_PictureSize;
    m_TextureWidth = QuadGeometry::textureSize(m_PictureSize.width());
    m_TextureHeight = QuadGeometry::textureSize(m_PictureSize.height());
    m_TexturesUsable = false;
    if (m_Textures[0] == 0)
        return;

    GLint limit = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
    if (m_TextureWidth > limit || m_TextureHeight > limit) {
        qWarning("PictureRenderer: a %dx%d picture needs a %dx%d texture, above this GL's limit "
                 "%d: not shown",
                 m_PictureSize.width(), m_PictureSize.height(), m_TextureWidth, m_TextureHeight,
                 int(limit));
        return;
    }

    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    for (int i = 0; i < 3; ++i) {
        const int w = i == 0 ? m_TextureWidth : std::max(1, m_TextureWidth / 2);
        const int h = i == 0 ? m_TextureHeight : std::max(1, m_TextureHeight / 2);
        glBindTexture(GL_TEXTURE_2D, m_Textures[size_t(i)]);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, w, h, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, nullptr);
        // Black (luma 0, neutral chroma) rather than whatever the driver had: the linear filter
        // at the picture's edges reaches a little beyond it.
        const int bandRows = std::clamp(kClearBandBytes / w, 1, h);
        const std::vector<uint8_t> fill(size_t(w) * size_t(bandRows), i == 0 ? 0 : 128);
        for (int row = 0; row < h; row += bandRows)
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, row, w, std::min(bandRows, h - row), GL_LUMINANCE,
                            GL_UNSIGNED_BYTE, fill.data());
    }
    m_TexturesUsable = true;
}

bool PictureRenderer::upload(const PixelPacket &picture)
{
    if (!picture.plane(0))
        return false;
    if (!m_Context) {
        qWarning("PictureRenderer::upload before initialize: ignored");
        return false;
    }
    if (!contextCurrent("upload"))
        return false;
    if (picture.sourceSize() != m_DecodedSize || picture.m_Aspect != m_DecodedAspect) {
        m_DecodedSize = picture.sourceSize();
        m_DecodedAspect = picture.m_Aspect;
        updateTarget();
    }
    if (m_Path == PicturePathChoice::Path::Cpu && m_Source) {
        // Converted at the paint, from the picture then on screen.
        m_PictureSize = picture.sourceSize();
        m_Colour = picture.m_Colour;
        m_Aspect = picture.m_Aspect;
        m_HasPicture = m_CpuStale = true;
        return true;
    }
    return m_Path == PicturePathChoice::Path::Cpu ? convertForView(picture) : uploadPlanes(picture);
}

bool PictureRenderer::convertForView(const PixelPacket &picture)
{
    m_PictureSize = picture.sourceSize();
    m_Colour = picture.m_Colour;
    m_Aspect = picture.m_Aspect;
    m_HasPicture = true;
    m_CpuStale = false;
    if (m_Cpu.show(picture, m_ViewSize))
        return true;
    if (!m_Cpu.usable()) {
        qWarning("PictureRenderer: the CPU picture path does not work with this GL: drawing with the shader");
        choosePath();
        updateTarget();
        return uploadPlanes(picture);
    }
    return false;
}

bool PictureRenderer::uploadPlanes(const PixelPacket &picture)
{
    createShaderObjects();
    if (m_Textures[0] == 0 || !m_Shader) {
        qWarning("PictureRenderer::upload without a shader: ignored");
        return false;
    }
    m_PictureSize = QSize(picture.m_Width, picture.m_Height);
    if (!ensureAllocated())
        return false;
    // Rows are packed; with GL's default alignment of 4 an odd plane width would shear the
    // picture and read past the end of the buffer.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int i = 0; i < 3; ++i) {
        glBindTexture(GL_TEXTURE_2D, m_Textures[size_t(i)]);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, picture.lineSize(i));
        const int w = i == 0 ? picture.m_Width : PixelPacket::chromaWidth(picture.m_Width);
        const int h = i == 0 ? picture.m_Height : PixelPacket::chromaHeight(picture.m_Height);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, GL_LUMINANCE, GL_UNSIGNED_BYTE, picture.plane(i));
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    m_Colour = picture.m_Colour;
    m_Aspect = picture.m_Aspect;
    m_HasPicture = m_PlanesHeld = true;
    return true;
}

bool PictureRenderer::refreshFromSource()
{
    const PixelPacket *picture = m_Source ? m_Source() : nullptr;
    if (!picture || !picture->plane(0))
        return false;
    return m_Path == PicturePathChoice::Path::Cpu ? convertForView(*picture) : uploadPlanes(*picture);
}

void PictureRenderer::resize(int width, int height)
{
    if (!contextCurrent("resize"))
        return;
    m_ViewSize = QSize(width, height);
    updateTarget();
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
    if (m_ViewSize != QSize(viewWidth, viewHeight)) {
        m_ViewSize = QSize(viewWidth, viewHeight);
        updateTarget();
    }
    if (m_Path == PicturePathChoice::Path::Cpu) {
        if (m_HasPicture && (m_CpuStale || !m_Cpu.madeFor(m_ViewSize)))
            refreshFromSource();
        if (m_Path == PicturePathChoice::Path::Cpu) {
            // The copied picture covers the whole view, its bars included: nothing to clear.
            m_Cpu.paint(m_ViewSize, m_HasPicture ? indicator : Indicator::None);
            return;
        }
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (!m_HasPicture)
        return;
    if (!m_PlanesHeld)
        refreshFromSource();
    if (!m_PlanesHeld || m_Textures[0] == 0 || !ensureAllocated())
        return;
    drawPicture(QuadGeometry::forView(m_PictureSize, viewWidth, viewHeight, m_Aspect), 1.0f, indicator);
}

void PictureRenderer::holdPlanes()
{
    if (m_Path == PicturePathChoice::Path::Shader && m_HasPicture && !m_PlanesHeld && contextCurrent("holdPlanes"))
        refreshFromSource();
}

void PictureRenderer::drawPicture(const QuadGeometry &geometry, float alpha, Indicator indicator)
{
    if (!geometry.isDrawable() || m_Textures[0] == 0 || !m_TexturesUsable || !m_Shader)
        return;
    QOpenGLFunctions *gl = QOpenGLContext::currentContext()->functions();
    for (int i = 2; i >= 0; --i) {   // ends on unit 0, where the fixed-function state lives
        gl->glActiveTexture(GLenum(GL_TEXTURE0 + i));
        glBindTexture(GL_TEXTURE_2D, m_Textures[size_t(i)]);
    }
    const ColourConversion conversion = ColourConversion::forColour(m_Colour);
    m_Shader->bind();
    gl->glUniformMatrix3fv(m_Shader->uniformLocation("toRgb"), 1, GL_FALSE, conversion.matrix.data());
    gl->glUniform3fv(m_Shader->uniformLocation("offset"), 1, conversion.offset.data());

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
    m_Shader->release();

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

void PictureRenderer::deleteObjects()
{
    if (m_Textures[0] != 0) {
        GLuint names[3] = {m_Textures[0], m_Textures[1], m_Textures[2]};
        glDeleteTextures(3, names);
    }
    m_Textures = {};
    m_Shader.reset();
}

void PictureRenderer::release()
{
    if (!m_Context || !contextCurrent("release"))
        return;
    deleteObjects();
    m_Cpu.release();
    m_TexturesUsable = false;
    m_HasPicture = m_PlanesHeld = m_CpuStale = false;
    m_AllocatedFor = QSize(-1, -1);
}
