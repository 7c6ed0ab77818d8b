#include "offsetsearch.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

OffsetSearch::OffsetSearch(const PairTiming &timing, const std::vector<double> &firstStamps)
    : m_Timing(timing)
{
    for (int offset = -Range; offset <= Range; ++offset) {
        m_Timing.setOffset(offset);
        for (int i = 0; i < int(firstStamps.size()); ++i)
            m_Candidates.push_back({offset, i, m_Timing.limitUs(firstStamps[size_t(i)])});
    }
    m_Open = int(m_Candidates.size());
}

double OffsetSearch::from() const
{
    qint64 lowest = 0;
    bool any = false;
    for (const Candidate &c : m_Candidates)
        if (!any || c.limitUs < lowest)
            lowest = c.limitUs, any = true;
    // A picture and a half before the earliest limit: its latest picture lies after that.
    return m_Timing.stamped(StartAlignment::Second, lowest / 1e6) - 1.5 * m_Timing.secondInterval();
}

std::vector<OffsetSearch::Pair> OffsetSearch::settle(const double *next)
{
    std::vector<Pair> pairs;
    if (m_Offered < 0)
        return pairs;
    for (Candidate &c : m_Candidates) {
        // The picture offered last is the latest before the limit once the next one is not (or
        // none comes).
        if (c.second != -1 || !m_Timing.before(m_LastStamp, c.limitUs) || (next && m_Timing.before(*next, c.limitUs)))
            continue;
        c.second = m_Offered;
        --m_Open;
        if (std::none_of(pairs.cbegin(), pairs.cend(), [&c](const Pair &p) { return p.first == c.first; }))
            pairs.push_back({c.first, m_Offered});
    }
    return pairs;
}

std::vector<OffsetSearch::Pair> OffsetSearch::offer(double stamp)
{
    std::vector<Pair> pairs = settle(&stamp);
    // A limit before the first picture offered has no picture: that candidate cannot win.
    if (m_Offered < 0)
        for (Candidate &c : m_Candidates)
            if (!m_Timing.before(stamp, c.limitUs)) {
                c.second = -2;
                --m_Open;
            }
    ++m_Offered;
    m_LastStamp = stamp;
    return pairs;
}

std::vector<OffsetSearch::Pair> OffsetSearch::finish()
{
    std::vector<Pair> pairs = settle(nullptr);
    for (Candidate &c : m_Candidates)
        if (c.second == -1) {
            c.second = -2;
            --m_Open;
        }
    return pairs;
}

void OffsetSearch::score(const Pair &pair, double psnrY)
{
    for (Candidate &c : m_Candidates)
        if (c.first == pair.first && c.second == pair.second)
            c.psnr = psnrY;
}

OffsetSearch::Result OffsetSearch::best() const
{
    std::map<int, std::pair<double, int>> sums;   // offset: sum of PSNR, pairs scored (-1: one missing)
    for (const Candidate &c : m_Candidates) {
        auto &s = sums[c.offset];
        if (c.second < 0 || s.second < 0) {
            s.second = -1;
            continue;
        }
        s.first += std::min(c.psnr, IdenticalPsnr);
        ++s.second;
    }
    Result result;
    for (const auto &[offset, s] : sums) {
        if (s.second <= 0)
            continue;
        const double mean = s.first / s.second;
        const bool better = !result.found || mean > result.meanPsnrY
            || (mean == result.meanPsnrY
                && (std::abs(offset) < std::abs(result.offset) || (std::abs(offset) == std::abs(result.offset) && offset > result.offset)));
        if (better)
            result = {true, offset, mean};
    }
    return result;
}
