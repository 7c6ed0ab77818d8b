// The picture path end to end on real GL (Xvfb, xcb): clips decoded by the engine, their planes
// uploaded by the renderer into a window, the window read back, in both paths (the shader, and
// the CPU conversion a software GL gets). Colours against ffmpeg's own conversion of the same
// frame, frame numbers through the converted formats, the display aspect, an odd chroma size; and
// the choice of matrix and range, and of the path, by table.
#include "engine/picturecolour.h"
#include "render/glwindow.h"
#include "render/picturepathchoice.h"
#include "render/picturerenderer.h"
#include "tests/common/enginerun.h"
#include "tests/common/screenpicture.h"
#include "tests/common/testclips.h"
#include "render/quadgeometry.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLineF>
#include <QProcess>
#include <QTest>
#include <cmath>
#include <memory>

namespace {

using namespace testsupport;

// Stands in for a program's window: the same overrides, one renderer.
class RenderView : public GlWindow {
public:
    PictureRenderer renderer;

protected:
    void initializeGL() override { renderer.initialize(QSize()); }
    void resizeGL(int w, int h) override { renderer.resize(w, h); }
    void paintGL() override { renderer.paint(width(), height(), PictureRenderer::Indicator::None); }
};

// ffmpeg's RGB24 conversion of the clip's first frame, at (x, y).
QRgb ffmpegPixel(const QString &clip, QSize size, int x, int y)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-i", clip, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    ffmpeg.waitForFinished(30000);
    const QByteArray rgb = ffmpeg.readAllStandardOutput();
    const qsizetype at = (qsizetype(y) * size.width() + x) * 3;
    return rgb.size() != qsizetype(size.width()) * size.height() * 3 ? qRgb(255, 0, 255)
                                                                    : qRgb(uchar(rgb[at]), uchar(rgb[at + 1]), uchar(rgb[at + 2]));
}

// The first and last pixel brighter than mid-grey along the row or the column through (x, y): the
// box is the only bright part.
std::pair<int, int> brightSpan(const QImage &image, int x, int y, bool alongX)
{
    std::pair<int, int> span{-1, -1};
    for (int i = 0; i < (alongX ? image.width() : image.height()); ++i) {
        if (qGreen(alongX ? image.pixel(i, y) : image.pixel(x, i)) > 128)
            span = {span.first < 0 ? i : span.first, i};
    }
    return span;
}

enum class Check { Colour, FrameNumber, Square, Straight };

