// The renderer on a real GL context (Xvfb, xcb), driven by a small QOpenGLWidget the way the
// programs' windows drive it; the framebuffer read back shows where the picture landed, its
// colours, whether odd widths shear and which indicator square is drawn.
#include "render/picturerenderer.h"
#include "render/quadgeometry.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLWidget>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

const QRgb kRed = qRgb(255, 0, 0), kGreen = qRgb(0, 255, 0), kBlue = qRgb(0, 0, 255), kWhite = qRgb(255, 255, 255),
           kBlack = qRgb(0, 0, 0);

// An RGB24 picture, rows packed at 3 * width bytes.
struct Picture {
    int width, height;
    std::vector<uint8_t> rgb;
    Picture(int w, int h, const std::function<QRgb(int, int)> &colourAt) : width(w), height(h), rgb(size_t(w) * h * 3)
    {
        for (size_t i = 0; i < size_t(w) * h; ++i) {
            const QRgb c = colourAt(int(i % w), int(i / w));
            rgb[3 * i] = uint8_t(qRed(c)), rgb[3 * i + 1] = uint8_t(qGreen(c)), rgb[3 * i + 2] = uint8_t(qBlue(c));
        }
    }
};

// Red, green / blue, white quadrants: orientation and placement at once, and no black, so black
// on screen can only be background.
Picture quadrants(QSize s)
{
    return Picture(s.width(), s.height(), [s](int x, int y) {
        return y < s.height() / 2 ? (x < s.width() / 2 ? kRed : kGreen) : (x < s.width() / 2 ? kBlue : kWhite);
    });
}

Picture solid(int w, int h, QRgb colour)
{
    return Picture(w, h, [colour](int, int) { return colour; });
}

bool isBlack(QRgb p)
{
    return qRed(p) < 16 && qGreen(p) < 16 && qBlue(p) < 16;
}

::testing::AssertionResult colourNear(const QImage &image, int x, int y, QRgb want)
{
    const QRgb p = image.pixel(x, y);
    if (std::abs(qRed(p) - qRed(want)) <= 8 && std::abs(qGreen(p) - qGreen(want)) <= 8
        && std::abs(qBlue(p) - qBlue(want)) <= 8)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << std::hex << p << ", expected "
                                         << want;
}

int countLit(const QImage &image)
{
    int lit = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            lit += !isBlack(image.pixel(x, y));
    return lit;
}

// Stands in for a program's window: the same overrides, one or two renderers.
class RenderView : public QOpenGLWidget {
public:
    RenderView(QSize firstPicture, QSize secondPicture) : m_Sizes{firstPicture, secondPicture}
    {
        setWindowTitle("render test");
    }

    PictureRenderer first;
    PictureRenderer second;
    bool showSecond = false;
    PictureRenderer::Indicator indicator = PictureRenderer::Indicator::None;

    // Outside paintGL, as a window's timer does it.
    bool upload(PictureRenderer &renderer, const Picture &picture)
    {
        makeCurrent();
        const bool ok = renderer.upload(picture.rgb.data(), picture.width, picture.height);
        doneCurrent();
        return ok;
    }

protected:
    void initializeGL() override
    {
        first.initialize(m_Sizes[0]);
        second.initialize(m_Sizes[1]);
    }
    void resizeGL(int w, int h) override { first.resize(w, h); }
    void paintGL() override { (showSecond ? second : first).paint(width(), height(), indicator); }

private:
    QSize m_Sizes[2];
};

class PictureRendererTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
            GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    }

    static std::unique_ptr<RenderView> show(QSize viewSize, QSize firstPicture, QSize secondPicture = QSize())
    {
        auto view = std::make_unique<RenderView>(firstPicture, secondPicture);
        view->resize(viewSize);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get(), 20000));
        EXPECT_TRUE(view->isValid()) << "no GL context";
        EXPECT_EQ(view->size(), viewSize);
        return view;
    }

    // A quadrants() picture fitted into the image: black outside the quad, never black inside,
    // edges where the geometry puts them (within two pixels), quadrant colours in place.
    static void expectFittedQuadrants(const QImage &image, QSize picture)
    {
        const QuadGeometry g = QuadGeometry::forView(picture, image.width(), image.height());
        ASSERT_TRUE(g.isDrawable());
        const QPointF tl = g.pixelCorner(QuadGeometry::TopLeft);
        const QPointF br = g.pixelCorner(QuadGeometry::BottomRight);
        int litOutside = 0;
        int blackInside = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const double cx = x + 0.5, cy = y + 0.5;
                const bool black = isBlack(image.pixel(x, y));
                litOutside += !black && (cx < tl.x() - 2 || cx > br.x() + 2 || cy < tl.y() - 2 || cy > br.y() + 2);
                blackInside += black && cx > tl.x() + 2 && cx < br.x() - 2 && cy > tl.y() + 2 && cy < br.y() - 2;
            }
        EXPECT_EQ(litOutside, 0) << "picture spills into the black bars";
        EXPECT_EQ(blackInside, 0) << "picture does not reach its edges";
        // Near the quadrant borders and the outer edges a misplaced picture shows a neighbour.
        const struct {
            double fx, fy;
            QRgb colour;
        } samples[] = {{0.47, 0.47, kRed},  {0.53, 0.47, kGreen}, {0.47, 0.53, kBlue},
                       {0.53, 0.53, kWhite}, {0.02, 0.02, kRed},   {0.98, 0.98, kWhite}};
        for (const auto &s : samples)
            EXPECT_TRUE(colourNear(image, int(tl.x() + s.fx * (br.x() - tl.x())),
                                   int(tl.y() + s.fy * (br.y() - tl.y())), s.colour))
                << "at " << s.fx << ", " << s.fy << " of the picture";
    }
};

// Black, never undefined texture memory, until a picture of the clip arrives; refused uploads
// (bad data, another window's context, no context) change nothing.
TEST_F(PictureRendererTest, BlackUntilTheClipsFirstAcceptedPicture)
{
    for (QSize picture : {QSize(321, 241), QSize(0, 0)}) {
        auto view = show(QSize(800, 600), picture);
        if (picture.isEmpty())
            view->indicator = PictureRenderer::Indicator::First;   // no clip: no square either
        EXPECT_EQ(countLit(view->grabFramebuffer()), 0) << picture.width();
    }
    auto view = show(QSize(800, 600), QSize(720, 576));
    const Picture white = solid(720, 576, kWhite);
    view->makeCurrent();
    EXPECT_FALSE(view->first.upload(nullptr, 2, 2));
    EXPECT_FALSE(view->first.upload(white.rgb.data(), 0, 2));
    EXPECT_FALSE(view->first.upload(white.rgb.data(), 2, -1));
    view->doneCurrent();

    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext other;
    ASSERT_TRUE(other.create());
    ASSERT_FALSE(QOpenGLContext::areSharing(&other, view->context()));
    ASSERT_TRUE(other.makeCurrent(&surface));
    EXPECT_FALSE(view->first.upload(white.rgb.data(), 720, 576));   // the texture name means nothing there
    other.doneCurrent();
    if (QOpenGLContext *current = QOpenGLContext::currentContext())
        current->doneCurrent();
    EXPECT_FALSE(view->first.upload(white.rgb.data(), 720, 576));
    EXPECT_EQ(countLit(view->grabFramebuffer()), 0);

    ASSERT_TRUE(view->upload(view->first, white));
    ASSERT_GT(countLit(view->grabFramebuffer()), 0);
    // A new clip of the same texture size (1024 x 1024): only clearing keeps the old picture away.
    view->first.setPictureSize(QSize(640, 480));
    EXPECT_EQ(countLit(view->grabFramebuffer()), 0);
    ASSERT_TRUE(view->upload(view->first, quadrants(QSize(640, 480))));
    expectFittedQuadrants(view->grabFramebuffer(), QSize(640, 480));
}

