// framewise's render tick over clips made of picture times, on a fake 4 ms timer: the first clip
// at its own rate, the second paired by time, and the title's readout of it.
#include "framewise/clippairing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

struct Clip {
    double rate;
    double start = 0.0;   // the first picture's stamp
    double unit = 0.0;    // stamps rounded to this (Matroska: milliseconds)
};

// A decoder's pictures, all queued at once; with queued off none is (a decoder that lags).
class Times : public PictureSource {
public:
    explicit Times(const Clip &clip)
    {
        for (int k = 0; k < 10 * clip.rate; ++k) {
            const double t = clip.start + k / clip.rate;
            m_Times.push_back(clip.unit > 0 ? std::round(t / clip.unit) * clip.unit : t);
        }
    }
    std::optional<double> nextTime() override { return queued && m_Next < m_Times.size() ? std::optional(m_Times[m_Next]) : std::nullopt; }
    std::optional<double> take() override { return m_Current = m_Next < m_Times.size() ? m_Times[m_Next++] : m_Current; }
    // Lands on the first picture at or after second (counted from the clip's start).
    void seek(double second)
    {
        for (m_Next = 0; m_Next < m_Times.size() && m_Times[m_Next] - m_Times[0] < second - 1e-9;)
            ++m_Next;
    }
    double current() const { return m_Current.value_or(-1.0); }
    bool queued = true;

private:
    std::vector<double> m_Times;
    size_t m_Next = 0;
    std::optional<double> m_Current;
};

TEST(ClipPairing, PairsByTimeAtEachClipsOwnRate)
{
    struct Row {
        const char *name;
        Clip first, second;
        int runMs;
        const char *title;   // at the end of the run
        int diversi = 0;     // ticks that skipped ("DIVERSI")
        int secondLateMs = 0;   // the second clip has nothing queued before
        int seekAtMs = -1;      // both clips sought to second 5: the first lands at land1
        double land1 = 5.0, land2 = 5.0;
    };
    const Row rows[] = {
        // Paired by the old rule (one skip a tick, the first clip advanced while the second was
        // ahead) a 25 fps clip beside a 60 fps one fell 0.4 s behind in 3 s, and the other way
        // round the first clip ran ahead of its own rate.
        {"25 beside 60", {25}, {60}, 2000, "1: 2.000 s #50 | 2: 2.000 s #120 | second skipped | skips 70, holds 0", 50},
        {"30 beside 60", {30}, {60}, 2000, "1: 2.000 s #60 | 2: 2.000 s #120 | second skipped | skips 60, holds 0", 60},
        {"equal rates stay in step", {25}, {25}, 1000, "1: 1.000 s #25 | 2: 1.000 s #25 | in step | skips 0, holds 0"},
        {"60 beside 25", {60}, {25}, 2000, "1: 1.983 s #119 | 2: 1.960 s #49 | second held | skips 0, holds 70"},
        {"24 beside 25", {24}, {25}, 3000, "1: 2.958 s #71 | 2: 2.960 s #74 | in step | skips 3, holds 0", 3},
        // The same pictures stamped in other units must neither skip nor hold.
        {"29.97 stamped in milliseconds", {30000 / 1001.0}, {30000 / 1001.0, 0, 0.001}, 1000, "1: 0.968 s #29 | 2: 0.968 s #29 | in step | skips 0, holds 0"},
        // AAC priming pushes one encode's video 21 ms later: each clip counts from its first
        // picture (compared as stamped, the second clip would show one picture behind).
        {"a second clip that starts 21 ms late", {25}, {25, 0.021}, 1000, "1: 1.000 s #25 | 2: 1.000 s #25 | in step | skips 0, holds 0"},
        {"the second decoder lags at first: no pair, then it catches up at once", {25}, {25}, 1000, "1: 1.000 s #25 | 2: 1.000 s #25 | in step | skips 5, holds 0", 1, 200},
        {"no picture of the second clip yet", {25}, {25}, 200, "1: 0.200 s #5 | 2: - | no second picture | skips 0, holds 0", 0, 1000},
        // Landed a keyframe apart: the second clip shows where it landed and waits, the first
        // keeps its pace; the start offset still counts after the seek.
        {"after a seek the second clip waits for the first", {25}, {25, 0.021}, 2500, "1: 5.480 s #37 | 2: 5.480 s #12 | in step | skips 0, holds 26", 0, 0, 1000, 4.0, 5.0},
        {"after a seek the second clip catches up with the first", {25}, {25}, 2500, "1: 5.480 s #37 | 2: 5.480 s #62 | in step | skips 25, holds 0", 1, 0, 1000, 4.0, 3.0},
        // A seek before the second clip's first picture leaves no start to count from: compared
        // as stamped, the late start puts the second clip one picture behind.
        {"a seek before both clips were seen compares them as stamped", {25}, {25, 0.021}, 1500, "1: 5.480 s #12 | 2: 5.461 s #11 | in step | skips 2, holds 0", 1, 1100, 1000, 5.0, 5.0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ClipPairing pairing;
        pairing.setFrameRate(row.first.rate);
        Times first(row.first), second(row.second);
        const double quarter = 0.25 / row.first.rate;
        int diversi = 0;
        for (qint64 now = 0; now <= row.runMs; now += 4) {
            second.queued = now >= row.secondLateMs;
            if (now == row.seekAtMs) {
                first.seek(row.land1);
                second.seek(row.land2);
                pairing.seeked(5);
            }
            const ClipPairing::Tick tick = pairing.tick(now, first, second);
            if (!tick.request || tick.outcome != FramePacer::Outcome::Show)
                continue;
            EXPECT_EQ(tick.time1, first.current());
            diversi += tick.skipped;
            EXPECT_EQ(tick.paired, second.current() >= 0);
            EXPECT_TRUE(!tick.paired || tick.time2 == second.current());
            // The second clip's picture is never after the first's, nor a whole picture behind.
            const double behind = tick.time1 - row.first.start - (tick.time2 - row.second.start);
            EXPECT_TRUE(!tick.paired || row.seekAtMs >= 0 || !second.queued || (behind > -quarter && behind < 1 / row.second.rate + quarter))
                << "at " << now;
        }
        EXPECT_EQ(pairing.readout().title().toStdString(), std::string("framewise - ") + row.title + " | showing 1");
        EXPECT_EQ(diversi, row.diversi);
    }
}

} // namespace
