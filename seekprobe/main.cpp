// Entry point of seekprobe: seeks through clips with no window and no sound, prints a row per seek
// for one clip (see SeekProbe) and a summary line per clip, checks a CI's gates and draws a chart;
// runs one part of a corpus split over a cluster and merges the parts (ProbePart); writes the
// corpus of hard cases (CorpusMaker). The only one of the programs that reads its command line.
#include "seekprobe/clipsummary.h"
#include "seekprobe/corpusmaker.h"
#include "seekprobe/probebatch.h"
#include "seekprobe/probepart.h"
#include "seekprobe/probereport.h"
#include "seekprobe/seekprobe.h"
#include "seekprobe/shardplan.h"
#include "platform/debugoutput.h"
#include "platform/textfile.h"

#include <QCoreApplication>
#include <QHash>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTextStream>

namespace {

QHash<QString, QString> environment()
{
    QHash<QString, QString> env;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    for (const QString &name : system.keys())
        env.insert(name, system.value(name));
    return env;
}

} // namespace

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
    // The corpus of hard cases: written before any clip is looked for.
    if (arguments.size() == 2 && arguments.at(0) == QLatin1String("--make-corpus"))
        return CorpusMaker::make(arguments.at(1), out, err) ? SeekProbe::Success : SeekProbe::CannotRun;

    const SeekProbe::Arguments parsed = SeekProbe::parseArguments(arguments);
    const SeekProbe::Options &options = parsed.options;
    const bool part = !options.outFolder.isEmpty();
    QString refused = parsed.error;
    ShardPlan plan;
    QStringList clips;
    if (parsed.ok && !parsed.help && !options.merge) {
        clips = SeekProbe::clips(options.inputs, options.recursive);
        if (clips.isEmpty())
            refused = QStringLiteral("no video files in %1").arg(options.inputs.join(QLatin1Char(' ')));
        else if (clips.size() > 1 && !options.csvFile.isEmpty())
            refused = QStringLiteral("--csv takes the rows of one clip; with several use --summary");
        else if (part && !ShardPlan::resolve(options.shard, options.shardCount, environment(), plan, refused))
            ;
        else if (part)
            clips = plan.pick(clips);
    }
    if (!parsed.help && !refused.isEmpty()) {
        err << "seekprobe: " << refused << Qt::endl << SeekProbe::usage();
        return SeekProbe::BadArguments;
    }
    if (parsed.help) {
        out << SeekProbe::usage();
        return SeekProbe::Success;
    }
    const ProbeReport::Files files{options.summaryFile, options.plotFile, options.merge ? options.csvFile : QString()};

    if (options.merge) {
        const ProbePart::Merged merged = ProbePart::read(options.inputs, err);
        const bool ownGates = options.gates.maxErrorPictures >= 0 || options.gates.maxLatencyMs >= 0;
        err << "seekprobe: merged " << merged.parts << " parts, " << merged.results.size() << " clips" << Qt::endl;
        return ProbeReport::finish(merged.results, ownGates ? options.gates : merged.gates, merged.code, files, out, err);
    }

    // One clip runs here, with its rows; several run in children, with the summary only, and so
    // does every clip of a part, so that its rows read the same however the clips were split.
    int code = SeekProbe::Success;
    QList<ClipResult> results;
    if (clips.size() == 1 && !part) {
        SeekProbe probe(options, clips.first());
        code = probe.run(out, err);
        results << probe.result();
        out << Qt::endl;
    } else {
        if (part)
            err << "seekprobe: part " << plan.index << " of " << plan.count << " (" << (plan.source.isEmpty() ? "whole run" : plan.source)
                << "): " << clips.size() << " clips" << Qt::endl;
        results = ProbeBatch::run(clips, options, err, code);
    }
    code = ProbeReport::finish(results, options.gates, code, files, out, err);
    if (part) {
        const QString run = ProbePart::runLine(options.seeks, options.seed, options.verify, options.exact, options.seekTo);
        if (!ProbePart::write(options.outFolder, plan, run, options.gates, code, results, err))
            code = SeekProbe::CannotRun;
    }
    return code;
}
