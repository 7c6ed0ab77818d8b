#pragma once

#include "seekprobe/clipsummary.h"
#include "seekprobe/seekprobe.h"

#include <QList>
#include <QStringList>

class QTextStream;

// Probes many clips, several at once, each in a child seekprobe of its own: a clip that hangs or
// crashes the decoder costs its own line of the summary and nothing else, and the sound device and
// the libraries' global state are never shared between clips. The children's output is read back
// into ClipResults; progress (clips done, seeks done) goes to err at most every two seconds.
//
// Runs on the calling thread, which drives the children's event loop; no locking.
class ProbeBatch {
public:
    // The results in the order of clips, and the worst exit code of the children in code.
    static QList<ClipResult> run(const QStringList &clips, const SeekProbe::Options &options, QTextStream &err,
                                 int &code);
};
