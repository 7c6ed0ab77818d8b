// framewise's render tick over clips made of picture times, on a fake 4 ms timer: the first clip
// at its own rate, the second paired by time, and the title's readout of it; the steps while
// paused and the automatic alignment over the same kind of clips.
#include "framewise/clippairing.h"
#include "framewise/offsetsearch.h"
#include "framewise/stepplanner.h"

#include "engine/pixelpacket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
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

// --- Steps while paused ---

// A decoder's picture queue over a clip of picture times: pictures come in order from where the
// last seek landed (the keyframe at or before the stamp asked for); every picture taken counts as
// decoded.
class Feed : public PictureFeed {
public:
    Feed(const Clip &clip, int gop) : m_Gop(gop)
    {
        for (int k = 0; k < 10 * clip.rate; ++k)
            m_Times.push_back(clip.start + k / clip.rate);
    }
    std::optional<double> headTime() override { return m_Next < m_Times.size() ? std::optional(m_Times[m_Next]) : std::nullopt; }
    std::unique_ptr<PixelPacket> take() override
    {
        if (m_Next >= m_Times.size())
            return nullptr;
        auto picture = std::make_unique<PixelPacket>(nullptr, nullptr, 0, m_Times[m_Next++]);
        picture->m_Width = picture->m_Height = 100;   // 15000 bytes
        ++decoded;
        return picture;
    }
    void seek(double stamp) override
    {
        for (m_Next = 0; m_Next + m_Gop < m_Times.size() && m_Times[m_Next + m_Gop] <= stamp + 1e-9;)
            m_Next += m_Gop;
        ++seeks;
    }
    bool ended() override { return m_Next >= m_Times.size(); }
    int index(const PixelPacket *p) const { return p ? int(std::find(m_Times.begin(), m_Times.end(), p->m_Time) - m_Times.begin()) : -1; }
    double at(int index) const { return m_Times[size_t(index)]; }
    int decoded = 0, seeks = 0;

private:
    std::vector<double> m_Times;
    size_t m_Next = 0;
    int m_Gop;
};

// Scripts of steps (f forward, b back, each with a count; o the offset by a number and a
// repair; j a jump to a second) from the pair at 5 s, checked against the pair the pairing rule
// gives, with the decoding each costs; the budget is in pictures of both clips together.
TEST(StepPlanner, StepsLandOnThePairedPicturesAndNeverDrift)
{
    struct Row {
        const char *name;
        Clip first, second;
        int gop1, gop2, budget;
        const char *script;
        int pair1, pair2;      // the pair at the end
        int maxSeeks;          // of both clips, over the whole script (none forward: the run goes on into the feed)
        bool roundTrip = false;   // the script's steps retraced: the same pairs both ways
    };
    const Row rows[] = {
        {"back within the kept pictures, then those before them read ahead", {25}, {25}, 50, 50, 60, "f5 b5", 125, 125, 2},
        {"back past them decodes from the keyframe before", {25}, {25}, 50, 50, 60, "b1", 124, 124, 2},
        {"a hundred back and forth, a small budget", {25}, {25, 0.021}, 25, 50, 8, "b100 f100", 125, 125, 70, true},
        {"a hundred back and forth beside 60 fps", {25}, {60}, 50, 120, 40, "b100 f100", 125, 300, 22, true},
        {"60 fps beside 25", {60}, {25}, 60, 25, 40, "b7", 293, 122, 4},
        {"the second clip a picture later, then back", {25}, {25}, 50, 50, 60, "o1 b1 o-1", 124, 124, 2},
        {"a jump ahead seeks instead of decoding through", {25}, {25}, 50, 50, 60, "j8", 200, 200, 2},
        {"a jump back, then the first picture has none before it", {25}, {25}, 50, 50, 60, "j0 b2", 0, 0, 2},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        Feed feed1(row.first, row.gop1), feed2(row.second, row.gop2);
        PairTiming timing;
        timing.setRates(row.first.rate, row.second.rate);
        timing.picture(StartAlignment::First, feed1.at(0));
        timing.picture(StartAlignment::Second, feed2.at(0));
        // Paused at 5 s: both feeds continue after the pair shown.
        const int start1 = int(5 * row.first.rate), start2 = int(5 * row.second.rate);
        feed1.seek(feed1.at(start1));
        feed2.seek(feed2.at(start2));
        while (feed1.index(feed1.take().get()) < start1) {}
        while (feed2.index(feed2.take().get()) < start2) {}
        feed1.seeks = feed2.seeks = 0;
        StepPlanner planner(&feed1, &feed2, &timing);
        auto copy = [](Feed &f, int i) { auto p = std::make_unique<PixelPacket>(nullptr, nullptr, 0, f.at(i)); p->m_Width = p->m_Height = 100; return p; };
        planner.start(copy(feed1, start1), copy(feed2, start2), qint64(row.budget) * 15000);

        std::vector<std::pair<int, int>> pairs{{start1, start2}};
        std::istringstream script(row.script);
        for (std::string token; script >> token;) {
            const int n = std::stoi(token.substr(1));
            for (int i = 0; i < (token[0] == 'f' || token[0] == 'b' ? n : 1); ++i) {
                if (token[0] == 'f')
                    planner.forward();
                else if (token[0] == 'b')
                    planner.back();
                else if (token[0] == 'j')
                    planner.jumpTo(feed1.at(int(n * row.first.rate)));
                else
                    timing.setOffset(timing.offset() + n), planner.repair();
                ASSERT_TRUE(planner.poll()) << token;   // the fake feeds never make it wait
                EXPECT_LE(planner.cursor(0).bytes() + planner.cursor(1).bytes(), qint64(row.budget) * 15000);
                const int i1 = feed1.index(planner.first()), i2 = feed2.index(planner.second());
                // The second clip's picture is the latest the rule pairs with the first's.
                const qint64 limit = timing.limitUs(feed1.at(i1));
                EXPECT_TRUE(i2 == 0 || timing.before(feed2.at(i2), limit)) << token << " " << i1 << "/" << i2;
                EXPECT_FALSE(timing.before(feed2.at(i2 + 1), limit)) << token << " " << i1 << "/" << i2;
                pairs.push_back({i1, i2});
            }
        }
        EXPECT_EQ(pairs.back(), std::make_pair(row.pair1, row.pair2));
        EXPECT_LE(feed1.seeks + feed2.seeks, row.maxSeeks);
        for (size_t i = 0; row.roundTrip && i < pairs.size() / 2; ++i)
            EXPECT_EQ(pairs[i], pairs[pairs.size() - 1 - i]) << "step " << i;
    }
}

