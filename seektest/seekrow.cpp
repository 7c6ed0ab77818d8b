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

QString SeekRow::csvHeader()
{
    return QStringLiteral("batch,target_s,landed_s,picture_s,error_s,error_pictures,keyframe,"
                          "request_to_picture_ms,bytes,blocks");
}

QString SeekRow::csvLine() const
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
    return f.join(QLatin1Char(','));
}
