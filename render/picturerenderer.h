#pragma once

#include "cpupicturepath.h"
#include "pictureindicator.h"
#include "picturepathchoice.h"
#include "quadgeometry.h"

#include "engine/picturecolour.h"

#include <QByteArray>
#include <QPointer>
#include <QSize>

#include <array>
#include <functional>
#include <memory>

class PixelPacket;
class QOpenGLContext;
class QOpenGLShaderProgram;

// Shows one decoded picture (planar 8-bit 4:2:0, see PixelPacket) fitted into the view at the
// picture's display aspect, centred on the black clear colour; framewise adds its indicator
// square. Two paths, chosen per context by PicturePathChoice:
// - shader (a hardware GL): the planes go to the GPU as they are, one single-channel texture
//   each, drawn as a single quad whose fragment shader turns them into RGB with the picture's own
//   matrix and range (ColourConversion): no conversion on the CPU, half the bytes of RGB24;
// - CPU (a software GL, where the shader would run on the CPU for every window pixel): the
//   picture is converted and scaled once to its rectangle in the window and copied there 1:1
//   (CpuPicturePath).
// Both show the same rectangle of the picture at the same place, in the same colours.
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
// The shader path's textures are sized for the current picture size (power-of-two, the chroma
// ones half the luma one's, so one texture coordinate addresses the same spot in all three).
// Nothing is drawn until a picture of the clip has been uploaded: the view is black, never
// undefined memory or the previous clip's last picture. A picture of another size reallocates
// the textures first.
//
// The picture source: the CPU path converts for the view's size, so after a resize, and after a
// change of path, the picture on screen has to be drawn afresh from its planes. The renderer
// keeps no copy of them; its owner names where the picture still shown can be found (the
// scheduler's current picture), and with a source set the CPU path converts at the paint, only
// what is painted (framewise's hidden clip is never converted).
//
// The picture target: in the CPU path the renderer works out what the decoder should make of
// each picture for the view (PictureTarget: the shown part at its size in the window) and tells
// its owner whenever that changes (a new clip, a resize, the first picture's display aspect, a
// change of path); the owner hands it to the decoder. The shader path wants whole pictures (an
// unset target).
class PictureRenderer {
public:
    using Indicator = PictureIndicator;
    // The picture on screen now (valid until the owner's next picture request), or null.
    using PictureSource = std::function<const PixelPacket *()>;
    using TargetListener = std::function<void(const PictureTarget &)>;

    PictureRenderer();
    // The textures and the shader belong to the GL context, which Qt destroys with the window:
    // call release() beforehand (with the context current) to free them earlier.
    ~PictureRenderer();

    PictureRenderer(const PictureRenderer &) = delete;
    PictureRenderer &operator=(const PictureRenderer &) = delete;

    // From initializeGL. Chooses the path for this context (GL_RENDERER, SEEKMARK_PICTURE_PATH,
    // the view; the reason goes to the debug output as "picture path: ..."), sets the clear
    // colour and, for the shader path, builds the shader and creates the textures for the given
    // picture size (empty is allowed: the view stays black until a picture arrives). Called again
    // after Qt recreated the context, it starts afresh in the new context.
    void initialize(QSize pictureSize);
    // Before the window has its context (before the first clip opens): chooses the path from a
    // probe of the display's GL (GlProbe) and takes the view size the window opens at, so that
    // the decoder is told the target before it decodes the first picture. initialize() chooses
    // again in the window's own context. Issues no GL in the window's context.
    void prepare(QSize viewSize);
    // What the view needs (default: a fitted picture). A view only the shader path draws moves
    // the renderer to it; the picture is then drawn afresh from the source. Issues no GL.
    void setView(PicturePathChoice::View view);
    void setPictureSource(PictureSource source) { m_Source = std::move(source); }
    void setTargetListener(TargetListener listener) { m_TargetListener = std::move(listener); }
    PictureTarget pictureTarget() const { return m_Target; }
    // Records the picture size of a newly opened clip and forgets the shown picture (the view is
    // black until the clip's first upload); tells the target listener the target for it (the
    // clip's decoder is a new one). Issues no GL, so it may be called without a context.
    void setPictureSize(QSize size);
    // Shader path: copies the picture's planes into the textures, reallocating them first when
    // its size differs. CPU path: converts it for the view (at the next paint when a source is
    // set). Keeps its colour and display aspect for the paints. The caller repaints afterwards.
    // False, with nothing changed on screen, when the picture has no planes, the renderer is not
    // initialised (or its shader did not build), no context is current or the textures are
    // unusable.
    bool upload(const PixelPacket &picture);
    // From resizeGL: identity projection, viewport, identity modelview (left as the matrix mode).
    // Also the view size the CPU path converts for (device pixels).
    void resize(int width, int height);
    // From paintGL with the view's size in device pixels: clears colour and depth, then draws the
    // picture fitted at its display aspect and centred (alpha 1, angle 0, the paint inset), plus
    // the indicator square when asked. Before a picture of the clip arrived it only clears.
    void paint(int viewWidth, int viewHeight, Indicator indicator = Indicator::None);
    // Shader path: draws the quad that geometry describes with this renderer's textures and
    // shader, then the indicator. Does not clear. Nothing is drawn for a geometry that is not
    // drawable, nor in the CPU path (a view that draws its own quads asks for the shader path).
    void drawPicture(const QuadGeometry &geometry, float alpha, Indicator indicator);
    // Deletes the textures, the shader and the CPU path's objects (context current).
    // initialize() makes new ones.
    void release();

