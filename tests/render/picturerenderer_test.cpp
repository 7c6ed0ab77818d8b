// The renderer on a real GL context (Xvfb, xcb): a small QOpenGLWidget drives it the way the
// programs' windows do, and the tests read back the framebuffer to see where the picture landed,
// which colours it has, whether odd widths shear and which indicator square is drawn.
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
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace {

struct Rgb {
    int r, g, b;
};

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};

// An RGB24 picture, rows packed at 3 * width bytes.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;

    Picture(int w, int h, const std::function<Rgb(int, int)> &colourAt)
        : width(w), height(h), rgb(size_t(w) * size_t(h) * 3)
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Rgb c = colourAt(x, y);
                uint8_t *p = &rgb[(size_t(y) * size_t(w) + size_t(x)) * 3];
                p[0] = uint8_t(c.r);
                p[1] = uint8_t(c.g);
                p[2] = uint8_t(c.b);
            }
    }
    QSize size() const { return QSize(width, height); }
};

// Top left red, top right green, bottom left blue, bottom right white: shows orientation and
// placement at once, and contains no black, so black on screen can only be background.
Picture quadrants(int w, int h)
{
    return Picture(w, h, [w, h](int x, int y) {
        const bool right = x >= w / 2;
        const bool bottom = y >= h / 2;
        if (!bottom)
            return right ? kGreen : kRed;
        return right ? kWhite : kBlue;
    });
}

Picture solid(int w, int h, Rgb colour)
{
    return Picture(w, h, [colour](int, int) { return colour; });
}

bool isBlack(QRgb p)
{
    return qRed(p) < 16 && qGreen(p) < 16 && qBlue(p) < 16;
}

::testing::AssertionResult colourNear(const QImage &image, int x, int y, Rgb want)
{
    const QRgb p = image.pixel(x, y);
    const int tolerance = 8;
    if (std::abs(qRed(p) - want.r) <= tolerance && std::abs(qGreen(p) - want.g) <= tolerance
        && std::abs(qBlue(p) - want.b) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "pixel (" << x << ", " << y << ") is (" << qRed(p) << ", " << qGreen(p) << ", "
           << qBlue(p) << "), expected (" << want.r << ", " << want.g << ", " << want.b << ")";
}

// Stands in for a program's window: the same overrides, one or two renderers.
class RenderView : public QOpenGLWidget {
public:
    explicit RenderView(QSize firstPicture, QSize secondPicture = QSize(0, 0))
        : m_FirstSize(firstPicture), m_SecondSize(secondPicture)
    {
        setWindowTitle("render test");
    }

    PictureRenderer first;
    PictureRenderer second;
    bool showSecond = false;
    PictureRenderer::Indicator indicator = PictureRenderer::Indicator::None;

    // An upload outside paintGL, as a window's timer does it.
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
        first.initialize(m_FirstSize);
        second.initialize(m_SecondSize);
    }
    void resizeGL(int w, int h) override { first.resize(w, h); }
    void paintGL() override
    {
        (showSecond ? second : first).paint(width(), height(), indicator);
    }

private:
    QSize m_FirstSize;
    QSize m_SecondSize;
};

class PictureRendererTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("DISPLAY")
            || !qobject_cast<QApplication *>(QCoreApplication::instance()))
            GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    }

    // Shows a view of the given size and waits until it can draw.
    std::unique_ptr<RenderView> show(QSize viewSize, QSize firstPicture,
                                     QSize secondPicture = QSize(0, 0))
    {
        auto view = std::make_unique<RenderView>(firstPicture, secondPicture);
        view->resize(viewSize);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get(), 20000));
        EXPECT_TRUE(view->isValid()) << "no GL context";
        EXPECT_EQ(view->size(), viewSize);
        return view;
    }

    static QImage grab(RenderView &view)
    {
        QImage image = view.grabFramebuffer();
        EXPECT_EQ(image.size(), view.size());
        return image;
    }

    // Checks a quadrants() picture of the given size fitted into the image: black outside the
    // quad, never black inside it, edges where the geometry puts them (within two pixels),
    // quadrant colours in place.
    static void expectFittedQuadrants(const QImage &image, QSize picture)
    {
        const QuadGeometry g = QuadGeometry::forView(picture, image.width(), image.height());
        ASSERT_TRUE(g.isDrawable());
        const QPointF topLeft = g.pixelCorner(QuadGeometry::TopLeft);
        const QPointF bottomRight = g.pixelCorner(QuadGeometry::BottomRight);
        const double margin = 2.0;
        int litOutside = 0;
        int blackInside = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const double cx = x + 0.5;
                const double cy = y + 0.5;
                const bool outside = cx < topLeft.x() - margin || cx > bottomRight.x() + margin
                                     || cy < topLeft.y() - margin || cy > bottomRight.y() + margin;
                const bool inside = cx > topLeft.x() + margin && cx < bottomRight.x() - margin
                                    && cy > topLeft.y() + margin && cy < bottomRight.y() - margin;
                const bool black = isBlack(image.pixel(x, y));
                if (outside && !black)
                    ++litOutside;
                if (inside && black)
                    ++blackInside;
            }
        EXPECT_EQ(litOutside, 0) << "picture spills into the black bars";
        EXPECT_EQ(blackInside, 0) << "picture does not reach its edges";

        const double w = bottomRight.x() - topLeft.x();
        const double h = bottomRight.y() - topLeft.y();
        const auto at = [&](double fx, double fy) {
            return QPoint(int(topLeft.x() + fx * w), int(topLeft.y() + fy * h));
        };
        const struct {
            double fx, fy;
            Rgb colour;
        } samples[] = {
            {0.25, 0.25, kRed}, {0.75, 0.25, kGreen}, {0.25, 0.75, kBlue}, {0.75, 0.75, kWhite},
            // Close to the quadrant borders: a misplaced picture shows the neighbour's colour.
            {0.47, 0.47, kRed}, {0.53, 0.47, kGreen}, {0.47, 0.53, kBlue}, {0.53, 0.53, kWhite},
            // Close to the outer edges.
            {0.02, 0.02, kRed}, {0.98, 0.98, kWhite},
        };
        for (const auto &s : samples) {
            const QPoint p = at(s.fx, s.fy);
            EXPECT_TRUE(colourNear(image, p.x(), p.y(), s.colour))
                << "at " << s.fx << ", " << s.fy << " of the picture";
        }
    }

    static int countLit(const QImage &image)
    {
        int lit = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                lit += isBlack(image.pixel(x, y)) ? 0 : 1;
        return lit;
    }
};

