#include "seekstats.h"

#include <algorithm>

SeekStats::Landing SeekStats::record(qint64 position, qint64 target)
{
    Landing l;
    l.diff = static_cast<int>(position - target);
    l.forward = l.diff > 0;
    l.absDiff = l.diff < 0 ? -l.diff : l.diff;

    ++m_SeekCount;
    m_DiffSum += l.absDiff;
    if (l.absDiff >= m_MaxDiff)
        m_MaxDiff = l.absDiff;
    if (l.absDiff < m_MinDiff)
        m_MinDiff = l.absDiff;

    l.average = m_DiffSum / m_SeekCount;
    l.maxDiff = m_MaxDiff;
    l.minDiff = m_MinDiff;

    if (m_SeekCount > BatchLimit) {
        l.batchComplete = true;
        l.reportLine = reportLine(l.average, l.maxDiff, l.minDiff);
        reset();
    }
    return l;
}

QString SeekStats::reportLine(int average, int maxDiff, int minDiff)
{
    return QStringLiteral("Average ") + QString::number(average) + QStringLiteral(" MAX DIFF ")
        + QString::number(maxDiff) + QStringLiteral(" MIN DIFF ") + QString::number(minDiff);
}

SeekStats::Target SeekStats::randomTarget(int random, qint64 duration)
{
    Target t;
    const qint64 range = duration - TailSeconds;
    if (range <= 0) {
        t.reason = QStringLiteral("seek test needs a clip longer than %1 s (this one: %2 s)")
                       .arg(TailSeconds)
                       .arg(duration);
        return t;
    }
    // rand() is never negative; the wrap keeps any other source's value in range too.
    qint64 r = static_cast<qint64>(random) % range;
    if (r < 0)
        r += range;
    t.valid = true;
    t.seconds = static_cast<int>(r);
    return t;
}

qint64 SeekStats::clickTarget(qint64 duration, int x, int width)
{
    if (width <= 0 || duration <= 0)
        return 0;
    const qint64 column = std::clamp<qint64>(x, 0, width - 1);
    // In integers the truncation is exact, where duration * (x / width) in doubles may fall a
    // hair below a whole second and lose it.
    return duration * column / width;
}

void SeekStats::reset()
{
    m_MinDiff = NoSeekYet;
    m_MaxDiff = 0;
    m_DiffSum = 0;
    m_SeekCount = 0;
}
