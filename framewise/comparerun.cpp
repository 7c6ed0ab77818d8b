#include "comparerun.h"

#include "clipcomparison.h"
#include "comparereport.h"

#include "platform/textfile.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>


int CompareRun::run(const Settings &settings, QTextStream &out, QTextStream &err)
{
    ClipComparison comparison(settings.first, settings.second);
    if (!comparison.open()) {
        err << "framewise: " << comparison.error() << Qt::endl;
        return CannotRun;
    }
    // The rows file is opened before the long run, so a path that cannot be written fails at once.
    QFile csv(settings.csvFile);
    if (!settings.csvFile.isEmpty() && !csv.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        err << "framewise: cannot write " << settings.csvFile << ": " << csv.errorString() << Qt::endl;
        return CannotRun;
    }
    QTextStream csvOut(&csv);

    QList<PairRow> rows;
    out << CompareReport::csvHeader() << Qt::endl;
    if (csv.isOpen())
        csvOut << CompareReport::csvHeader() << Qt::endl;
    ClipComparison::Options options;
    options.offset = settings.offset;
    options.row = [&](const PairRow &row) {
        rows << row;
        const QString line = CompareReport::csvLine(row);
        out << line << '\n';
        if (csv.isOpen())
            csvOut << line << '\n';
    };
    options.progress = [&](double fraction) {
        err << "framewise: " << rows.size() << " pairs compared, " << int(fraction * 100) << " % of "
            << QFileInfo(settings.first).fileName() << Qt::endl;
    };
    const ClipComparison::Outcome outcome = comparison.run(options);
    out << Qt::endl << CompareReport::summary(rows, settings.offset, settings.minPsnr);
    out.flush();

    int code = Success;
    if (outcome == ClipComparison::Outcome::MetricFailed) {
        err << "framewise: " << comparison.metricError() << Qt::endl;
        code = CannotRun;
    }
    if (outcome == ClipComparison::Outcome::Stalled)
        err << "framewise: decoding stalled after " << rows.size() << " pairs" << Qt::endl;
    if (csv.isOpen() && (csvOut.flush(), csvOut.status() != QTextStream::Ok || !csv.flush())) {
        err << "framewise: cannot write " << settings.csvFile << ": " << csv.errorString() << Qt::endl;
        code = CannotRun;
    }
    const QString title = QStringLiteral("%1 against %2, offset %3")
                              .arg(QFileInfo(settings.first).fileName(), QFileInfo(settings.second).fileName())
                              .arg(settings.offset);
    if (!settings.plotFile.isEmpty() && !TextFile::write("framewise", settings.plotFile, CompareReport::chart(rows, title), err))
        code = CannotRun;
    if (code == Success && CompareReport::belowGate(rows, settings.minPsnr) > 0)
        code = GateCrossed;
    if (code == Success && (outcome == ClipComparison::Outcome::Stalled || rows.isEmpty()))
        code = NoPairs;
    return code;
}