TEST_F(PictureRendererTest, BlackBeforeAnyPicture)
{
    const struct {
        const char *name;
        QSize picture;
    } cases[] = {
        {"picture size known", {720, 576}},
        {"odd picture size", {321, 241}},
        {"no clip yet", {0, 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto view = show(QSize(800, 600), c.picture);
        EXPECT_EQ(countLit(grab(*view)), 0);
    }
}

TEST_F(PictureRendererTest, PictureFittedAndCentredWithBlackBars)
{
    const struct {
        const char *name;
        QSize view;
        QSize picture;
    } cases[] = {
        {"bars left and right", {800, 600}, {720, 576}},
        {"bars top and bottom", {640, 600}, {720, 576}},
        {"odd view width", {801, 600}, {720, 576}},
        {"portrait picture", {800, 600}, {200, 400}},
        {"equal aspects", {800, 600}, {400, 300}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto view = show(c.view, c.picture);
        ASSERT_TRUE(view->upload(view->first, quadrants(c.picture.width(), c.picture.height())));
        expectFittedQuadrants(grab(*view), c.picture);
    }
}

TEST_F(PictureRendererTest, OddWidthDoesNotShear)
{
    // 321 * 3 = 963 bytes per row: read with an alignment of 4, each row would start one byte
    // later than the last, so the red/blue border would drift left by 80 pixels over the picture
    // and the channels would rotate into green.
    const int w = 321;
    const int h = 241;
    const int border = 161;
    const Picture picture(w, h, [](int x, int) { return x < border ? kRed : kBlue; });
    auto view = show(QSize(800, 600), picture.size());
    ASSERT_TRUE(view->upload(view->first, picture));
    const QImage image = grab(*view);

    std::vector<int> borders;
    for (int y : {10, 150, 300, 450, 590}) {
        SCOPED_TRACE(testing::Message() << "row " << y);
        int firstBlue = -1;
        for (int x = 0; x < image.width(); ++x) {
            if (qBlue(image.pixel(x, y)) > 128) {
                firstBlue = x;
                break;
            }
        }
        ASSERT_GE(firstBlue, 0);
        borders.push_back(firstBlue);
        EXPECT_TRUE(colourNear(image, firstBlue - 5, y, kRed));
        EXPECT_TRUE(colourNear(image, firstBlue + 5, y, kBlue));
        EXPECT_TRUE(colourNear(image, 100, y, kRed));
        EXPECT_TRUE(colourNear(image, 700, y, kBlue));
    }
    const auto [lowest, highest] = std::minmax_element(borders.begin(), borders.end());
    EXPECT_LE(*highest - *lowest, 1) << "border moves from row to row";
    // Column 161 of 321 lands about half way across.
    EXPECT_NEAR(borders.front(), 401, 3);
}

TEST_F(PictureRendererTest, IndicatorSquareTopLeft)
{
    const struct {
        const char *name;
        PictureRenderer::Indicator indicator;
        Rgb colour;
    } cases[] = {
        {"first clip", PictureRenderer::Indicator::First, kRed},
        {"second clip", PictureRenderer::Indicator::Second, kBlue},
        {"none", PictureRenderer::Indicator::None, kWhite},
    };
    // 720x576 in 800x600: the picture spans x 25..775, so the square is 30 x 24 pixels at (25, 0).
    auto view = show(QSize(800, 600), QSize(720, 576));
    ASSERT_TRUE(view->upload(view->first, solid(720, 576, kWhite)));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        view->indicator = c.indicator;
        // Twice: the square's colour must not tint the picture of the next paint.
        for (int paint = 0; paint < 2; ++paint) {
            const QImage image = grab(*view);
            EXPECT_TRUE(colourNear(image, 27, 2, c.colour));
            EXPECT_TRUE(colourNear(image, 40, 12, c.colour));
            EXPECT_TRUE(colourNear(image, 53, 22, c.colour));
            EXPECT_TRUE(colourNear(image, 58, 12, kWhite)) << "square too wide";
            EXPECT_TRUE(colourNear(image, 40, 27, kWhite)) << "square too tall";
            EXPECT_TRUE(colourNear(image, 400, 300, kWhite));
            EXPECT_TRUE(colourNear(image, 770, 595, kWhite));
            EXPECT_TRUE(colourNear(image, 20, 12, kBlack)) << "square outside the picture";
        }
    }
}

TEST_F(PictureRendererTest, NoClipShowsNoIndicatorAndIgnoresBadUploads)
{
    auto view = show(QSize(800, 600), QSize(0, 0));
    view->indicator = PictureRenderer::Indicator::First;
    EXPECT_EQ(countLit(grab(*view)), 0);

    const Picture tiny = solid(2, 2, kWhite);
    view->makeCurrent();
    EXPECT_FALSE(view->first.upload(nullptr, 2, 2));
    EXPECT_FALSE(view->first.upload(tiny.rgb.data(), 0, 2));
    EXPECT_FALSE(view->first.upload(tiny.rgb.data(), 2, -1));
    view->doneCurrent();
    EXPECT_EQ(countLit(grab(*view)), 0);
}

TEST_F(PictureRendererTest, UploadOutsideItsContextIsRefused)
{
    auto view = show(QSize(200, 200), QSize(4, 4));
    const Picture picture = solid(4, 4, kWhite);

    // Another window's context, sharing nothing: the texture name means nothing there.
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext other;
    ASSERT_TRUE(other.create());
    ASSERT_FALSE(QOpenGLContext::areSharing(&other, view->context()));
    ASSERT_TRUE(other.makeCurrent(&surface));
    EXPECT_FALSE(view->first.upload(picture.rgb.data(), 4, 4));
    other.doneCurrent();

    // No context at all.
    if (QOpenGLContext *current = QOpenGLContext::currentContext())
        current->doneCurrent();
    ASSERT_EQ(QOpenGLContext::currentContext(), nullptr);
    EXPECT_FALSE(view->first.upload(picture.rgb.data(), 4, 4));

    EXPECT_EQ(countLit(grab(*view)), 0);
    // The window's own context takes it.
    EXPECT_TRUE(view->upload(view->first, picture));
    EXPECT_GT(countLit(grab(*view)), 0);
}

// A new clip of another size in the same window: the texture follows the picture size, larger
// or smaller, and what shows is always the newest picture, fitted for its own size.
TEST_F(PictureRendererTest, PictureSizeChangesReallocateTheTexture)
{
    const QSize sizes[] = {{720, 576}, {200, 400}, {1280, 720}, {321, 241}, {720, 576}};
    auto view = show(QSize(800, 600), sizes[0]);
    for (const QSize &size : sizes) {
        SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
        ASSERT_TRUE(view->upload(view->first, quadrants(size.width(), size.height())));
        EXPECT_EQ(view->first.textureSize(),
                  QSize(QuadGeometry::textureSize(size.width()),
                        QuadGeometry::textureSize(size.height())));
        expectFittedQuadrants(grab(*view), size);
    }
}

TEST_F(PictureRendererTest, NewClipShowsBlackUntilItsFirstPicture)
{
    auto view = show(QSize(800, 600), QSize(720, 576));
    ASSERT_TRUE(view->upload(view->first, solid(720, 576, kWhite)));
    ASSERT_GT(countLit(grab(*view)), 0);

    // Same texture size (1024 x 1024), so only clearing keeps the old clip's picture off screen.
    view->first.setPictureSize(QSize(640, 480));
    EXPECT_EQ(countLit(grab(*view)), 0);

    ASSERT_TRUE(view->upload(view->first, quadrants(640, 480)));
    expectFittedQuadrants(grab(*view), QSize(640, 480));
}

// framewise's arrangement: two renderers in one context, one on screen at a time.
TEST_F(PictureRendererTest, TwoRenderersKeepTheirOwnPictures)
{
    auto view = show(QSize(800, 600), QSize(720, 576), QSize(200, 400));
    EXPECT_NE(view->first.textureName(), view->second.textureName());
    ASSERT_TRUE(view->upload(view->first, quadrants(720, 576)));
    ASSERT_TRUE(view->upload(view->second, solid(200, 400, kGreen)));

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        view->showSecond = false;
        view->indicator = PictureRenderer::Indicator::First;
        QImage image = grab(*view);
        EXPECT_TRUE(colourNear(image, 40, 12, kRed));
        EXPECT_TRUE(colourNear(image, 587, 150, kGreen));
        EXPECT_TRUE(colourNear(image, 587, 450, kWhite));

        view->showSecond = true;
        view->indicator = PictureRenderer::Indicator::Second;
        image = grab(*view);
        // 200x400 fits the height: x 250..550, the square 12 x 24 pixels at (250, 0).
        EXPECT_TRUE(colourNear(image, 256, 12, kBlue));
        EXPECT_TRUE(colourNear(image, 400, 300, kGreen));
        EXPECT_TRUE(colourNear(image, 245, 300, kBlack));
        EXPECT_TRUE(colourNear(image, 555, 300, kBlack));
    }
}

} // namespace
