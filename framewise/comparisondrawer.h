#pragma once

#include <QPointF>
#include <QRectF>
#include <QSize>

#include <memory>

class PictureRenderer;
class QuadGeometry;
class QOpenGLShaderProgram;

// framewise's views that a single clip's paint cannot draw: a zoomed and panned picture (nearest
// sampling from ZoomGeometry::SquaresFrom on, so pixels show as squares), the difference of the
// pair and the split at the cursor. One fragment shader samples both clips' plane textures (the
// renderers', left as they are) at the same spot of the picture, turns each into RGB with its own
// matrix and range, and shows the first clip, the second, |first - second| amplified
// DifferenceGain times (black where they agree), or the first left of a vertical line and the
// second right of it. A second clip of another size is sampled at the same fraction of its
// picture.
//
// GL: the compatibility context of the renderers (legacy matrices, immediate-mode quad, GLSL
// 1.10). Threads: GUI thread, with the window's context current (from paintGL).
class ComparisonDrawer {
public:
    enum class Mode { First, Second, Difference, Split };
    static constexpr float DifferenceGain = 4.0f;

    ComparisonDrawer();
    ~ComparisonDrawer();
    ComparisonDrawer(const ComparisonDrawer &) = delete;
    ComparisonDrawer &operator=(const ComparisonDrawer &) = delete;

    // Builds the shader in the current context; false (with a warning) when it does not build.
    bool initialize();
    void release();

    // Draws region (picture pixels of the first clip) into shown (view pixels, y down) in a view
    // of viewSize device pixels, after clearing. splitX: the split line's view x. The second clip
    // is sampled at the same fraction of its own picture.
    void draw(const PictureRenderer &first, const PictureRenderer &second, Mode mode, const QRectF &region,
              const QRectF &shown, QSize viewSize, bool squares, double splitX);
    // framewise's red (first clip) or blue (second) square where the plain view has it: the
    // corner of the unzoomed picture, so it stays in sight however the view is zoomed.
    void drawIndicator(const QuadGeometry &plain, bool second);

private:
    std::unique_ptr<QOpenGLShaderProgram> m_Shader;
};
