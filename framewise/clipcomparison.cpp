#include "clipcomparison.h"

#include "decoderfeed.h"
#include "pairtiming.h"

#include "engine/decoderagent.h"
#include "engine/engineoptions.h"
#include "engine/pixelpacket.h"

#include <QElapsedTimer>
#include <QThread>

namespace {

// Waits for the feed's next picture; none at its end, when stopped or after StallMs without one.
std::optional<double> nextTime(PictureFeed &feed, const std::atomic<bool> *cancel, bool &stalled)
{
    QElapsedTimer idle;
    idle.start();
    for (;;) {
        if (const std::optional<double> time = feed.headTime())
            return time;
        if (feed.ended()) {
            // A picture queued just before the worker stopped is still to be taken.
            return feed.headTime();
        }
        if ((cancel && cancel->load()) || (stalled = idle.elapsed() > ClipComparison::StallMs))
            return std::nullopt;
        QThread::usleep(200);
    }
}

} // namespace

EngineOptions ClipComparison::decoderOptions()
{
    EngineOptions o = EngineOptions::framewise();
    o.afterWorkMs = o.idleWaitMs = 0;
    o.afterIdleMs = 1;
    o.pausedMs = 5;
    o.stopAtEnd = true;
    o.pictureDebugLines = false;
    return o;
}

ClipComparison::ClipComparison(const QString &first, const QString &second)
    : m_First(first)
    , m_Second(second)
{
}

ClipComparison::~ClipComparison()
{
    // The workers go first, then the decoders (the pictures taken are gone by now).
    for (auto *decoder : {m_Decoder1.get(), m_Decoder2.get()})
        if (decoder)
            decoder->stop();
}

bool ClipComparison::open()
{
    for (auto [decoder, path] : {std::pair{&m_Decoder1, m_First}, {&m_Decoder2, m_Second}}) {
        *decoder = std::make_unique<DecoderAgent>(nullptr, decoderOptions());
        if (!(*decoder)->open(path)) {
            m_Error = QStringLiteral("cannot open %1: %2").arg(path, (*decoder)->openError());
            return false;
        }
    }
    return true;
}

ClipComparison::Outcome ClipComparison::run(const Options &options)
{
    PairTiming timing;
    timing.setRates(m_Decoder1->frameRate(), m_Decoder2->frameRate());
    timing.setOffset(options.offset);
    DecoderFeed first(m_Decoder1.get()), second(m_Decoder2.get());
    m_Decoder1->start();
    m_Decoder2->start();
    const double duration = std::max(1e-3, m_Decoder1->durationMs() / 1000.0);

    std::shared_ptr<PixelPacket> partner;   // the second clip's latest picture taken
    int firstIndex = -1, secondIndex = -1;
    bool stalled = false;
    QElapsedTimer progressClock;
    progressClock.start();
    while (const std::optional<double> time1 = nextTime(first, options.cancel, stalled)) {
        const std::shared_ptr<PixelPacket> picture = first.take();
        if (!picture)
            continue;   // a seek emptied the queue meanwhile (never here)
        ++firstIndex;
        timing.picture(StartAlignment::First, picture->m_Time);
        const qint64 limit = timing.limitUs(picture->m_Time);
        bool secondEnded = true;
        while (const std::optional<double> time2 = nextTime(second, options.cancel, stalled)) {
            timing.picture(StartAlignment::Second, *time2);
            if (!timing.before(*time2, limit)) {
                secondEnded = false;
                break;
            }
            partner = second.take();
            ++secondIndex;
        }
        if (stalled || (options.cancel && options.cancel->load()))
            break;
        // Past the second clip's last picture by more than its interval: nothing more to pair.
        if (secondEnded && partner && timing.before(partner->m_Time + timing.secondInterval(), limit))
            break;
        if (!partner)
            continue;
        // The pictures go to the filters as they are; the filters let go of them by the next pair.
        const std::optional<PairScores> scores = m_Metrics.measure(PictureMetrics::frame(picture), PictureMetrics::frame(partner));
        if (!scores)
            return Outcome::MetricFailed;
        PairRow row;
        row.firstS = timing.relative(StartAlignment::First, picture->m_Time);
        row.secondS = timing.relative(StartAlignment::Second, partner->m_Time);
        row.firstPicture = firstIndex;
        row.secondPicture = secondIndex;
        row.scores = *scores;
        if (options.row)
            options.row(row);
        if (options.progress && progressClock.elapsed() >= options.progressEveryMs) {
            progressClock.restart();
            options.progress(std::min(1.0, row.firstS / duration));
        }
    }
    if (options.cancel && options.cancel->load())
        return Outcome::Cancelled;
    return stalled ? Outcome::Stalled : Outcome::Done;
}

std::optional<OffsetSearch::Result> ClipComparison::searchOffset(const PairTiming &timing, double firstStamp,
                                                                 const std::atomic<bool> *cancel)
{
    DecoderFeed first(m_Decoder1.get()), second(m_Decoder2.get());
    bool stalled = false;
    first.seek(firstStamp);
    m_Decoder1->start();
    std::vector<std::unique_ptr<PixelPacket>> pictures;
    std::vector<double> stamps;
    const qint64 from = PairTiming::microseconds(firstStamp);
    while (pictures.size() < size_t(OffsetSearch::Pictures) && nextTime(first, cancel, stalled)) {
        std::unique_ptr<PixelPacket> picture = first.take();
        if (!picture || PairTiming::microseconds(picture->m_Time) < from)
            continue;   // decoded from the keyframe before the picture shown
        stamps.push_back(picture->m_Time);
        pictures.push_back(std::move(picture));
    }
    m_Decoder1->stop();
    if (pictures.empty())
        return std::nullopt;

    OffsetSearch search(timing, stamps);
    second.seek(search.from());
    m_Decoder2->start();
    PictureMetrics luma(PictureMetrics::Kind::LumaPsnr);
    std::unique_ptr<PixelPacket> previous;
    auto score = [&](const std::vector<OffsetSearch::Pair> &pairs) {
        for (const OffsetSearch::Pair &pair : pairs) {
            const std::optional<PairScores> scores = luma.measure(*pictures[size_t(pair.first)], *previous);
            if (!scores)
                return false;
            search.score(pair, scores->psnrY);
        }
        return true;
    };
    while (!search.complete() && nextTime(second, cancel, stalled)) {
        std::unique_ptr<PixelPacket> picture = second.take();
        if (!picture)
            continue;
        if (!score(search.offer(picture->m_Time)))
            return std::nullopt;
        previous = std::move(picture);
    }
    if (stalled || (cancel && cancel->load()) || !score(search.finish()))
        return std::nullopt;
    return search.best();
}
