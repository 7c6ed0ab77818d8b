#include "probereport.h"

#include "seekprobe/seekprobe.h"
#include "seekprobe/seekchart.h"
#include "platform/textfile.h"

#include <QTextStream>

int ProbeReport::worse(int a, int b)
{
    for (int code : {SeekProbe::BadArguments, SeekProbe::CannotRun, SeekProbe::GateCrossed, SeekProbe::SeekFailed})
        if (a == code || b == code)
            return code;
    return SeekProbe::Success;
}

int ProbeReport::statusOf(const QList<ClipResult> &results)
{
    int code = SeekProbe::Success;
    for (const ClipResult &result : results) {
        if (!result.opened)
            code = worse(code, SeekProbe::CannotRun);
        for (const SeekRow &row : result.rows)
            if (!row.pictureShown)
                code = worse(code, SeekProbe::SeekFailed);
    }
    return code;
}

QString ProbeReport::rowsCsv(const QList<ClipResult> &results)
{
    SeekRow::Columns columns;
    for (const ClipResult &result : results) {
        columns.verify = columns.verify || result.verified;
        columns.exact = columns.exact || result.exact;
    }
    QString text = QStringLiteral("clip,") + SeekRow::csvHeader(columns) + QLatin1Char('\n');
    for (const ClipResult &result : results)
        for (const SeekRow &row : result.rows)
            text += SeekRow::csvField(result.clip) + QLatin1Char(',') + row.csvLine(columns) + QLatin1Char('\n');
    return text;
}

int ProbeReport::finish(const QList<ClipResult> &results, const ClipSummary::Gates &gates, int code, const Files &files,
                        QTextStream &out, QTextStream &err)
{
    QList<ClipSummary> summaries;
    bool crossed = false;
    for (const ClipResult &result : results) {
        summaries << ClipSummary::of(result);
        crossed = crossed || (result.opened && !summaries.last().crossed(gates).isEmpty());
    }
    out << ClipSummary::table(summaries, gates);
    out.flush();

    if (!files.summary.isEmpty() && !TextFile::write("seekprobe", files.summary, ClipSummary::csv(summaries, gates), err))
        code = SeekProbe::CannotRun;
    if (!files.plot.isEmpty() && !TextFile::write("seekprobe", files.plot, SeekChart::svg(results), err))
        code = SeekProbe::CannotRun;
    if (!files.rows.isEmpty() && !TextFile::write("seekprobe", files.rows, rowsCsv(results), err))
        code = SeekProbe::CannotRun;
    return crossed ? worse(code, SeekProbe::GateCrossed) : code;
}
