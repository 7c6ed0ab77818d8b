#pragma once

#include "quadgeometry.h"

#include <QPointer>
#include <QSize>

#include <cstdint>

class QOpenGLContext;

// Shows one RGB24 picture through one OpenGL texture drawn as a single quad, fitted into the view
// with its proportions kept, centred on the black clear colour; framewise adds its indicator
// square. A window keeps one per clip it can show (seekmark one, framewise two) and calls it from
// its QOpenGLWidget overrides: initialize() from initializeGL, resize() from resizeGL, paint()
// from paintGL, upload() whenever a new picture is due.
//
// Legacy GL 1.x (fixed-function, immediate mode), which the compatibility context that
// QOpenGLWidget gets by default provides.
//
// Threads: GUI thread only; no locking. Every call that issues GL needs the window's context
// current. Qt makes it current around initializeGL, resizeGL and paintGL; anywhere else (an upload
// from a timer, a new clip opened from a slot) the caller brackets the call with makeCurrent() and
// doneCurrent(). Calls made without a current context, or with one that does not share the
// texture (another window's), are refused with a warning.
//
// The texture is sized for the current picture size. It is cleared to black whenever it is
// (re)allocated, so the view is black, never undefined memory, until the first picture arrives.
// A picture of another size (a new clip in the same window) reallocates it before the upload.
class PictureRenderer {
public:
    // The square in the picture's top-left corner that tells framewise's clips apart.
    enum class Indicator {
        None,
        First,    // red: the first clip is on screen
        Second,   // blue: the second clip is on screen
    };

    PictureRenderer() = default;
    // The texture belongs to the GL context, which Qt destroys with the window: call release()
    // beforehand (with the context current) to free it earlier.
    ~PictureRenderer() = default;

    PictureRenderer(const PictureRenderer &) = delete;
    PictureRenderer &operator=(const PictureRenderer &) = delete;

    // From initializeGL. Sets the clear colour and texturing and creates the texture, black, for
    // the given picture size (empty is allowed: the view stays black until a picture arrives).
    // Called again after Qt recreated the context, it makes a fresh texture in the new context.
    void initialize(QSize pictureSize);
    // Records the picture size of a newly opened clip. Issues no GL itself: the texture is
    // reallocated by the next upload() or paint(), so this may be called without a context.
    void setPictureSize(QSize size);
    // Copies a picture of width x height RGB24 pixels (rows of exactly 3 * width bytes, top row
    // first) into the texture, reallocating it first when the size differs from the current one.
    // The caller repaints afterwards. False, with nothing changed on screen, when the data is null,
    // the size empty, the renderer not initialised, no context current or the texture unusable.
    bool upload(const uint8_t *rgb, int width, int height);
    // From resizeGL: identity projection, viewport, identity modelview (left as the matrix mode).
    void resize(int width, int height);
    // From paintGL with the widget's size: clears colour and depth, then draws the picture fitted
    // and centred with alpha 1, angle 0, the paint inset and no aspect override, plus the indicator
    // square when asked. With no picture size (no clip) it only clears: the view is black.
    void paint(int viewWidth, int viewHeight, Indicator indicator = Indicator::None);
    // Draws the quad that geometry describes with this renderer's texture, then the indicator.
    // Does not clear. Nothing is drawn for a geometry that is not drawable.
    void drawPicture(const QuadGeometry &geometry, float alpha, Indicator indicator);
    // Deletes the texture (context current). initialize() creates a new one.
    void release();

    QSize pictureSize() const { return m_PictureSize; }
    // Size of the texture as allocated; (-1, -1) before initialize().
    QSize textureSize() const { return QSize(m_TextureWidth, m_TextureHeight); }
    unsigned int textureName() const { return m_Texture; }

private:
    // True when the current context can use the texture: the one initialize() ran in, or one
    // sharing its objects.
    bool contextCurrent(const char *operation) const;
    // Reallocates the texture when the picture size changed since the last allocation. False
    // when the texture cannot hold the picture.
    bool ensureAllocated();
    void allocate();

    QPointer<QOpenGLContext> m_Context;   // where initialize() made the texture; null when gone
    QSize m_PictureSize{0, 0};      // the clip's picture size, as last set or uploaded
    QSize m_AllocatedFor{-1, -1};   // the picture size the texture was last allocated for
    int m_TextureWidth = -1;
    int m_TextureHeight = -1;
    unsigned int m_Texture = 0;     // GL texture name; 0 before initialize() and after release()
    bool m_TextureUsable = false;   // false when the size exceeded the context's texture limit
};
