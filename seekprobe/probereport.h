#pragma once

#include "seekprobe/clipsummary.h"

#include <QList>
#include <QString>

class QTextStream;

// The end of every seekprobe run that covers clips, a whole run, a part of one or a merge of
// parts: the summary table on standard output, the files asked for, the gates, and the exit
// status the run ends with. When several statuses apply, a bad command line wins over a clip that
// could not be probed (3), that over a crossed gate (4), that over a seek without a picture (1).
//
// Pure functions of the results and the files they write; no threads.
class ProbeReport {
public:
    struct Files {
        QString summary;   // --summary: the table as CSV
        QString plot;      // --plot: the chart
        QString rows;      // merge --csv: the rows of every clip, its path first
    };

    // Of two exit statuses, the one that wins.
    static int worse(int a, int b);
    // What the results say alone: 3 when a clip was not probed, 1 when a seek gave no picture.
    static int statusOf(const QList<ClipResult> &results);
    // The rows of all the clips as one CSV: "clip," and the seek table's columns.
    static QString rowsCsv(const QList<ClipResult> &results);

    // Prints the table, writes the files and applies the gates; code is the status the clips
    // ended with. Returns the run's exit status.
    static int finish(const QList<ClipResult> &results, const ClipSummary::Gates &gates, int code, const Files &files,
                      QTextStream &out, QTextStream &err);
};