// The texture follows the picture size, larger or smaller (a new clip in the same window), and
// what shows is always the newest picture fitted for its own size.
TEST_F(PictureRendererTest, PicturesFitWithBlackBarsAndFollowSizeChanges)
{
    const struct {
        QSize view;
        std::vector<QSize> pictures;
    } cases[] = {
        {{800, 600}, {{720, 576}, {200, 400}, {1280, 720}, {321, 241}, {400, 300}, {720, 576}}},
        {{640, 600}, {{720, 576}}},
        {{801, 600}, {{720, 576}}},
    };
    for (const auto &c : cases) {
        auto view = show(c.view, c.pictures.front());
        for (const QSize &size : c.pictures) {
            SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height() << " in " << c.view.width());
            ASSERT_TRUE(view->upload(view->first, quadrants(size)));
            EXPECT_EQ(view->first.textureSize(),
                      QSize(QuadGeometry::textureSize(size.width()), QuadGeometry::textureSize(size.height())));
            expectFittedQuadrants(view->grabFramebuffer(), size);
        }
    }
}

TEST_F(PictureRendererTest, OddWidthDoesNotShear)
{
    // 963 bytes a row: read with an alignment of 4, each row would start a byte later than the
    // last, the red/blue border would drift and the channels rotate.
    auto view = show(QSize(800, 600), QSize(321, 241));
    ASSERT_TRUE(view->upload(view->first, Picture(321, 241, [](int x, int) { return x < 161 ? kRed : kBlue; })));
    const QImage image = view->grabFramebuffer();
    std::vector<int> borders;
    for (int y : {10, 150, 300, 450, 590}) {
        SCOPED_TRACE(testing::Message() << "row " << y);
        int firstBlue = 0;
        while (firstBlue < image.width() && qBlue(image.pixel(firstBlue, y)) <= 128)
            ++firstBlue;
        ASSERT_LT(firstBlue, image.width());
        borders.push_back(firstBlue);
        for (auto [x, colour] : {std::pair{firstBlue - 5, kRed}, {firstBlue + 5, kBlue}, {100, kRed}, {700, kBlue}})
            EXPECT_TRUE(colourNear(image, x, y, colour));
    }
    const auto [lowest, highest] = std::minmax_element(borders.begin(), borders.end());
    EXPECT_LE(*highest - *lowest, 1) << "border moves from row to row";
    EXPECT_NEAR(borders.front(), 401, 3);   // column 161 of 321: about half way
}

// framewise's arrangement: two renderers in one context, one on screen at a time, each with its
// indicator square (a twenty-fifth of the picture at its top-left corner).
TEST_F(PictureRendererTest, TwoRenderersKeepTheirOwnPicturesAndSquares)
{
    auto view = show(QSize(800, 600), QSize(720, 576), QSize(200, 400));
    EXPECT_NE(view->first.textureName(), view->second.textureName());
    ASSERT_TRUE(view->upload(view->first, solid(720, 576, kWhite)));
    ASSERT_TRUE(view->upload(view->second, solid(200, 400, kGreen)));
    // Round after round: a square's colour must not tint the next paint's picture.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        view->showSecond = false;
        view->indicator = PictureRenderer::Indicator::First;
        QImage image = view->grabFramebuffer();
        // 720x576 spans x 25..775: the square is 30 x 24 pixels at (25, 0).
        EXPECT_TRUE(colourNear(image, 27, 2, kRed));
        EXPECT_TRUE(colourNear(image, 53, 22, kRed));
        EXPECT_TRUE(colourNear(image, 58, 12, kWhite)) << "square too wide";
        EXPECT_TRUE(colourNear(image, 40, 27, kWhite)) << "square too tall";
        EXPECT_TRUE(colourNear(image, 20, 12, kBlack)) << "square outside the picture";
        EXPECT_TRUE(colourNear(image, 400, 300, kWhite));

        view->showSecond = true;
        view->indicator = PictureRenderer::Indicator::Second;
        image = view->grabFramebuffer();
        // 200x400 spans x 250..550: the square is 12 x 24 pixels at (250, 0).
        EXPECT_TRUE(colourNear(image, 256, 12, kBlue));
        EXPECT_TRUE(colourNear(image, 265, 12, kGreen));
        EXPECT_TRUE(colourNear(image, 400, 300, kGreen));
        EXPECT_TRUE(colourNear(image, 245, 300, kBlack));
        EXPECT_TRUE(colourNear(image, 555, 300, kBlack));
    }
    view->showSecond = false;
    view->indicator = PictureRenderer::Indicator::None;
    EXPECT_TRUE(colourNear(view->grabFramebuffer(), 40, 12, kWhite));
}

} // namespace
