#include "seekrow.h"

#include <QStringList>

#include <cmath>

namespace {

// Three decimals, and never "-0.000": a picture a hair before a whole second is on it.
QString seconds(double value)
{
    if (std::fabs(value) < 0.0005)
        value = 0.0;
    return QString::number(value, 'f', 3);
}

} // namespace

qint64 SeekRow::errorPictures() const
{
    if (!(frameRate > 0.0) || !std::isfinite(frameRate))
        return 0;
    return static_cast<qint64>(std::llround(errorSeconds() * frameRate));
}

QString SeekRow::csvHeader(Columns columns)
{
    return QStringLiteral("batch,target_s,landed_s,picture_s,error_s,error_pictures,keyframe,"
                          "request_to_picture_ms,bytes,blocks")
        + (columns.verify ? QStringLiteral(",content_index,time_index,agree,verdict,distance_pictures,decoder_threads,repeat")
                          : QString())
        + (columns.exact ? QStringLiteral(",exact_picture_s,exact_ms,exact_pictures") : QString());
}

QString SeekRow::csvLine(Columns columns) const
{
    QStringList f;
    f << batch << QString::number(target) << (landedKnown ? QString::number(landed) : QString());
    if (pictureShown) {
        f << seconds(pictureTime) << seconds(errorSeconds()) << QString::number(errorPictures())
          << QString::number(keyFrame ? 1 : 0) << QString::number(requestToPictureMs);
    } else {
        f << QString() << QString() << QString() << QString() << QString();
    }
    f << QString::number(bytes) << QString::number(blocks);
    if (columns.verify) {
        if (verified)
            f << (contentIndex < 0 ? QStringLiteral("corrupt") : QString::number(contentIndex))
              << QString::number(timeIndex) << QString::number(contentIndex == timeIndex ? 1 : 0);
        else
            f << QString() << QString() << QString();
        f << verdictName(verdict) << (verdict == Verdict::Wrong ? QString::number(distancePictures) : QString())
          << (decoderThreads > 0 ? QString::number(decoderThreads) : QString()) << csvField(repeat);
    }
    if (columns.exact) {
        if (exactReached)
            f << seconds(exactTime) << QString::number(exactMs) << QString::number(exactPictures);
        else
            f << QString() << QString() << QString();
    }
    return f.join(QLatin1Char(','));
}

bool SeekRow::parse(const QStringList &header, const QString &line, SeekRow &row)
{
    return parse(header, splitCsv(line), row);
}

bool SeekRow::parse(const QStringList &header, const QStringList &f, SeekRow &row)
{
    if (f.size() != header.size() || header.value(0) != QLatin1String("batch"))
        return false;
    auto field = [&](const char *name) { return f.value(header.indexOf(QLatin1String(name))); };
    row = SeekRow();
    row.batch = field("batch");
    row.target = field("target_s").toLongLong();
    row.landedKnown = !field("landed_s").isEmpty();
    row.landed = field("landed_s").toLongLong();
    row.pictureShown = !field("picture_s").isEmpty();
    row.pictureTime = field("picture_s").toDouble();
    row.keyFrame = field("keyframe") == QLatin1String("1");
    row.requestToPictureMs = field("request_to_picture_ms").toLongLong();
    row.bytes = field("bytes").toLongLong();
    row.blocks = field("blocks").toInt();
    row.verified = !field("content_index").isEmpty();
    bool number = false;
    row.contentIndex = field("content_index").toLongLong(&number);
    if (!number)
        row.contentIndex = -1;
    row.timeIndex = field("time_index").toLongLong();
    for (Verdict v : {Verdict::Right, Verdict::Wrong, Verdict::Unknown, Verdict::Ambiguous})
        if (field("verdict") == verdictName(v))
            row.verdict = v;
    row.distancePictures = field("distance_pictures").toLongLong();
    row.decoderThreads = field("decoder_threads").toInt();
    row.repeat = field("repeat");
    row.exactReached = !field("exact_ms").isEmpty();
    row.exactTime = field("exact_picture_s").toDouble();
    row.exactMs = field("exact_ms").toLongLong();
    row.exactPictures = field("exact_pictures").toInt();
    return true;
}

QString SeekRow::verdictName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Right: return QStringLiteral("right");
    case Verdict::Wrong: return QStringLiteral("wrong");
    case Verdict::Unknown: return QStringLiteral("unknown");
    case Verdict::Ambiguous: return QStringLiteral("ambiguous");
    case Verdict::None: break;
    }
    return QString();
}

QString SeekRow::csvField(QString value)
{
    if (value.contains(QLatin1Char(',')) || value.contains(QLatin1Char('"')))
        value = QLatin1Char('"') + value.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    return value;
}

QStringList SeekRow::splitCsv(const QString &line)
{
    QStringList fields(1);
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('"') && quoted && i + 1 < line.size() && line.at(i + 1) == QLatin1Char('"')) {
            fields.last() += c;   // a doubled quote inside quotes
            ++i;
        } else if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (c == QLatin1Char(',') && !quoted) {
            fields << QString();
        } else {
            fields.last() += c;
        }
    }
    return fields;
}
