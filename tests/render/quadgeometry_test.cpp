// The picture quad's arithmetic: texture size, fitting and centring, the indicator square, and
// inputs that must not give a quad at all. (What the texture shows is checked on screen.)
#include "render/quadgeometry.h"

#include <gtest/gtest.h>

#include <QLineF>

#include <cmath>

namespace {

using C = QuadGeometry;

TEST(QuadGeometryTest, TextureSizeFitAndIndicator)
{
    // The smallest power of two not below the picture; stops before int overflow, never loops.
    for (const auto &[picture, texture] : {std::pair{-5, 1}, {1, 1}, {321, 512}, {512, 512}, {513, 1024}, {(1 << 30) + 1, 1 << 30}})
        EXPECT_EQ(QuadGeometry::textureSize(picture), texture) << "picture " << picture;

    // With the values a paint passes (angle 0, inset 4, aspect 0); edges in view pixels, y down.
    // Odd view sizes: the truncated centre puts the picture half a pixel left of or above centre.
    const struct {
        QSize picture;
        int viewW, viewH;
        double tx, ty, left, top, right, bottom;
    } cases[] = {
        {{720, 576}, 800, 600, 0.0, 0.0, 25.0, 0.0, 775.0, 600.0},
        {{720, 576}, 640, 600, 0.0, 0.0, 0.0, 44.0, 640.0, 556.0},
        {{720, 576}, 801, 600, 800.0 / 801.0 - 1.0, 0.0, 25.0, 0.0, 775.0, 600.0},
        {{720, 576}, 800, 601, 0.0, 1.0 - 600.0 / 601.0, 400.0 - 375.0 * 601.0 / 600.0, -0.5, 400.0 + 375.0 * 601.0 / 600.0, 600.5},
        {{200, 400}, 800, 600, 0.0, 0.0, 250.0, 0.0, 550.0, 600.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.picture.width() << "x" << c.picture.height() << " in " << c.viewW << "x" << c.viewH);
        const QuadGeometry g = QuadGeometry::forView(c.picture, c.viewW, c.viewH);
        ASSERT_TRUE(g.isDrawable());
        EXPECT_NEAR(g.tx(), c.tx, 1e-5);
        EXPECT_NEAR(g.ty(), c.ty, 1e-5);
        EXPECT_FLOAT_EQ(g.z(), QuadGeometry::fitScale(c.picture, c.viewW, c.viewH));
        EXPECT_NEAR(g.z(), (c.right - c.left) / c.picture.width(), 1e-5);
        const QPointF want[] = {{c.left, c.top}, {c.right, c.bottom}};
        EXPECT_NEAR(QLineF(g.pixelCorner(C::TopLeft), want[0]).length(), 0, 1e-3);
        EXPECT_NEAR(QLineF(g.pixelCorner(C::BottomRight), want[1]).length(), 0, 1e-3);
        // framewise's square: a twenty-fifth of the picture each way, at its top-left corner.
        const double w = (c.right - c.left) / 25.0, h = (c.bottom - c.top) / 25.0;
        EXPECT_NEAR(QLineF(g.indicatorPixelCorner(0), want[0]).length(), 0, 1e-3);
        EXPECT_NEAR(QLineF(g.indicatorPixelCorner(2), QPointF(c.left + w, c.top + h)).length(), 0, 1e-3);
    }
    // Equal aspects as floats though not as exact ratios: only here does the choice of branch show.
    EXPECT_EQ(QuadGeometry::fitScale(QSize(4946, 4299), 2301, 2000), 2000.0f / 4299.0f);
}

TEST(QuadGeometryTest, EmptyInputsGiveNothingToDraw)
{
    const std::tuple<QSize, int, int> cases[] = {{{0, 0}, 800, 600}, {{720, 0}, 800, 600}, {{-1, -1}, 800, 600}, {{720, 576}, 800, 0}};
    for (const auto &[picture, w, h] : cases) {
        EXPECT_EQ(QuadGeometry::fitScale(picture, w, h), 0.0f) << picture.width() << " in " << w << "x" << h;
        const QuadGeometry g = QuadGeometry::forView(picture, w, h);
        EXPECT_FALSE(g.isDrawable());
        EXPECT_TRUE(std::isfinite(g.translateX()) && std::isfinite(g.translateY()));
    }
    // A zero scale would make the modelview translation divide by zero; so would an aspect
    // override that rounds to a zero width.
    const QSize picture(720, 576);
    const QRect target = QuadGeometry::targetRect(picture, 800, 600);
    EXPECT_EQ(target, QRect(QPoint(400, 300), picture));
    EXPECT_FALSE(QuadGeometry(target, picture, 800, 600, 0.0f, 0.0f, 4.0f, 0.0f).isDrawable());
    EXPECT_FALSE(QuadGeometry().isDrawable());
    const QuadGeometry thin(target, picture, 800, 600, 1.0f, 0.0f, 4.0f, 0.0001f);
    EXPECT_FLOAT_EQ(thin.scale(), 800.0f / 720.0f);
    EXPECT_EQ(thin.qw(), 0.0f);
}

} // namespace
