#include "clipsummary.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// The nearest-rank percentile of sorted values; 0 for none.
qint64 percentile(const QList<qint64> &sorted, int percent)
{
    if (sorted.isEmpty())
        return 0;
    const qsizetype rank = (sorted.size() * percent + 99) / 100;
    return sorted.at(std::clamp<qsizetype>(rank, 1, sorted.size()) - 1);
}

} // namespace

ClipResult ClipResult::parse(const QString &clip, const QString &output)
{
    ClipResult r;
    r.clip = clip;
    QStringList header;
    for (const QString &line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1String("format: "))) {
            r.opened = true;
            r.container = line.section(QLatin1Char(' '), 1, 1);
            r.codec = line.section(QLatin1Char(' '), 3, 3);
        } else if (line.startsWith(QLatin1String("duration: "))) {
            r.frameRate = line.section(QLatin1Char(' '), 3, 3).toDouble();
        } else if (line.startsWith(QLatin1String("batch,"))) {
            header = line.split(QLatin1Char(','));
            r.verified = header.contains(QLatin1String("content_index"));
            r.exact = header.contains(QLatin1String("exact_ms"));
        } else if (SeekRow row; !header.isEmpty() && SeekRow::parse(header, line, row)) {
            row.frameRate = r.frameRate;
            r.rows << row;
        }
    }
    return r;
}

qint64 ClipSummary::errorPictures(const SeekRow &row, double frameRate)
{
    if (row.verified && row.contentIndex >= 0)
        return row.contentIndex - std::llround(static_cast<double>(row.target) * frameRate);
    return row.errorPictures();
}

ClipSummary ClipSummary::of(const ClipResult &result)
{
    ClipSummary s;
    s.clip = result.clip;
    s.opened = result.opened;
    s.container = result.container;
    s.codec = result.codec;
    s.seeks = result.rows.size();
    s.corrupt = s.disagree = s.right = s.wrong = s.unknown = s.ambiguous = result.verified ? 0 : -1;
    QList<qint64> latencies;
    qint64 errorSum = 0;
    qint64 bytes = 0;
    for (const SeekRow &row : result.rows) {
        bytes += row.bytes;
        if (!row.pictureShown) {
            ++s.noPicture;
            continue;
        }
        latencies << row.requestToPictureMs;
        using Verdict = SeekRow::Verdict;
        for (auto [verdict, count] : {std::pair{Verdict::Right, &s.right}, {Verdict::Wrong, &s.wrong},
                                      {Verdict::Unknown, &s.unknown}, {Verdict::Ambiguous, &s.ambiguous}})
            *count += result.verified && row.verdict == verdict;
        if (row.verified && row.contentIndex < 0) {
            ++s.corrupt;
            continue;
        }
        if (row.verified && row.contentIndex != row.timeIndex)
            ++s.disagree;
        const qint64 error = std::llabs(errorPictures(row, result.frameRate));
        errorSum += error;
        s.errorMax = std::max(s.errorMax, error);
    }
    std::sort(latencies.begin(), latencies.end());
    const qsizetype measured = latencies.size() - std::max(s.corrupt, 0);
    s.errorMean = measured > 0 ? static_cast<double>(errorSum) / measured : 0.0;
    s.p50Ms = percentile(latencies, 50);
    s.p95Ms = percentile(latencies, 95);
    s.bytesPerSeek = s.seeks > 0 ? bytes / s.seeks : 0;
    return s;
}

QStringList ClipSummary::crossed(const Gates &gates) const
{
    QStringList why;
    if (gates.maxErrorPictures >= 0 && errorMax > gates.maxErrorPictures)
        why << QStringLiteral("error %1 > %2 pictures").arg(errorMax).arg(gates.maxErrorPictures);
    if (gates.maxErrorPictures >= 0 && corrupt > 0)
        why << QStringLiteral("%1 corrupt pictures").arg(corrupt);
    if (gates.maxLatencyMs >= 0 && p95Ms > gates.maxLatencyMs)
        why << QStringLiteral("p95 %1 > %2 ms").arg(p95Ms).arg(gates.maxLatencyMs);
    return why;
}

QStringList ClipSummary::fields()
{
    return {"clip", "container", "codec", "seeks", "error_mean", "error_max", "no_picture",
            "corrupt", "disagree", "right", "wrong", "unknown", "ambiguous", "p50_ms", "p95_ms", "bytes_per_seek", "gates"};
}

QStringList ClipSummary::values(const Gates &gates) const
{
    const QString name = QFileInfo(clip).fileName();
    if (!opened)
        return {name, "-", "-", "0", "-", "-", "-", "-", "-", "-", "-", "-", "-", "-", "-", "-", "cannot open"};
    const QStringList why = crossed(gates);
    auto counted = [](int n) { return n < 0 ? QStringLiteral("-") : QString::number(n); };
    return {name,
            container,
            codec,
            QString::number(seeks),
            QString::number(errorMean, 'f', 2),
            QString::number(errorMax),
            QString::number(noPicture),
            counted(corrupt),
            counted(disagree),
            counted(right),
            counted(wrong),
            counted(unknown),
            counted(ambiguous),
            QString::number(p50Ms),
            QString::number(p95Ms),
            QString::number(bytesPerSeek),
            why.isEmpty() ? QStringLiteral("ok") : why.join(QStringLiteral("; "))};
}

QString ClipSummary::table(const QList<ClipSummary> &summaries, const Gates &gates)
{
    QList<QStringList> lines{fields()};
    for (const ClipSummary &s : summaries)
        lines << s.values(gates);
    QList<int> widths(fields().size(), 0);
    for (const QStringList &line : lines)
        for (int i = 0; i < line.size(); ++i)
            widths[i] = std::max<int>(widths[i], line.at(i).size());
    QString text;
    for (const QStringList &line : lines) {
        QStringList padded;
        // The last column is free text: no padding after it.
        for (int i = 0; i < line.size(); ++i)
            padded << (i + 1 < line.size() ? line.at(i).leftJustified(widths[i]) : line.at(i));
        text += padded.join(QStringLiteral("  ")) + QLatin1Char('\n');
    }
    return text;
}

QString ClipSummary::csv(const QList<ClipSummary> &summaries, const Gates &gates)
{
    QString text = fields().join(QLatin1Char(',')) + QLatin1Char('\n');
    for (const ClipSummary &s : summaries) {
        QStringList values = s.values(gates);
        values[0] = s.clip;
        for (QString &v : values)
            v = SeekRow::csvField(v);
        text += values.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return text;
}
