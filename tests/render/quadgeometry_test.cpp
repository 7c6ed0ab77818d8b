// The picture quad's arithmetic: texture size, fitting and centring, the indicator square, and
// inputs that must not give a quad at all. (What the texture shows is checked on screen.)
#include "render/quadgeometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using C = QuadGeometry;

TEST(QuadGeometryTest, TextureSizeIsSmallestPowerOfTwoNotBelowPicture)
{
    const int cases[][2] = {{-5, 1},      {0, 1},       {1, 1},       {3, 4},
                            {321, 512},   {512, 512},   {513, 1024},  {1080, 2048},
                            {(1 << 30) + 1, 1 << 30}};   // stops before int overflow, never loops
    for (const auto &c : cases)
        EXPECT_EQ(QuadGeometry::textureSize(c[0]), c[1]) << "picture " << c[0];
}

// With the values a paint passes (angle 0, inset 4, aspect 0); edges in view pixels, y down.
TEST(QuadGeometryTest, PaintFitsPictureCentresItAndPutsTheIndicatorTopLeft)
{
    const struct {
        QSize picture;
        int viewW, viewH;
        float scale;
        double tx, ty;
        double left, top, right, bottom;
    } cases[] = {
        {{720, 576}, 800, 600, 600.0f / 576.0f, 0.0, 0.0, 25.0, 0.0, 775.0, 600.0},
        {{720, 576}, 640, 600, 640.0f / 720.0f, 0.0, 0.0, 0.0, 44.0, 640.0, 556.0},
        // Odd sizes: the truncated centre puts the picture half a pixel left of or above centre.
        {{720, 576}, 801, 600, 600.0f / 576.0f, 800.0 / 801.0 - 1.0, 0.0, 25.0, 0.0, 775.0, 600.0},
        {{720, 576}, 800, 601, 601.0f / 576.0f, 0.0, 1.0 - 600.0 / 601.0, 400.0 - 375.0 * 601.0 / 600.0,
         -0.5, 400.0 + 375.0 * 601.0 / 600.0, 600.5},
        {{400, 300}, 800, 600, 2.0f, 0.0, 0.0, 0.0, 0.0, 800.0, 600.0},
        {{200, 400}, 800, 600, 1.5f, 0.0, 0.0, 250.0, 0.0, 550.0, 600.0},
        {{321, 241}, 800, 600, 600.0f / 241.0f, 0.0, 0.0, 400.0 - 321.0 * 300.0 / 241.0, 0.0,
         400.0 + 321.0 * 300.0 / 241.0, 600.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.picture.width() << "x" << c.picture.height() << " in "
                                        << c.viewW << "x" << c.viewH);
        EXPECT_FLOAT_EQ(QuadGeometry::fitScale(c.picture, c.viewW, c.viewH), c.scale);
        const QRect rect = QuadGeometry::targetRect(c.picture, c.viewW, c.viewH);
        EXPECT_EQ(rect.topLeft(), QPoint(c.viewW / 2, c.viewH / 2));
        EXPECT_EQ(rect.size(), c.picture);

        const QuadGeometry g = QuadGeometry::forView(c.picture, c.viewW, c.viewH);
        ASSERT_TRUE(g.isDrawable());
        EXPECT_NEAR(g.tx(), c.tx, 1e-5);
        EXPECT_NEAR(g.ty(), c.ty, 1e-5);
        EXPECT_FLOAT_EQ(g.z(), c.scale);
        EXPECT_NEAR(g.pixelCorner(C::TopLeft).x(), c.left, 1e-3);
        EXPECT_NEAR(g.pixelCorner(C::TopLeft).y(), c.top, 1e-3);
        EXPECT_NEAR(g.pixelCorner(C::BottomRight).x(), c.right, 1e-3);
        EXPECT_NEAR(g.pixelCorner(C::BottomRight).y(), c.bottom, 1e-3);
        // framewise's square: a twenty-fifth of the picture each way, at its top-left corner.
        const double w = (c.right - c.left) / 25.0;
        const double h = (c.bottom - c.top) / 25.0;
        const QPointF expected[] = {{c.left, c.top}, {c.left + w, c.top}, {c.left + w, c.top + h}, {c.left, c.top + h}};
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(g.indicatorPixelCorner(i).x(), expected[i].x(), 1e-3) << "corner " << i;
            EXPECT_NEAR(g.indicatorPixelCorner(i).y(), expected[i].y(), 1e-3) << "corner " << i;
        }
    }
}

TEST(QuadGeometryTest, EqualAspectsFitTheHeight)
{
    // Equal as floats though not as exact ratios: only here does the choice of branch show.
    const QSize picture(4946, 4299);
    ASSERT_EQ(float(picture.width()) / float(picture.height()), float(2301) / float(2000));
    ASSERT_NE(2301.0f / 4946.0f, 2000.0f / 4299.0f);
    EXPECT_EQ(QuadGeometry::fitScale(picture, 2301, 2000), 2000.0f / 4299.0f);
}

TEST(QuadGeometryTest, EmptyInputsGiveNothingToDraw)
{
    const struct {
        QSize picture;
        int viewW, viewH;
    } cases[] = {{{0, 0}, 800, 600},   {{720, 0}, 800, 600}, {{0, 576}, 800, 600},
                 {{-1, -1}, 800, 600}, {{720, 576}, 0, 0},   {{720, 576}, 800, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.picture.width() << "x" << c.picture.height() << " in "
                                        << c.viewW << "x" << c.viewH);
        EXPECT_EQ(QuadGeometry::fitScale(c.picture, c.viewW, c.viewH), 0.0f);
        const QuadGeometry g = QuadGeometry::forView(c.picture, c.viewW, c.viewH);
        EXPECT_FALSE(g.isDrawable());
        EXPECT_TRUE(std::isfinite(g.translateX()) && std::isfinite(g.translateY()));
    }
    // A zero scale would make the modelview translation divide by zero.
    const QSize picture(720, 576);
    EXPECT_FALSE(QuadGeometry(QuadGeometry::targetRect(picture, 800, 600), picture, 800, 600, 0.0f, 0.0f,
                              4.0f, 0.0f).isDrawable());
    EXPECT_FALSE(QuadGeometry().isDrawable());
    // An aspect override that rounds to a zero width must not divide by zero either.
    const QuadGeometry thin(QuadGeometry::targetRect(picture, 800, 600), picture, 800, 600, 1.0f, 0.0f, 4.0f, 0.0001f);
    EXPECT_FLOAT_EQ(thin.scale(), 800.0f / 720.0f);
    EXPECT_EQ(thin.qw(), 0.0f);
}

} // namespace