// The automatic alignment over clips whose pictures show a source's pictures: luma PSNR 50 dB
// where a pair shows the same source picture (infinite for identical encodes), 20 dB otherwise.
// The second clip starts `late` source pictures late (negative: it dropped pictures).
TEST(OffsetSearch, FindsTheOffsetWhosePairsShowTheSameSourcePictures)
{
    struct Row {
        const char *name;
        double rate1, rate2;
        int late;         // in the second clip's pictures
        int from;         // the first clip's picture shown when A is pressed
        double same;      // the PSNR of a pair showing one source picture
        int offset;       // found
    };
    const Row rows[] = {
        {"three pictures added at the start", 25, 25, 3, 100, 50, -3},
        {"two pictures dropped at the start", 25, 25, -2, 100, 50, 2},
        {"identical encodes", 25, 25, 0, 100, INFINITY, 0},
        {"nothing agrees better than in step", 25, 25, 0, 100, 20, 0},
        {"four pictures added beside a clip of half the rate", 25, 50, 4, 100, 50, -4},
        {"at the start, where later offsets have no pictures", 25, 25, 1, 2, 50, -1},
        {"beyond the range the search looks at", 25, 25, 40, 100, 50, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        PairTiming timing;
        timing.setRates(row.rate1, row.rate2);
        std::vector<double> first;
        for (int i = 0; i < OffsetSearch::Pictures; ++i)
            first.push_back((row.from + i) / row.rate1);
        OffsetSearch search(timing, first);
        auto sourceOf = [&](int j) { return (j - row.late) / row.rate2; };   // the second picture's source time
        int j = std::max(0, int(std::floor(search.from() * row.rate2)));
        auto scoreAll = [&](const std::vector<OffsetSearch::Pair> &pairs, int firstOffered) {
            for (const OffsetSearch::Pair &p : pairs) {
                const bool same = std::abs(sourceOf(firstOffered + p.second) - first[size_t(p.first)]) < 1e-9;
                search.score(p, same ? row.same : 20.0);
            }
        };
        const int firstOffered = j;
        for (; !search.complete() && j < 10 * row.rate2; ++j)
            scoreAll(search.offer(j / row.rate2), firstOffered);
        scoreAll(search.finish(), firstOffered);
        const OffsetSearch::Result result = search.best();
        EXPECT_TRUE(result.found);
        EXPECT_EQ(result.offset, row.offset);
        EXPECT_LT(j - firstOffered, 2 * OffsetSearch::Range + 10 * row.rate2 / row.rate1) << "pictures read";
    }
}
