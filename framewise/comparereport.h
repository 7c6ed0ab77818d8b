#pragma once

#include "picturemetrics.h"

#include <QList>
#include <QString>
#include <QStringList>

// One pair of the comparison: the first clip's picture and the second clip's picture that the
// time pairing puts beside it, with their scores.
struct PairRow {
    double firstS = 0.0;     // each clip's picture time, counted from its own first picture
    double secondS = 0.0;
    int firstPicture = 0;    // each clip's picture number, counted from 0
    int secondPicture = 0;
    PairScores scores;
};

// What framewise --compare writes: a CSV row per pair, a summary (mean and minimum of each
// figure, the worst pairs, the gate), the chart. The worst pairs are those of the lowest luma
// PSNR (a lower SSIM first among equal ones); the gate is a luma PSNR every pair must reach.
// Identical pairs (PSNR infinite, written "inf") are counted apart and left out of the means.
//
// Pure: text out, no files.
class CompareReport {
public:
    static constexpr int WorstListed = 10;

    static QString csvHeader();
    static QString csvLine(const PairRow &row);
    // The rows' indices, the worst pair first.
    static QList<int> worstFirst(const QList<PairRow> &rows);
    // Pairs below the gate (minPsnr in dB; NaN: no gate).
    static int belowGate(const QList<PairRow> &rows, double minPsnr);
    static QString summary(const QList<PairRow> &rows, int offset, double minPsnr);
    // The luma and overall PSNR by the first clip's time above, the luma SSIM below; the worst
    // pairs marked red. Identical pairs sit on the top edge.
    static QString chart(const QList<PairRow> &rows, const QString &title);
    // A figure as the CSV writes it: "inf" for an infinite PSNR.
    static QString decibels(double value);
};
