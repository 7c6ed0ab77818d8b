// The metric filters' own cost, without decoding beside them: decodes the first pictures of two
// clips into memory once, then measures pairs of them (PSNR of the luma and of all planes, SSIM of
// the luma, as framewise --compare does) for as many pairs as asked, and prints the time.
//
//   metricsbench CLIP1 CLIP2 PAIRS     -> "metrics alone: S s for PAIRS pairs (M ms a pair)"
#include "framewise/clipcomparison.h"
#include "framewise/decoderfeed.h"
#include "framewise/picturemetrics.h"

#include "engine/decoderagent.h"
#include "engine/pixelpacket.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr int kPicturesKept = 30;

// The first pictures of a clip as frames.
std::vector<FramePtr> firstPictures(const char *path)
{
    std::vector<FramePtr> frames;
    DecoderAgent decoder(nullptr, ClipComparison::decoderOptions());
    if (!decoder.open(QString::fromLocal8Bit(path)))
        return frames;
    DecoderFeed feed(&decoder);
    decoder.start();
    QElapsedTimer idle;
    idle.start();
    while (frames.size() < size_t(kPicturesKept) && idle.elapsed() < 10000) {
        if (std::unique_ptr<PixelPacket> picture = feed.headTime() ? feed.take() : nullptr) {
            frames.push_back(PictureMetrics::frame(*picture));
            idle.restart();
        } else {
            QThread::usleep(500);
        }
    }
    decoder.stop();
    return frames;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("SDL_AUDIODRIVER", "dummy");
    av_log_set_level(AV_LOG_ERROR);
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: metricsbench CLIP1 CLIP2 PAIRS\n");
        return 2;
    }
    const std::vector<FramePtr> first = firstPictures(argv[1]), second = firstPictures(argv[2]);
    const int pairs = std::atoi(argv[3]);
    if (first.empty() || second.empty() || pairs <= 0) {
        std::fprintf(stderr, "metricsbench: no pictures\n");
        return 1;
    }
    PictureMetrics metrics;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < pairs; ++i) {
        // New references to the same planes: the filters take frames, not copies.
        const size_t k = size_t(i) % std::min(first.size(), second.size());
        if (!metrics.measure(FramePtr(av_frame_clone(first[k].get())), FramePtr(av_frame_clone(second[k].get())))) {
            std::fprintf(stderr, "metricsbench: %s\n", qPrintable(metrics.error()));
            return 1;
        }
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("metrics alone: %.2f s for %d pairs (%.2f ms a pair)\n", seconds, pairs, seconds * 1000 / pairs);
    return 0;
}
