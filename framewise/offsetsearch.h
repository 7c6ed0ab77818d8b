#pragma once

#include "pairtiming.h"

#include <QtGlobal>

#include <vector>

// framewise's automatic alignment (A): the offset within ±Range pictures of the second clip
// whose pairs agree best, judged by the mean luma PSNR over a few pictures of the first clip
// from the one shown on, so that two encodes of one source, one of which dropped or added
// pictures at its start, line up.
//
// The second clip's pictures are offered one at a time, in order; as each arrives the search says
// which first-clip pictures the one before it pairs with under some candidate offset (it is their
// latest picture not after them, PairTiming's rule), and takes their luma PSNR. So only the few
// first-clip pictures and two of the second clip's need be kept. A candidate needs a score for
// every first-clip picture; among candidates with equal means the smallest shift wins (0 first,
// then the later one).
//
// A plain value object; no threads.
class OffsetSearch {
public:
    static constexpr int Range = 30;
    static constexpr int Pictures = 5;
    static constexpr double IdenticalPsnr = 100.0;

    // timing: the pairing's (each clip's start and rates; its offset is not used); firstStamps:
    // the first clip's pictures compared.
    OffsetSearch(const PairTiming &timing, const std::vector<double> &firstStamps);

    // Where the second clip's pictures are needed: from the stamp `from` (a seek target at or
    // before the first one needed) until the search is complete().
    double from() const;

    struct Pair {
        int first;    // index into the first clip's pictures
        int second;   // the second picture's number in the order offered
    };
    // The second clip's next picture, stamped `stamp`: the pairs of the picture offered before it
    // that are now known (score them with score()).
    std::vector<Pair> offer(double stamp);
    // No more pictures: the pairs of the last one offered.
    std::vector<Pair> finish();
    void score(const Pair &pair, double psnrY);
    // Every candidate's pairs are known.
    bool complete() const { return m_Open == 0; }

    struct Result {
        bool found = false;   // some candidate had all its pairs scored
        int offset = 0;
        double meanPsnrY = 0.0;
    };
    Result best() const;

private:
    struct Candidate {
        int offset;
        int first;
        qint64 limitUs;   // in the second clip's relative time
        int second = -1;  // the picture paired, once known
        double psnr = 0.0;
    };
    std::vector<Pair> settle(const double *next);

    PairTiming m_Timing;
    std::vector<Candidate> m_Candidates;
    int m_Open = 0;
    int m_Offered = -1;        // the number of the picture offered last
    double m_LastStamp = 0.0;
};