    PicturePathChoice::Path path() const { return m_Path; }
    QSize pictureSize() const { return m_PictureSize; }
    // Size of the luma texture as allocated; (-1, -1) before initialize() and in the CPU path.
    QSize textureSize() const { return QSize(m_TextureWidth, m_TextureHeight); }
    bool hasPicture() const { return m_HasPicture; }
    // For views a window draws with a shader of its own (framewise's zoom, difference and split
    // views): the plane textures (Y, Cb, Cr; 0 before initialize()), the last uploaded picture's
    // colour and display aspect.
    const std::array<unsigned int, 3> &textures() const { return m_Textures; }
    // Puts the picture on screen into those textures when the path has just changed to the
    // shader (from the source; context current).
    void holdPlanes();
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
    // The shader and the textures of the shader path (context current).
    void createShaderObjects();
    void choosePath();
    bool uploadPlanes(const PixelPacket &picture);
    bool convertForView(const PixelPacket &picture);
    // Draws the source's picture afresh into the current path; false when there is none.
    bool refreshFromSource();
    // Works the target out again and tells the listener when it changed (or always).
    void updateTarget(bool always = false);

    QPointer<QOpenGLContext> m_Context;   // where initialize() made the textures; null when gone
    std::unique_ptr<QOpenGLShaderProgram> m_Shader;   // null when it did not build
    QSize m_PictureSize{0, 0};      // the clip's picture size, as last set or uploaded
    QSize m_AllocatedFor{-1, -1};   // the picture size the textures were last allocated for
    int m_TextureWidth = -1;
    int m_TextureHeight = -1;
    std::array<unsigned int, 3> m_Textures{};   // Y, Cb, Cr; 0 before initialize() and after release()
    bool m_TexturesUsable = false;  // false when the size exceeded the context's texture limit
    bool m_HasPicture = false;      // a picture of the current clip has been uploaded
    bool m_PlanesHeld = false;      // the textures hold that picture (shader path)
    bool m_CpuStale = false;        // CPU path: a new picture waits to be converted at the paint
    PicturePathChoice::Path m_Path = PicturePathChoice::Path::Shader;
    PicturePathChoice::View m_View = PicturePathChoice::View::Fitted;
    bool m_PathChosen = false;      // by prepare() or initialize()
    QString m_PathReason;           // as last written to the debug output
    QByteArray m_RendererName;      // GL_RENDERER of m_Context
    bool m_CanBlit = false;         // m_Context can copy between framebuffers
    CpuPicturePath m_Cpu;
    PictureSource m_Source;
    TargetListener m_TargetListener;
    PictureTarget m_Target;         // as last told to the listener
    QSize m_DecodedSize{0, 0};      // the clip's decoded picture size (the shader path's textures may hold another)
    float m_DecodedAspect = 0.0f;   // its display aspect, once a picture told it
    QSize m_ViewSize;               // the view as last resized or painted, device pixels
    PictureColour m_Colour;         // of the last uploaded picture
    float m_Aspect = 0.0f;          // display aspect of the last uploaded picture; 0: square pixels
};
