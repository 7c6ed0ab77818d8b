#pragma once

#include <QString>

#include <cmath>

class QTextStream;

// framewise --compare: the comparison of two clips without a window or sound device, for
// scripts and CI, in seekprobe's manner: a CSV row per pair on standard output (and in --csv's
// file), then the summary; --plot writes the chart; the exit status tells what happened.
// Progress goes to standard error every two seconds.
//
// Runs on the calling (main) thread.
class CompareRun {
public:
    enum ExitCode {
        Success = 0,
        NoPairs = 1,       // decoding stalled, or no picture of the first clip had a partner
        BadArguments = 2,
        CannotRun = 3,     // a clip cannot be opened, a file cannot be written, the filters failed
        GateCrossed = 4,   // a pair's luma PSNR below --min-psnr
    };

    struct Settings {
        QString first;
        QString second;
        int offset = 0;
        QString csvFile;    // empty: the rows only on standard output
        QString plotFile;   // empty: no chart
        double minPsnr = NAN;   // NaN: no gate
    };

    static int run(const Settings &settings, QTextStream &out, QTextStream &err);
};
