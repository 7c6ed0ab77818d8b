#include "pendingseekrow.h"

void PendingSeekRow::begin(const QString &batch, qint64 target, qint64 nowMs, double frameRate)
{
    m_Row = SeekRow();
    m_Row.batch = batch;
    m_Row.target = target;
    m_Row.frameRate = frameRate;
    m_RequestedAt = nowMs;
    m_Open = true;
}

void PendingSeekRow::pictureShown(double time, bool keyFrame, qint64 nowMs,
                                  const SeekReadCounter::Count &reads)
{
    if (!m_Open || m_Row.pictureShown)
        return;
    m_Row.pictureShown = true;
    m_Row.pictureTime = time;
    m_Row.keyFrame = keyFrame;
    m_Row.requestToPictureMs = nowMs - m_RequestedAt;
    m_Row.bytes = reads.bytes;
    m_Row.blocks = reads.blocks;
}

void PendingSeekRow::landed(qint64 position)
{
    if (!m_Open)
        return;
    m_Row.landedKnown = true;
    m_Row.landed = position;
}

std::optional<SeekRow> PendingSeekRow::close(const SeekReadCounter::Count &readsSoFar, bool evenUnlanded)
{
    if (!m_Open)
        return std::nullopt;
    m_Open = false;
    if (!m_Row.landedKnown && !evenUnlanded)
        return std::nullopt;
    if (!m_Row.pictureShown) {
        m_Row.bytes = readsSoFar.bytes;
        m_Row.blocks = readsSoFar.blocks;
    }
    return m_Row;
}
