#include "testclips.h"

namespace testsupport {

QString clipPath(const QString &name)
{
    return QStringLiteral(CLIPS_DIR) + QLatin1Char('/') + name;
}

QString sampleClip()
{
    return QStringLiteral(SAMPLE_CLIP);
}

QString binDir()
{
    return QStringLiteral(BIN_DIR);
}

QString testsSourceDir()
{
    return QStringLiteral(TESTS_SOURCE_DIR);
}

} // namespace testsupport