TEST(PicturePathTest, ClipsShowTheirColoursNumbersAndShapes)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    const struct {
        const char *clip;
        Check check;
        PictureColour colour;   // as the engine must tag the pictures
    } rows[] = {
        {"colour_bt601_576.mkv", Check::Colour, {ColourMatrix::Bt601, false}},
        {"colour_bt709_720.mkv", Check::Colour, {ColourMatrix::Bt709, false}},
        {"colour_full_480.mkv", Check::Colour, {ColourMatrix::Bt601, true}},
        {"bands_422.mkv", Check::FrameNumber, {ColourMatrix::Bt601, false}},
        {"bands_444.mkv", Check::FrameNumber, {ColourMatrix::Bt601, false}},
        {"bands_10bit.mkv", Check::FrameNumber, {ColourMatrix::Bt601, false}},
        {"odd_321x241.mkv", Check::FrameNumber, {ColourMatrix::Bt601, false}},
        {"square_64x45.mkv", Check::Square, {ColourMatrix::Bt601, false}},
        {"redblue_321x241.mkv", Check::Straight, {ColourMatrix::Bt601, false}},
    };
    constexpr int W = 640, H = 480;
    for (const auto path : {PicturePathChoice::Path::Shader, PicturePathChoice::Path::Cpu}) {
    const bool cpu = path == PicturePathChoice::Path::Cpu;
    SCOPED_TRACE(cpu ? "cpu path" : "shader path");
    qputenv("SEEKMARK_PICTURE_PATH", cpu ? "cpu" : "shader");
    RenderView view;
    view.resize(W, H);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view, 20000));
    qunsetenv("SEEKMARK_PICTURE_PATH");
    ASSERT_EQ(view.renderer.path(), path);
    EXPECT_EQ(view.grabFramebuffer().pixel(W / 2, H / 2), qRgb(0, 0, 0)) << "black before the first picture";

    for (const auto &row : rows) {
    SCOPED_TRACE(row.clip);
    const QString clip = clipPath(QString::fromLatin1(row.clip));
    // The CPU path shows each clip twice: from whole pictures, then, where the view shrinks them,
    // from pictures the decoder cut and scaled for the view (the target the renderer asks for).
    for (int pass = 0; pass < (cpu ? 2 : 1); ++pass) {
        const PictureTarget target = pass == 0 ? PictureTarget() : view.renderer.pictureTarget();
        if (pass == 1 && target == PictureTarget())
            break;
        SCOPED_TRACE(pass == 0 ? "whole pictures" : "cut by the decoder");
        DecoderAgent decoder(nullptr, fastFramewise());
        ASSERT_TRUE(decoder.open(clip));
        decoder.setPictureTarget(target);
        ASSERT_TRUE(decoder.start());
        // The sixth picture: frame number 5 sets two bands, a number a broken path rarely fakes.
        const int wanted = row.check == Check::FrameNumber ? 5 : 0;
        ASSERT_TRUE(waitFor([&] { return decoder.videoAgent()->pictures().count() > wanted; }, 20000));
        PixelPacket *picture = nullptr;
        for (int i = 0; i <= wanted; ++i)
            picture = decoder.nextPicture();
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(picture->m_Colour, row.colour);
        EXPECT_EQ(QSize(picture->m_Width, picture->m_Height), pass == 0 ? picture->sourceSize() : target.size);
        const QSize size = picture->sourceSize();

        view.makeCurrent();
        ASSERT_TRUE(view.renderer.upload(*picture));
        view.doneCurrent();
        const QImage image = view.grabFramebuffer();
        const QRectF shown = fittedRect(size, image.size());

        switch (row.check) {
        case Check::Colour: {
            const QRgb want = ffmpegPixel(clip, size, size.width() / 2, size.height() / 2);
            const QRgb got = image.pixel(W / 2, H / 2);
            EXPECT_LE(std::max({std::abs(qRed(got) - qRed(want)), std::abs(qGreen(got) - qGreen(want)),
                                std::abs(qBlue(got) - qBlue(want))}), 3) << std::hex << got << " want " << want;
            break;
        }
        case Check::FrameNumber:
            EXPECT_EQ(frameNumberOn(image, size), 5);
            break;
        case Check::Square: {
            // 16:9 in 640 x 480: 640 x 360 with bars above and below, the box square in the middle.
            EXPECT_NEAR(picture->m_Aspect, 16.0 / 9.0, 0.01);
            const auto [left, right] = brightSpan(image, W / 2, H / 2, true);
            const auto [top, bottom] = brightSpan(image, W / 2, H / 2, false);
            const int across = right - left + 1, down = bottom - top + 1;
            EXPECT_NEAR(double(across) / down, 1.0, 0.02) << across << " x " << down;
            EXPECT_NEAR((left + right) / 2.0, W / 2.0, 1.5) << "off centre";
            // The 576 stored rows fill W / (16/9) = 360 rows on screen, less the paint's margin: 4
            // view pixels' worth of the 1024-row texture cut off at the top and at the bottom. The
            // 200 stored rows of the box are that much taller.
            const double screenRows = W * 9.0 / 16.0, shownRows = size.height() - 2 * 4.0 * 1024 / H;
            EXPECT_NEAR(down, 200.0 * screenRows / shownRows, 2) << "not fitted to the width";
            break;
        }
        case Check::Straight: {
            // Red in the top-left quarter (160 of 321 columns, 120 of 241 rows), blue elsewhere:
            // its edges at the same place on every row and column, and the right way up.
            const QPointF corner(shown.left() + shown.width() * 160 / 321, shown.top() + shown.height() * 120 / 241);
            auto edge = [&](QPoint from, QPoint step) {
                while (image.rect().contains(from) && qBlue(image.pixel(from)) <= 128)
                    from += step;
                return from;
            };
            for (int y : {int(shown.top()) + 5, int(corner.y()) - 5})
                EXPECT_NEAR(edge(QPoint(int(shown.left()) + 5, y), QPoint(1, 0)).x(), corner.x(), 2) << "row " << y;
            for (int x : {int(shown.left()) + 5, int(corner.x()) - 5})
                EXPECT_NEAR(edge(QPoint(x, int(shown.top()) + 5), QPoint(0, 1)).y(), corner.y(), 2) << "column " << x;
            EXPECT_EQ(image.pixel(int(shown.left()) + 20, int(shown.top()) + 20) & 0xc0c0c0, 0xc00000u) << "red top left";
            EXPECT_EQ(image.pixel(int(shown.right()) - 20, int(shown.bottom()) - 20) & 0xc0c0c0, 0x0000c0u) << "blue";
            break;
        }
        }
    }
    }
    }
}

TEST(PictureColourTest, MatrixAndRangeFollowTheTagsOrThePictureHeight)
{
    const struct {
        int matrixCode, rangeCode;
        bool fullRangeFormat;
        int height;
        PictureColour want;
    } rows[] = {
        {1, 1, false, 576, {ColourMatrix::Bt709, false}},    // tagged BT.709 wins over the height
        {5, 0, false, 1080, {ColourMatrix::Bt601, false}},   // PAL's BT.601 in HD
        {9, 1, false, 2160, {ColourMatrix::Bt2020, false}},
        {2, 0, false, 719, {ColourMatrix::Bt601, false}},    // untagged: by height
        {2, 0, false, 720, {ColourMatrix::Bt709, false}},
        {0, 0, false, 1080, {ColourMatrix::Bt709, false}},
        {1, 2, false, 1080, {ColourMatrix::Bt709, true}},    // full range by tag
        {2, 0, true, 480, {ColourMatrix::Bt601, true}},      // full range by format
    };
    for (const auto &r : rows)
        EXPECT_EQ(PictureColour::forTags(r.matrixCode, r.rangeCode, r.fullRangeFormat, r.height), r.want)
            << r.matrixCode << " " << r.rangeCode << " " << r.fullRangeFormat << " " << r.height;
}

