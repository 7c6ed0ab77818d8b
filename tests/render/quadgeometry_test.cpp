// The picture quad's arithmetic, checked number by number: where the picture lands, which part of
// the texture it shows, and how a turned or re-proportioned picture is drawn.
#include "render/quadgeometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr double kTolerance = 1e-5;

TEST(QuadGeometryTest, TextureSizeIsSmallestPowerOfTwoNotBelowPicture)
{
    const struct {
        int picture;
        int texture;
    } cases[] = {
        {-5, 1}, {0, 1}, {1, 1}, {2, 2}, {3, 4}, {241, 256}, {321, 512},
        {512, 512}, {513, 1024}, {576, 1024}, {720, 1024}, {1080, 2048},
        {(1 << 30) + 1, 1 << 30},   // stops before int overflow instead of looping forever
    };
    for (const auto &c : cases)
        EXPECT_EQ(QuadGeometry::textureSize(c.picture), c.texture) << "picture " << c.picture;
}

// Fitting and centring with the values a paint passes (angle 0, inset 4, aspect 0). Expected
// pixel edges are where the picture's corners land in the view (x right, y down).
TEST(QuadGeometryTest, PaintFitsPictureAndCentresIt)
{
    const struct {
        const char *name;
        QSize picture;
        int viewW, viewH;
        float scale;
        int x1, y1;
        double tx, ty;
        double left, top, right, bottom;
    } cases[] = {
        // Relatively wider view: fit the height, 25-pixel bars left and right.
        {"720x576 in 800x600", {720, 576}, 800, 600, 600.0f / 576.0f, 400, 300, 0.0, 0.0,
         25.0, 0.0, 775.0, 600.0},
        // Relatively narrower view: fit the width, 44-pixel bars top and bottom.
        {"720x576 in 640x600", {720, 576}, 640, 600, 640.0f / 720.0f, 320, 300, 0.0, 0.0,
         0.0, 44.0, 640.0, 556.0},
        // Odd width: the truncated centre puts the picture half a pixel left of exact centre.
        {"720x576 in 801x600", {720, 576}, 801, 600, 600.0f / 576.0f, 400, 300,
         800.0 / 801.0 - 1.0, 0.0, 25.0, 0.0, 775.0, 600.0},
        // Odd height likewise moves it half a pixel up: it overhangs the top edge by half a
        // pixel and leaves half a pixel at the bottom.
        {"720x576 in 800x601", {720, 576}, 800, 601, 601.0f / 576.0f, 400, 300, 0.0,
         1.0 - 600.0 / 601.0, 400.0 - 375.0 * 601.0 / 600.0, -0.5, 400.0 + 375.0 * 601.0 / 600.0,
         600.5},
        // Exactly equal aspects: the whole view.
        {"400x300 in 800x600", {400, 300}, 800, 600, 2.0f, 400, 300, 0.0, 0.0,
         0.0, 0.0, 800.0, 600.0},
        // Portrait picture in a landscape view: fit the height.
        {"200x400 in 800x600", {200, 400}, 800, 600, 1.5f, 400, 300, 0.0, 0.0,
         250.0, 0.0, 550.0, 600.0},
        // A picture smaller than the view is scaled up.
        {"321x241 in 800x600", {321, 241}, 800, 600, 600.0f / 241.0f, 400, 300, 0.0, 0.0,
         400.0 - 321.0 * 300.0 / 241.0, 0.0, 400.0 + 321.0 * 300.0 / 241.0, 600.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FLOAT_EQ(QuadGeometry::fitScale(c.picture, c.viewW, c.viewH), c.scale);
        const QRect rect = QuadGeometry::targetRect(c.picture, c.viewW, c.viewH);
        EXPECT_EQ(rect.left(), c.x1);
        EXPECT_EQ(rect.top(), c.y1);
        EXPECT_EQ(rect.size(), c.picture);

        const QuadGeometry g = QuadGeometry::forView(c.picture, c.viewW, c.viewH);
        ASSERT_TRUE(g.isDrawable());
        EXPECT_NEAR(g.tx(), c.tx, kTolerance);
        EXPECT_NEAR(g.ty(), c.ty, kTolerance);
        EXPECT_FLOAT_EQ(g.z(), c.scale);   // flat quad: m = 1
        const QPointF topLeft = g.pixelCorner(QuadGeometry::TopLeft);
        const QPointF bottomRight = g.pixelCorner(QuadGeometry::BottomRight);
        EXPECT_NEAR(topLeft.x(), c.left, 1e-3);
        EXPECT_NEAR(topLeft.y(), c.top, 1e-3);
        EXPECT_NEAR(bottomRight.x(), c.right, 1e-3);
        EXPECT_NEAR(bottomRight.y(), c.bottom, 1e-3);
    }
}

TEST(QuadGeometryTest, EqualAspectsFitTheHeight)
{
    // The two aspects are equal as floats although not as exact ratios, so the two fits give
    // different scales: only here does the choice of branch show.
    const QSize picture(4946, 4299);
    ASSERT_EQ(float(picture.width()) / float(picture.height()), float(2301) / float(2000));
    ASSERT_NE(2301.0f / 4946.0f, 2000.0f / 4299.0f);
    EXPECT_EQ(QuadGeometry::fitScale(picture, 2301, 2000), 2000.0f / 4299.0f);
}

TEST(QuadGeometryTest, TextureCoordinatesCutTheInsetOffThePictureArea)
{
    const QuadGeometry g = QuadGeometry::forView(QSize(720, 576), 800, 600);
    EXPECT_EQ(g.textureWidth(), 1024);
    EXPECT_EQ(g.textureHeight(), 1024);
    EXPECT_NEAR(g.s0(), 0.005, kTolerance);
    EXPECT_NEAR(g.s1(), 0.698125, kTolerance);
    EXPECT_NEAR(g.t0(), 0.0066667, kTolerance);
    EXPECT_NEAR(g.t1(), 0.5558333, kTolerance);
    EXPECT_NEAR(g.qw(), 0.9, kTolerance);
    EXPECT_NEAR(g.qh(), 0.96, kTolerance);
    EXPECT_NEAR(g.scale() * g.qw(), 0.9375, kTolerance);

    // The picture's first row (t0) is at the top (positive y), its first column (s0) at the left.
    using C = QuadGeometry;
    EXPECT_FLOAT_EQ(g.vertex(C::TopLeft).s, g.s0());
    EXPECT_FLOAT_EQ(g.vertex(C::TopLeft).t, g.t0());
    EXPECT_GT(g.vertex(C::TopLeft).y, 0.0f);
    EXPECT_LT(g.vertex(C::TopLeft).x, 0.0f);
    EXPECT_FLOAT_EQ(g.vertex(C::BottomRight).s, g.s1());
    EXPECT_FLOAT_EQ(g.vertex(C::BottomRight).t, g.t1());
    EXPECT_LT(g.vertex(C::BottomRight).y, 0.0f);
    EXPECT_GT(g.vertex(C::BottomRight).x, 0.0f);
}

// The angle turns the picture about its vertical axis: the side given w = k recedes (shorter),
// the side given w = m stays. Which side recedes flips at 180 degrees.
TEST(QuadGeometryTest, AngleTiltsOneSide)
{
    const struct {
        float angle;
        float normalised;
        float k;
        float leftW, rightW;
    } cases[] = {
        {0.0f, 0.0f, 1.0f, 1.0f, 1.0f},
        {45.0f, 45.0f, 1.25f, 0.75f, 1.25f},
        {90.0f, 90.0f, 1.5f, 0.5f, 1.5f},
        {135.0f, 135.0f, 1.25f, 0.75f, 1.25f},
        {179.0f, 179.0f, 1.0f + 1.0f / 180.0f, 1.0f - 1.0f / 180.0f, 1.0f + 1.0f / 180.0f},
        {180.0f, 180.0f, 1.0f, 1.0f, 1.0f},
        {225.0f, 225.0f, 1.25f, 1.25f, 0.75f},
        {270.0f, 270.0f, 1.5f, 1.5f, 0.5f},
        {315.0f, 315.0f, 1.25f, 1.25f, 0.75f},
        {360.0f, 0.0f, 1.0f, 1.0f, 1.0f},
        {450.0f, 90.0f, 1.5f, 0.5f, 1.5f},
        {-90.0f, 270.0f, 1.5f, 1.5f, 0.5f},
        {-450.0f, 270.0f, 1.5f, 1.5f, 0.5f},
    };
    const QSize picture(720, 576);
    const QRect rect = QuadGeometry::targetRect(picture, 800, 600);
    const float scale = QuadGeometry::fitScale(picture, 800, 600);
    const QuadGeometry flat(rect, picture, 800, 600, scale, 0.0f, 4.0f, 0.0f);
    using C = QuadGeometry;
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "angle " << c.angle);
        const QuadGeometry g(rect, picture, 800, 600, scale, c.angle, 4.0f, 0.0f);
        ASSERT_TRUE(g.isDrawable());
        EXPECT_FLOAT_EQ(g.angle(), c.normalised);
        EXPECT_FLOAT_EQ(g.k(), c.k);
        EXPECT_NEAR(g.m(), 2.0 - c.k, 1e-6);
        EXPECT_FLOAT_EQ(g.z(), float((2.0 - double(c.k)) * scale));
        EXPECT_FLOAT_EQ(g.vertex(C::BottomLeft).w, c.leftW);
        EXPECT_FLOAT_EQ(g.vertex(C::TopLeft).w, c.leftW);
        EXPECT_FLOAT_EQ(g.vertex(C::BottomRight).w, c.rightW);
        EXPECT_FLOAT_EQ(g.vertex(C::TopRight).w, c.rightW);

        // The side with w = m keeps the flat quad's corners; the side with w = k shrinks towards
        // the origin by m / k (a third at 90 and 270 degrees).
        const bool rightRecedes = c.rightW >= c.leftW;
        const C::Corner keptTop = rightRecedes ? C::TopLeft : C::TopRight;
        const C::Corner shrunkTop = rightRecedes ? C::TopRight : C::TopLeft;
        const double ratio = (2.0 - c.k) / c.k;
        EXPECT_NEAR(g.deviceCorner(keptTop).x(), flat.deviceCorner(keptTop).x(), 1e-5);
        EXPECT_NEAR(g.deviceCorner(keptTop).y(), flat.deviceCorner(keptTop).y(), 1e-5);
        EXPECT_NEAR(g.deviceCorner(shrunkTop).x(), flat.deviceCorner(shrunkTop).x() * ratio, 1e-5);
        EXPECT_NEAR(g.deviceCorner(shrunkTop).y(), flat.deviceCorner(shrunkTop).y() * ratio, 1e-5);
    }
}

