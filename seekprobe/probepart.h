#pragma once

#include "seekprobe/clipsummary.h"
#include "seekprobe/shardplan.h"

#include <QList>
#include <QString>
#include <QStringList>

class QTextStream;

// One part of a seekprobe run split over a cluster, as files in a folder that the parts of one run
// may share, and the merge that puts the parts back together. A part writes three files named by
// its place (ShardPlan::name()): its rows ("part-0001-of-0004.rows.csv", the clip's path first),
// its summary lines (".summary.csv") and its facts (".facts": the run's settings, the part's exit
// status and each clip's facts). Each is written aside and renamed when complete, the facts last,
// so a part whose facts are there is complete.
//
// Pure functions of files; no threads.
class ProbePart {
public:
    // What the parts of one run share: the probe's own arguments (seeks, seed, --verify ...).
    static QString runLine(int seeks, quint32 seed, bool verify, bool exact, int seekTo);

    // Writes the part's files into folder (made when missing); false with a line on err.
    static bool write(const QString &folder, const ShardPlan &plan, const QString &runLine,
                      const ClipSummary::Gates &gates, int exitCode, const QList<ClipResult> &results, QTextStream &err);

    struct Merged {
        QList<ClipResult> results;    // of every part found, sorted by clip
        ClipSummary::Gates gates;     // the parts' own
        int code = 0;                 // 3 when a part is missing, 2 when parts of different runs meet
        int parts = 0;                // complete parts found
    };
    // The parts in these folders, each problem as a line on err.
    static Merged read(const QStringList &folders, QTextStream &err);
};