TEST(PicturePathChoiceTest, SoftwareGlConvertsOnTheCpuUnlessForcedOrTheViewNeedsTheShader)
{
    using P = PicturePathChoice;
    const struct {
        const char *renderer, *forced;
        P::View view;
        bool canBlit;
        P::Path want;
    } rows[] = {
        {"llvmpipe (LLVM 15.0.6, 256 bits)", "", P::View::Fitted, true, P::Path::Cpu},
        {"softpipe", "", P::View::Fitted, true, P::Path::Cpu},
        {"Software Rasterizer", "", P::View::Fitted, true, P::Path::Cpu},
        {"GDI Generic", "", P::View::Fitted, true, P::Path::Cpu},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", "", P::View::Fitted, true, P::Path::Shader},
        {"", "", P::View::Fitted, true, P::Path::Shader},
        {"llvmpipe", "", P::View::Fitted, false, P::Path::Shader},          // no framebuffer copy
        {"llvmpipe", "", P::View::ShaderOnly, true, P::Path::Shader},       // zoom, difference, split
        {"llvmpipe", "shader", P::View::Fitted, true, P::Path::Shader},
        {"llvmpipe", "fast", P::View::Fitted, true, P::Path::Cpu},          // unknown value: ignored
        {"NVIDIA GeForce RTX 3060/PCIe/SSE2", "cpu", P::View::Fitted, true, P::Path::Cpu},
        {"NVIDIA GeForce RTX 3060/PCIe/SSE2", "cpu", P::View::ShaderOnly, true, P::Path::Shader},
        {"NVIDIA GeForce RTX 3060/PCIe/SSE2", "cpu", P::View::Fitted, false, P::Path::Shader},
    };
    for (const auto &r : rows)
        EXPECT_EQ(P::choose(r.renderer, r.forced, r.view, r.canBlit).path, r.want)
            << r.renderer << " forced '" << r.forced << "' view " << int(r.view) << " blit " << r.canBlit;
}

// The picture quad's arithmetic. (What the texture shows is checked on screen.)

using C = QuadGeometry;

TEST(QuadGeometryTest, TextureSizeFitAndIndicator)
{
    // The smallest power of two not below the picture; stops before int overflow, never loops.
    for (const auto &[picture, texture] : {std::pair{-5, 1}, {321, 512}, {512, 512}, {(1 << 30) + 1, 1 << 30}})
        EXPECT_EQ(QuadGeometry::textureSize(picture), texture) << "picture " << picture;
    // As a paint makes it: 720 x 576 fitted to the height, to the width, and in an odd view width,
    // whose truncated centre puts the picture half a pixel left of centre; edges in view pixels.
    for (const auto &[viewW, tx, topLeft, bottomRight] : {std::tuple<int, double, QPointF, QPointF>{800, 0.0, {25, 0}, {775, 600}},
                                                          {640, 0.0, {0, 44}, {640, 556}}, {801, 800.0 / 801.0 - 1.0, {25, 0}, {775, 600}}}) {
        SCOPED_TRACE(viewW);
        const QuadGeometry g = QuadGeometry::forView(QSize(720, 576), viewW, 600);
        EXPECT_NEAR(g.tx(), tx, 1e-5);
        EXPECT_NEAR(QLineF(g.pixelCorner(C::TopLeft), topLeft).length(), 0, 1e-3);
        EXPECT_NEAR(QLineF(g.pixelCorner(C::BottomRight), bottomRight).length(), 0, 1e-3);
        // framewise's square: a twenty-fifth of the picture each way, at its top-left corner.
        EXPECT_NEAR(QLineF(g.indicatorPixelCorner(2), topLeft + (bottomRight - topLeft) / 25).length(), 0, 1e-3);
    }
    // Equal aspects as floats though not as exact ratios: only here does the choice of branch show.
    EXPECT_EQ(QuadGeometry::fitScale(QSize(4946, 4299), 2301, 2000), 2000.0f / 4299.0f);
}

// Inputs that must not give a quad, nor a division by zero: no picture, no view, a zero scale.
TEST(QuadGeometryTest, EmptyInputsGiveNothingToDraw)
{
    for (const auto &[picture, w, h] : {std::tuple<QSize, int, int>{{0, 0}, 800, 600}, {{720, 0}, 800, 600}, {{720, 576}, 800, 0}}) {
        const QuadGeometry g = QuadGeometry::forView(picture, w, h);
        EXPECT_FALSE(g.isDrawable()) << picture.width() << " in " << w << "x" << h;
        EXPECT_TRUE(std::isfinite(g.translateX()) && std::isfinite(g.translateY()));
    }
    const QRect target = QuadGeometry::targetRect(QSize(720, 576), 800, 600);
    EXPECT_FALSE(QuadGeometry(target, QSize(720, 576), 800, 600, 0.0f, 0.0f, 4.0f, 0.0f).isDrawable());
}

} // namespace