TEST(QuadGeometryTest, AspectMakesTheQuadThatWideAndFillsTheViewWidth)
{
    const struct {
        const char *name;
        float aspect;
        int n;   // quad width in pixels: aspect * rect height, rounded
    } cases[] = {
        {"16:9 on a 576-line picture", 16.0f / 9.0f, 1024},
        {"4:3", 4.0f / 3.0f, 768},
        {"rounds up above half a pixel", 1.0f + 0.6f / 576.0f, 577},
        {"rounds down below half a pixel", 1.0f + 0.4f / 576.0f, 576},
    };
    const QSize picture(720, 576);
    const QRect rect = QuadGeometry::targetRect(picture, 800, 600);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        // The scale passed in is replaced, whatever it was.
        const QuadGeometry g(rect, picture, 800, 600, 123.0f, 0.0f, 4.0f, c.aspect);
        ASSERT_TRUE(g.isDrawable());
        EXPECT_FLOAT_EQ(g.qw(), float(c.n) / 800.0f);
        EXPECT_FLOAT_EQ(g.scale(), 800.0f / float(c.n));
        EXPECT_NEAR(g.deviceCorner(QuadGeometry::TopRight).x() - g.tx(), 1.0, 1e-5);
        EXPECT_NEAR(g.deviceCorner(QuadGeometry::TopLeft).x() - g.tx(), -1.0, 1e-5);
        EXPECT_FLOAT_EQ(g.qh(), 576.0f / 600.0f);
        // Texture coordinates still cover the picture, not the stretched width.
        EXPECT_NEAR(g.s1(), 0.698125, kTolerance);
    }

    // An aspect that rounds to a zero width must not divide by zero.
    const QuadGeometry thin(rect, picture, 800, 600, 1.0f, 0.0f, 4.0f, 0.0001f);
    EXPECT_TRUE(std::isfinite(thin.scale()));
    EXPECT_FLOAT_EQ(thin.scale(), 800.0f / 720.0f);
    EXPECT_EQ(thin.qw(), 0.0f);
}

