// Entry point of seekprobe: seeks through clips with no window and no sound, prints a row per seek
// for one clip (see SeekProbe) and a summary line per clip, checks a CI's gates and draws a chart.
// The only one of the programs that reads its command line.
#include "seekprobe/clipsummary.h"
#include "seekprobe/probebatch.h"
#include "seekprobe/seekprobe.h"
#include "seekprobe/seekchart.h"

#include "platform/debugoutput.h"
#include "platform/textfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>

int main(int argc, char **argv)
{
    // The engine opens a sound device for a clip with sound even when it decodes none; the probe
    // plays nothing and must run where there is no device.
    qputenv("SDL_AUDIODRIVER", "dummy");
    // The terminal carries the rows and what went wrong; the engine's debug lines only with
    // SEEKMARK_DEBUG=1.
    routeQtDebugToDebugOutput();
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const SeekProbe::Arguments parsed = SeekProbe::parseArguments(arguments);
    const QStringList clips = parsed.ok ? SeekProbe::clips(parsed.options.inputs, parsed.options.recursive) : QStringList();
    QString refused = parsed.error;
    if (parsed.ok && !parsed.help && clips.isEmpty())
        refused = QStringLiteral("no video files in %1").arg(parsed.options.inputs.join(QLatin1Char(' ')));
    else if (clips.size() > 1 && !parsed.options.csvFile.isEmpty())
        refused = QStringLiteral("--csv takes the rows of one clip; with several use --summary");
    if (!parsed.help && !refused.isEmpty()) {
        err << "seekprobe: " << refused << Qt::endl << SeekProbe::usage();
        return SeekProbe::BadArguments;
    }
    if (parsed.help) {
        out << SeekProbe::usage();
        return SeekProbe::Success;
    }
    const SeekProbe::Options &options = parsed.options;

    // One clip runs here, with its rows; several run in children, with the summary only.
    int code = SeekProbe::Success;
    QList<ClipResult> results;
    if (clips.size() == 1) {
        SeekProbe probe(options, clips.first());
        code = probe.run(out, err);
        results << probe.result();
        out << Qt::endl;
    } else {
        results = ProbeBatch::run(clips, options, err, code);
    }

    QList<ClipSummary> summaries;
    bool crossed = false;
    for (const ClipResult &result : results) {
        summaries << ClipSummary::of(result);
        crossed = crossed || (result.opened && !summaries.last().crossed(options.gates).isEmpty());
    }
    out << ClipSummary::table(summaries, options.gates);
    out.flush();

    if (!options.summaryFile.isEmpty() && !TextFile::write("seekprobe", options.summaryFile, ClipSummary::csv(summaries, options.gates), err))
        code = SeekProbe::CannotRun;
    if (!options.plotFile.isEmpty() && !TextFile::write("seekprobe", options.plotFile, SeekChart::svg(results), err))
        code = SeekProbe::CannotRun;
    if (code != SeekProbe::CannotRun && crossed)
        code = SeekProbe::GateCrossed;
    return code;
}
