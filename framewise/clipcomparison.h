#pragma once

#include "comparereport.h"
#include "offsetsearch.h"
#include "picturemetrics.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class DecoderAgent;
struct EngineOptions;

// Compares two clips pair by pair without a window (or finds the offset that pairs them best): decodes both at machine speed with a
// decoder each (the engine's framewise form with its sleeps taken out, stopping at the end of
// its input), pairs every picture of the first clip with the second clip's picture that the
// window would show beside it (PairTiming, with the offset) and measures each pair
// (PictureMetrics). A first-clip picture with no partner (before the second clip starts, with
// the offset, or after it has ended) makes no row.
//
// The decoders read on their own threads while this thread measures, so the comparison costs
// little more than the slower of decoding and measuring. run() may be stopped from another
// thread through the cancel flag (framewise's background pass for the worst pairs).
//
// Threads: construction, open(), run() and searchOffset() on one thread (the calling one), which controls the
// decoders and owns the pictures it takes; they go before the decoders.
class ClipComparison {
public:
    // No picture from a decoder for this long: the comparison stalled.
    static constexpr int StallMs = 10000;

    enum class Outcome { Done, Stalled, MetricFailed, Cancelled };

    struct Options {
        int offset = 0;   // the second clip moved by pictures (see PairTiming)
        std::function<void(const PairRow &)> row;
        // The share of the first clip passed, from 0 to 1, at most every progressEveryMs.
        std::function<void(double)> progress;
        int progressEveryMs = 2000;
        const std::atomic<bool> *cancel = nullptr;
    };

    // The decoders' options: framewise's form at machine speed, stopping at the end of input.
    static EngineOptions decoderOptions();

    ClipComparison(const QString &first, const QString &second);
    ~ClipComparison();
    ClipComparison(const ClipComparison &) = delete;
    ClipComparison &operator=(const ClipComparison &) = delete;

    // Opens both clips; false with the clip that failed and why in error().
    bool open();
    QString error() const { return m_Error; }
    // The metric filters' complaint after MetricFailed.
    QString metricError() const { return m_Metrics.error(); }
    Outcome run(const Options &options);
    // The offset search (OffsetSearch) from the first clip's picture stamped firstStamp, with the
    // window's timing (each clip's start); none when it could not be made (a clip stalled, the
    // filters failed, cancelled).
    std::optional<OffsetSearch::Result> searchOffset(const PairTiming &timing, double firstStamp,
                                                     const std::atomic<bool> *cancel);

private:
    const QString m_First;
    const QString m_Second;
    std::unique_ptr<DecoderAgent> m_Decoder1;
    std::unique_ptr<DecoderAgent> m_Decoder2;
    // After the decoders: it goes first, and with it the pictures its filters still hold, which
    // belong to the decoders' pools.
    PictureMetrics m_Metrics;
    QString m_Error;
};