TEST(QuadGeometryTest, IndicatorIsOneTwentyFifthAtTheTopLeft)
{
    const struct {
        const char *name;
        QSize picture;
        int viewW, viewH;
        double left, top, width, height;   // expected square in view pixels
    } cases[] = {
        {"720x576 in 800x600", {720, 576}, 800, 600, 25.0, 0.0, 30.0, 24.0},
        {"720x576 in 640x600", {720, 576}, 640, 600, 0.0, 44.0, 25.6, 512.0 / 25.0},
        {"200x400 in 800x600", {200, 400}, 800, 600, 250.0, 0.0, 12.0, 24.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QuadGeometry g = QuadGeometry::forView(c.picture, c.viewW, c.viewH);
        ASSERT_TRUE(g.isDrawable());
        const QPointF topLeft = g.indicatorPixelCorner(0);
        const QPointF topRight = g.indicatorPixelCorner(1);
        const QPointF bottomRight = g.indicatorPixelCorner(2);
        const QPointF bottomLeft = g.indicatorPixelCorner(3);
        EXPECT_NEAR(topLeft.x(), c.left, 1e-3);
        EXPECT_NEAR(topLeft.y(), c.top, 1e-3);
        EXPECT_NEAR(topRight.x(), c.left + c.width, 1e-3);
        EXPECT_NEAR(topRight.y(), c.top, 1e-3);
        EXPECT_NEAR(bottomRight.x(), c.left + c.width, 1e-3);
        EXPECT_NEAR(bottomRight.y(), c.top + c.height, 1e-3);
        EXPECT_NEAR(bottomLeft.x(), c.left, 1e-3);
        EXPECT_NEAR(bottomLeft.y(), c.top + c.height, 1e-3);
    }
}

TEST(QuadGeometryTest, EmptyInputsGiveNothingToDraw)
{
    const struct {
        const char *name;
        QSize picture;
        int viewW, viewH;
    } cases[] = {
        {"no clip", {0, 0}, 800, 600},
        {"zero height", {720, 0}, 800, 600},
        {"zero width", {0, 576}, 800, 600},
        {"negative size", {-1, -1}, 800, 600},
        {"empty view", {720, 576}, 0, 0},
        {"view without height", {720, 576}, 800, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(QuadGeometry::fitScale(c.picture, c.viewW, c.viewH), 0.0f);
        const QuadGeometry g = QuadGeometry::forView(c.picture, c.viewW, c.viewH);
        EXPECT_FALSE(g.isDrawable());
        EXPECT_TRUE(std::isfinite(g.translateX()));
        EXPECT_TRUE(std::isfinite(g.translateY()));
    }
    // A zero scale would make the modelview translation divide by zero.
    const QSize picture(720, 576);
    const QuadGeometry zero(QuadGeometry::targetRect(picture, 800, 600), picture, 800, 600, 0.0f,
                            0.0f, 4.0f, 0.0f);
    EXPECT_FALSE(zero.isDrawable());
    EXPECT_FALSE(QuadGeometry().isDrawable());
}

} // namespace
