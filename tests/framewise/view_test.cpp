// framewise's look closer and its readouts without a window: where the zoomed picture lies and
// which picture pixel is under the cursor (ZoomGeometry), and what the title says (PairingReadout).
#include "framewise/pairingreadout.h"
#include "framewise/zoomgeometry.h"

#include "engine/pixelpacket.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

// A 1920 x 1080 picture fitted into a 640 x 480 view: 640 x 360 from y 60, bars above and below.
TEST(ZoomGeometry, ZoomsAroundTheCursorAndKeepsThePictureOnScreen)
{
    struct Row {
        const char *name;
        std::function<void(ZoomGeometry &)> act;
        QPointF at;
        std::optional<QPoint> pixel;   // under `at` afterwards
        double zoom;
    };
    const Row rows[] = {
        {"unzoomed: the fitted picture", [](ZoomGeometry &) {}, {320, 240}, QPoint(960, 540), 1},
        {"unzoomed: a bar is no picture", [](ZoomGeometry &) {}, {320, 59}, std::nullopt, 1},
        {"two notches at the centre", [](ZoomGeometry &z) { z.zoomAt({320, 240}, 2); }, {0, 60}, QPoint(480, 270), 2},
        {"the point under the cursor stays", [](ZoomGeometry &z) { z.zoomAt({10.5, 70.5}, 4); }, {10.5, 70.5}, QPoint(31, 31), 4},
        {"a pan stops at the picture's edge", [](ZoomGeometry &z) { z.zoomAt({320, 240}, 2), z.pan({1000, 0}); }, {0, 240}, QPoint(0, 540), 2},
        {"32x at most, one notch back", [](ZoomGeometry &z) { z.zoomAt({320, 240}, 40), z.zoomAt({320, 240}, -1); }, {320, 240}, QPoint(960, 540), 32 / std::sqrt(2.0)},
        {"never below 1x", [](ZoomGeometry &z) { z.zoomAt({100, 100}, 3), z.zoomAt({100, 100}, -10); }, {320, 240}, QPoint(960, 540), 1},
        {"0 resets", [](ZoomGeometry &z) { z.zoomAt({10, 70}, 6), z.reset(); }, {320, 240}, QPoint(960, 540), 1},
        {"a resized window shows the same part", [](ZoomGeometry &z) { z.zoomAt({100, 100}, 4), z.setBase({0, 0, 1280, 720}, {0, 0, 1920, 1080}); },
         {640.5, 360.5}, QPoint(465, 225), 4},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ZoomGeometry zoom;
        zoom.setBase({0, 60, 640, 360}, {0, 0, 1920, 1080});
        row.act(zoom);
        EXPECT_EQ(zoom.pictureAt(row.at), row.pixel);
        EXPECT_NEAR(zoom.zoom(), row.zoom, 1e-9);
        EXPECT_EQ(zoom.squares(), row.zoom >= 4);
        // The zoomed picture covers where the plain one was.
        EXPECT_TRUE(zoom.shown().contains(QRectF(0, 60, 640, 360)) || zoom.shown().contains(QRectF(0, 0, 1280, 720)));
    }
}

// The title's parts beyond the pairing, after a paused pair was shown.
TEST(PairingReadout, SaysOffsetFiguresPixelsViewAndPass)
{
    // A 4 x 2 picture: luma 10..17, Cb 100/101, Cr 200/201.
    PixelPacket picture(nullptr, nullptr, 0, 0.0);
    uint8_t planes[] = {10, 11, 12, 13, 14, 15, 16, 17, 100, 101, 200, 201};
    picture.m_Buffer = planes;
    picture.m_Size = sizeof planes;
    picture.m_Width = 4;
    picture.m_Height = 2;
    struct Row {
        const char *name;
        std::function<void(PairingReadout &)> act;
        const char *ends;
    };
    const Row rows[] = {
        {"measuring", [](PairingReadout &) {}, "| paused | measuring"},
        {"the offset and the figures",
         [](PairingReadout &r) { r.setOffset(-2), r.setScores(PairScores{38.214, 40.0, 0.98126}); },
         "| paused | offset -2 | PSNR Y 38.21 dB, all 40.00 dB, SSIM Y 0.9813"},
        {"identical pictures", [](PairingReadout &r) { r.setScores(PairScores{INFINITY, INFINITY, 1.0}); }, "| PSNR Y inf dB, all inf dB, SSIM Y 1.0000"},
        {"a pixel of both clips, the second without a picture there",
         [&picture](PairingReadout &r) { r.setSample(PairingReadout::Sample{{3, 1}, {PairingReadout::sampleAt(picture, {3, 1}), PairingReadout::sampleAt(picture, {4, 1})}}); },
         "| measuring | x 3 y 1 Y'CbCr 1: 17 101 201, 2: -"},
        {"difference zoomed", [](PairingReadout &r) { r.setView(PairingReadout::View::Difference, 5.657); }, "| measuring | difference 5.7x"},
        {"split at 1x", [](PairingReadout &r) { r.setView(PairingReadout::View::Split, 1.0); }, "| measuring | split 1.0x"},
        {"the pass for the worst pairs", [](PairingReadout &r) { r.setPassProgress(0.456); }, "| measuring | worst pairs 45 %"},
        {"the second worst pair", [](PairingReadout &r) { r.setPassProgress(1.0), r.setWorstShown(2, 10); }, "| measuring | worst pair 2 of 10"},
        {"playing again: no figures", [](PairingReadout &r) { r.setScores(PairScores{30, 31, 0.9}), r.setPaused(false); }, "| showing 1"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        PairingReadout readout;
        readout.picture(PairingReadout::First, 1.0);
        readout.shown(PairingReadout::First);
        readout.setPaused(true);
        row.act(readout);
        EXPECT_TRUE(readout.title().endsWith(QLatin1String(row.ends))) << readout.title().toStdString();
    }
    picture.m_Buffer = nullptr;   // not the packet's to free
}

} // namespace
