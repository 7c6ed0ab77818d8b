#pragma once

#include "quadgeometry.h"

#include "engine/picturecolour.h"

#include <QPointer>
#include <QSize>

#include <array>
#include <memory>

class PixelPacket;
class QOpenGLContext;
class QOpenGLShaderProgram;

// Shows one decoded picture (planar 8-bit 4:2:0, see PixelPacket) drawn as a single quad, fitted
// into the view at the picture's display aspect, centred on the black clear colour; framewise
// adds its indicator square. The planes go to the GPU as they are, one single-channel texture
// each, and a fragment shader turns them into RGB with the picture's own matrix and range
// (ColourConversion): no conversion on the CPU, and half the bytes of an RGB24 upload.
// A window keeps one renderer per clip it can show (seekmark one, framewise two) and calls it
// from its GL overrides: initialize() from initializeGL, resize() from resizeGL, paint() from
// paintGL, upload() whenever a new picture is due.
//
// GL: the compatibility context Qt gets by default (legacy matrices and immediate-mode quads,
// GLSL 1.10 through the fixed-function attributes), which Mesa and any desktop GL 2.1 provide.
//
// Threads: GUI thread only; no locking. Every call that issues GL needs the window's context
// current. Qt makes it current around initializeGL, resizeGL and paintGL; anywhere else (an upload
// from a timer, a new clip opened from a slot) the caller brackets the call with makeCurrent() and
// doneCurrent(). Calls made without a current context, or with one that does not share the
// textures (another window's), are refused with a warning.
//
// The textures are sized for the current picture size (power-of-two, the chroma ones half the
// luma one's, so one texture coordinate addresses the same spot in all three). Nothing is drawn
// until a picture of the clip has been uploaded: the view is black, never undefined memory or the
// previous clip's last picture. A picture of another size reallocates the textures first.
class PictureRenderer {
public:
    // The square in the picture's top-left corner that tells framewise's clips apart.
    enum class Indicator {
        None,
        First,    // red: the first clip is on screen
        Second,   // blue: the second clip is on screen
    };

    PictureRenderer();
    // The textures and the shader belong to the GL context, which Qt destroys with the window:
    // call release() beforehand (with the context current) to free them earlier.
    ~PictureRenderer();

    PictureRenderer(const PictureRenderer &) = delete;
    PictureRenderer &operator=(const PictureRenderer &) = delete;

    // From initializeGL. Sets the clear colour, builds the shader and creates the textures for
    // the given picture size (empty is allowed: the view stays black until a picture arrives).
    // Called again after Qt recreated the context, it starts afresh in the new context.
    void initialize(QSize pictureSize);
    // Records the picture size of a newly opened clip and forgets the shown picture (the view is
    // black until the clip's first upload). Issues no GL, so it may be called without a context.
    void setPictureSize(QSize size);
    // Copies the picture's planes into the textures, reallocating them first when its size
    // differs, and keeps its colour and display aspect for the paints. The caller repaints
    // afterwards. False, with nothing changed on screen, when the picture has no planes, the
    // renderer is not initialised (or its shader did not build), no context is current or the
    // textures are unusable.
    bool upload(const PixelPacket &picture);
    // From resizeGL: identity projection, viewport, identity modelview (left as the matrix mode).
    void resize(int width, int height);
    // From paintGL with the view's size in device pixels: clears colour and depth, then draws the
    // picture fitted at its display aspect and centred (alpha 1, angle 0, the paint inset), plus
    // the indicator square when asked. Before a picture of the clip arrived it only clears.
    void paint(int viewWidth, int viewHeight, Indicator indicator = Indicator::None);
    // Draws the quad that geometry describes with this renderer's textures and shader, then the
    // indicator. Does not clear. Nothing is drawn for a geometry that is not drawable.
    void drawPicture(const QuadGeometry &geometry, float alpha, Indicator indicator);
    // Deletes the textures and the shader (context current). initialize() makes new ones.
    void release();

    QSize pictureSize() const { return m_PictureSize; }
    // Size of the luma texture as allocated; (-1, -1) before initialize().
    QSize textureSize() const { return QSize(m_TextureWidth, m_TextureHeight); }
    bool hasPicture() const { return m_HasPicture; }
    // For views a window draws with a shader of its own (framewise's zoom, difference and split
    // views): the plane textures (Y, Cb, Cr; 0 before initialize()), the last uploaded picture's
    // colour and display aspect.
    const std::array<unsigned int, 3> &textures() const { return m_Textures; }
    PictureColour colour() const { return m_Colour; }
    float aspect() const { return m_Aspect; }

private:
    // True when the current context can use the textures: the one initialize() ran in, or one
    // sharing its objects.
    bool contextCurrent(const char *operation) const;
    // Reallocates the textures when the picture size changed since the last allocation. False
    // when they cannot hold the picture.
    bool ensureAllocated();
    void allocate();
    void deleteObjects();

    QPointer<QOpenGLContext> m_Context;   // where initialize() made the textures; null when gone
    std::unique_ptr<QOpenGLShaderProgram> m_Shader;   // null when it did not build
    QSize m_PictureSize{0, 0};      // the clip's picture size, as last set or uploaded
    QSize m_AllocatedFor{-1, -1};   // the picture size the textures were last allocated for
    int m_TextureWidth = -1;
    int m_TextureHeight = -1;
    std::array<unsigned int, 3> m_Textures{};   // Y, Cb, Cr; 0 before initialize() and after release()
    bool m_TexturesUsable = false;  // false when the size exceeded the context's texture limit
    bool m_HasPicture = false;      // a picture of the current clip has been uploaded
    PictureColour m_Colour;         // of the last uploaded picture
    float m_Aspect = 0.0f;          // display aspect of the last uploaded picture; 0: square pixels
};
