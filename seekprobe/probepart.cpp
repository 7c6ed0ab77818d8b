#include "probepart.h"

#include "seekprobe/probereport.h"
#include "seekprobe/seekprobe.h"
#include "platform/textfile.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>

namespace {

const char *const kClipHeader = "clip,opened,container,codec,frame_rate,verified,exact,error";

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(file.readAll()) : QString();
}

// The value after "key: " in the facts' lines; empty when there is none.
QString fact(const QStringList &lines, const QString &key)
{
    for (const QString &line : lines)
        if (line.startsWith(key + QStringLiteral(": ")))
            return line.mid(key.size() + 2);
    return QString();
}

} // namespace

QString ProbePart::runLine(int seeks, quint32 seed, bool verify, bool exact, int seekTo)
{
    QString line = QStringLiteral("--seeks %1 --seed %2").arg(seeks).arg(seed);
    if (verify)
        line += QStringLiteral(" --verify");
    if (exact)
        line += QStringLiteral(" --exact");
    if (seekTo >= 0)
        line += QStringLiteral(" --seek-to %1").arg(seekTo);
    return line;
}

bool ProbePart::write(const QString &folder, const ShardPlan &plan, const QString &runLine,
                      const ClipSummary::Gates &gates, int exitCode, const QList<ClipResult> &results, QTextStream &err)
{
    if (!QDir().mkpath(folder)) {
        err << "seekprobe: cannot make the folder " << folder << Qt::endl;
        return false;
    }
    const QString stem = QDir(folder).filePath(plan.name());
    QList<ClipSummary> summaries;
    QString facts = QStringLiteral("seekprobe part %1 of %2\nsource: %3\nrun: %4\ngates: %5 %6\nexit: %7\nclips: %8\n")
                        .arg(plan.index)
                        .arg(plan.count)
                        .arg(plan.source.isEmpty() ? QStringLiteral("whole run") : plan.source, runLine)
                        .arg(gates.maxErrorPictures)
                        .arg(gates.maxLatencyMs)
                        .arg(exitCode)
                        .arg(results.size());
    facts += QLatin1String(kClipHeader) + QLatin1Char('\n');
    for (const ClipResult &r : results) {
        summaries << ClipSummary::of(r);
        QStringList f{r.clip, QString::number(r.opened), r.container, r.codec, QString::number(r.frameRate, 'g', 17),
                      QString::number(r.verified), QString::number(r.exact), r.error};
        for (QString &v : f)
            v = SeekRow::csvField(v.replace(QLatin1Char('\n'), QLatin1Char(' ')));
        facts += f.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return TextFile::write("seekprobe", stem + QStringLiteral(".rows.csv"), ProbeReport::rowsCsv(results), err)
        && TextFile::write("seekprobe", stem + QStringLiteral(".summary.csv"), ClipSummary::csv(summaries, gates), err)
        && TextFile::write("seekprobe", stem + QStringLiteral(".facts"), facts, err);
}

ProbePart::Merged ProbePart::read(const QStringList &folders, QTextStream &err)
{
    Merged merged;
    merged.code = SeekProbe::Success;
    static const QRegularExpression partName(QStringLiteral("^part-(\\d+)-of-(\\d+)\\.facts$"));
    QMap<int, QString> stems;   // by part index
    int count = 0;
    QString run;
    for (const QString &folder : folders) {
        const QDir dir(folder);
        if (!dir.exists()) {
            err << "seekprobe: no folder " << folder << Qt::endl;
            merged.code = ProbeReport::worse(merged.code, SeekProbe::CannotRun);
            continue;
        }
        for (const QString &name : dir.entryList({QStringLiteral("part-*.facts")}, QDir::Files, QDir::Name)) {
            const QStringList lines = readText(dir.filePath(name)).split(QLatin1Char('\n'));
            const QRegularExpressionMatch m = partName.match(name);
            if (!m.hasMatch() || lines.value(0) != QStringLiteral("seekprobe part %1 of %2").arg(m.captured(1).toInt()).arg(m.captured(2).toInt()))
                continue;
            const int index = m.captured(1).toInt();
            if (count == 0) {
                count = m.captured(2).toInt();
                run = fact(lines, QStringLiteral("run"));
                const QStringList gates = fact(lines, QStringLiteral("gates")).split(QLatin1Char(' '));
                merged.gates = {gates.value(0, QStringLiteral("-1")).toLongLong(), gates.value(1, QStringLiteral("-1")).toLongLong()};
            }
            if (m.captured(2).toInt() != count || fact(lines, QStringLiteral("run")) != run) {
                err << "seekprobe: " << dir.filePath(name) << " belongs to another run (" << m.captured(2).toInt()
                    << " parts, " << fact(lines, QStringLiteral("run")) << "; the first part found: " << count << " parts, " << run
                    << ")" << Qt::endl;
                merged.code = ProbeReport::worse(merged.code, SeekProbe::BadArguments);
                continue;
            }
            if (stems.contains(index)) {
                err << "seekprobe: part " << index << " found twice; " << stems.value(index) << " counts" << Qt::endl;
                continue;
            }
            stems.insert(index, dir.filePath(name).chopped(6));
        }
    }
    if (count == 0) {
        err << "seekprobe: no parts in " << folders.join(QLatin1Char(' ')) << Qt::endl;
        merged.code = ProbeReport::worse(merged.code, SeekProbe::CannotRun);
        return merged;
    }
    for (int index = 0; index < count; ++index) {
        const QString rows = stems.contains(index) ? readText(stems.value(index) + QStringLiteral(".rows.csv")) : QString();
        if (rows.isEmpty()) {
            err << "seekprobe: part " << index << " of " << count << " is missing" << Qt::endl;
            merged.code = ProbeReport::worse(merged.code, SeekProbe::CannotRun);
            continue;
        }
        ++merged.parts;
        QMap<QString, ClipResult> clips;
        const QStringList facts = readText(stems.value(index) + QStringLiteral(".facts")).split(QLatin1Char('\n'));
        for (qsizetype i = facts.indexOf(QLatin1String(kClipHeader)) + 1; i > 0 && i < facts.size(); ++i) {
            const QStringList f = SeekRow::splitCsv(facts.at(i));
            if (f.size() != 8)
                continue;
            ClipResult &r = clips[f.at(0)];
            r.clip = f.at(0);
            r.opened = f.at(1) == QLatin1String("1");
            r.container = f.at(2);
            r.codec = f.at(3);
            r.frameRate = f.at(4).toDouble();
            r.verified = f.at(5) == QLatin1String("1");
            r.exact = f.at(6) == QLatin1String("1");
            r.error = f.at(7);
        }
        const QStringList lines = rows.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QStringList header = lines.value(0).split(QLatin1Char(',')).mid(1);
        for (const QString &line : lines.mid(1)) {
            const QStringList f = SeekRow::splitCsv(line);
            SeekRow row;
            if (!clips.contains(f.value(0)) || !SeekRow::parse(header, f.mid(1), row))
                continue;
            ClipResult &r = clips[f.value(0)];
            row.frameRate = r.frameRate;
            r.rows << row;
        }
        merged.results << clips.values();
    }
    std::sort(merged.results.begin(), merged.results.end(), [](const ClipResult &a, const ClipResult &b) { return a.clip < b.clip; });
    merged.code = ProbeReport::worse(merged.code, ProbeReport::statusOf(merged.results));
    return merged;
}
