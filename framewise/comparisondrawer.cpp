#include "comparisondrawer.h"

#include "render/colourconversion.h"
#include "render/picturerenderer.h"
#include "render/quadgeometry.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QtDebug>

#include <GL/gl.h>

namespace {

const char *const kVertexShader = R"(#version 110
varying vec2 spot;
void main()
{
    spot = gl_MultiTexCoord0.xy;
    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
}
)";

// spot: the fraction of the shown region, (0, 0) top left. Each clip maps it to its own texture
// coordinates (origin + spot * extent); with squares the coordinate snaps to the texel centre of
// each plane, so a picture pixel is one colour however large it is drawn.
const char *const kFragmentShader = R"(#version 110
uniform sampler2D y1;
uniform sampler2D cb1;
uniform sampler2D cr1;
uniform sampler2D y2;
uniform sampler2D cb2;
uniform sampler2D cr2;
uniform vec4 place1;
uniform vec4 place2;
uniform vec2 texels1;
uniform vec2 texels2;
uniform mat3 toRgb1;
uniform mat3 toRgb2;
uniform vec3 offset1;
uniform vec3 offset2;
uniform int mode;
uniform bool squares;
uniform float splitX;
uniform float gain;
varying vec2 spot;

vec2 snapped(vec2 tc, vec2 texels)
{
    return squares ? (floor(tc * texels) + 0.5) / texels : tc;
}

vec3 rgb(sampler2D y, sampler2D cb, sampler2D cr, vec4 place, vec2 texels, mat3 toRgb, vec3 offset)
{
    vec2 tc = place.xy + spot * place.zw;
    vec3 yuv = vec3(texture2D(y, snapped(tc, texels)).r, texture2D(cb, snapped(tc, texels * 0.5)).r,
                    texture2D(cr, snapped(tc, texels * 0.5)).r);
    return clamp(toRgb * (yuv - offset), 0.0, 1.0);
}

void main()
{
    vec3 first = rgb(y1, cb1, cr1, place1, texels1, toRgb1, offset1);
    vec3 second = rgb(y2, cb2, cr2, place2, texels2, toRgb2, offset2);
    vec3 colour = first;
    if (mode == 1 || (mode == 3 && gl_FragCoord.x >= splitX))
        colour = second;
    else if (mode == 2)
        colour = min(abs(first - second) * gain, 1.0);
    gl_FragColor = vec4(colour, 1.0);
}
)";

} // namespace

ComparisonDrawer::ComparisonDrawer() = default;
ComparisonDrawer::~ComparisonDrawer() = default;

bool ComparisonDrawer::initialize()
{
    m_Shader.reset();
    auto shader = std::make_unique<QOpenGLShaderProgram>();
    if (!shader->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader)
        || !shader->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader) || !shader->link()) {
        qWarning("framewise: the comparison shader does not build here, no zoom, difference or split view: %s",
                 qPrintable(shader->log()));
        return false;
    }
    shader->bind();
    const char *samplers[] = {"y1", "cb1", "cr1", "y2", "cb2", "cr2"};
    for (int i = 0; i < 6; ++i)
        shader->setUniformValue(samplers[i], i);
    shader->release();
    m_Shader = std::move(shader);
    return true;
}

void ComparisonDrawer::release()
{
    m_Shader.reset();
}

void ComparisonDrawer::draw(const PictureRenderer &first, const PictureRenderer &second, Mode mode,
                            const QRectF &region, const QRectF &shown, QSize viewSize, bool squares, double splitX)
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (!m_Shader || !first.hasPicture() || first.textures()[0] == 0 || viewSize.isEmpty() || shown.isEmpty()
        || first.pictureSize().isEmpty())
        return;
    const PictureRenderer &other = second.hasPicture() && second.textures()[0] != 0 ? second : first;
    QOpenGLFunctions *gl = QOpenGLContext::currentContext()->functions();
    for (int i = 5; i >= 0; --i) {   // ends on unit 0, where the fixed-function state lives
        gl->glActiveTexture(GLenum(GL_TEXTURE0 + i));
        glBindTexture(GL_TEXTURE_2D, (i < 3 ? first : other).textures()[size_t(i % 3)]);
    }
    m_Shader->bind();
    // Each clip's texture coordinates of the region: the same fraction of its own picture.
    const QSizeF p1 = first.pictureSize();
    const QRectF fraction(region.left() / p1.width(), region.top() / p1.height(), region.width() / p1.width(),
                          region.height() / p1.height());
    auto place = [&](const PictureRenderer &r, const char *placeName, const char *texelsName, const char *matrixName,
                     const char *offsetName) {
        const QSize picture = r.pictureSize();
        const QSizeF texture(QuadGeometry::textureSize(picture.width()), QuadGeometry::textureSize(picture.height()));
        const double sx = picture.width() / texture.width(), sy = picture.height() / texture.height();
        m_Shader->setUniformValue(placeName, QVector4D(float(fraction.left() * sx), float(fraction.top() * sy),
                                                       float(fraction.width() * sx), float(fraction.height() * sy)));
        m_Shader->setUniformValue(texelsName, QVector2D(float(texture.width()), float(texture.height())));
        const ColourConversion c = ColourConversion::forColour(r.colour());
        gl->glUniformMatrix3fv(m_Shader->uniformLocation(matrixName), 1, GL_FALSE, c.matrix.data());
        gl->glUniform3fv(m_Shader->uniformLocation(offsetName), 1, c.offset.data());
    };
    place(first, "place1", "texels1", "toRgb1", "offset1");
    place(other, "place2", "texels2", "toRgb2", "offset2");
    m_Shader->setUniformValue("mode", int(mode));
    m_Shader->setUniformValue("squares", squares);
    // gl_FragCoord counts device pixels from the bottom left; x is the same either way.
    m_Shader->setUniformValue("splitX", float(splitX));
    m_Shader->setUniformValue("gain", DifferenceGain);

    glLoadIdentity();
    auto ndc = [&viewSize](double x, double y) {
        return QPointF(2.0 * x / viewSize.width() - 1.0, 1.0 - 2.0 * y / viewSize.height());
    };
    const QPointF topLeft = ndc(shown.left(), shown.top()), bottomRight = ndc(shown.right(), shown.bottom());
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 1.0f);
    glVertex2f(float(topLeft.x()), float(bottomRight.y()));
    glTexCoord2f(1.0f, 1.0f);
    glVertex2f(float(bottomRight.x()), float(bottomRight.y()));
    glTexCoord2f(1.0f, 0.0f);
    glVertex2f(float(bottomRight.x()), float(topLeft.y()));
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(float(topLeft.x()), float(topLeft.y()));
    glEnd();
    m_Shader->release();
}

void ComparisonDrawer::drawIndicator(const QuadGeometry &plain, bool second)
{
    glLoadIdentity();
    glScalef(plain.z(), plain.z(), plain.z());
    glTranslatef(plain.translateX(), plain.translateY(), 0.0f);
    if (second)
        glColor3f(0.0f, 0.0f, 1.0f);
    else
        glColor3f(1.0f, 0.0f, 0.0f);
    glDisable(GL_TEXTURE_2D);
    glBegin(GL_QUADS);
    for (const QPointF &p : plain.indicator())
        glVertex4f(float(p.x()), float(p.y()), 0.0f, 1.0f);
    glEnd();
    glEnable(GL_TEXTURE_2D);
}
