#include "fileaccessbook.h"

#include <QMutexLocker>

#include <algorithm>

namespace {

// The distance between two offsets as the low 32 bits see it: their difference modulo 2^32, read
// as a signed 32-bit number, made absolute. It is exact for any jump under 2 GiB, wherever in the
// file. Worked out in 64 bits so that no step can overflow.
qint64 lowWordDistance(qint64 from, qint64 to)
{
    const quint32 wrapped = static_cast<quint32>(to) - static_cast<quint32>(from);
    const qint64 signedDiff = wrapped >= 0x80000000u ? static_cast<qint64>(wrapped) - 0x100000000LL
                                                     : static_cast<qint64>(wrapped);
    return signedDiff < 0 ? -signedDiff : signedDiff;
}

} // namespace

QString FileAccessBook::Snapshot::averageText() const
{
    return QString::number(averageDistance / 1024.0, 'g', 6);
}

QString FileAccessBook::Snapshot::statusLine() const
{
    // One multi-argument arg(): a text that happened to hold "%n" cannot be substituted again.
    return QStringLiteral("%1 OB:%2 CB:%3 MBA:%4 TIME:%5 REQ:%6")
        .arg(QString::number(dataOffset / 1024), QString::number(openingBlocks),
             QString::number(currentBlocks), QString::number(maxBlocks), timeText, requestText);
}

QString FileAccessBook::Snapshot::failureText() const
{
    if (failedReads == 0)
        return QString();
    return QStringLiteral("READ FAILED %1x, last at %2 KiB: %3 of %4 bytes")
        .arg(QString::number(failedReads), QString::number(failedOffset / 1024),
             failedGot < 0 ? QStringLiteral("error") : QString::number(failedGot),
             QString::number(failedSize));
}

QString FileAccessBook::Snapshot::storageText() const
{
    if (storage.isEmpty())
        return QString();
    return QStringLiteral("STORAGE: ") + storage;
}

qint64 FileAccessBook::blockNumber(qint64 offset)
{
    return offset / BlockSize + 1;
}

QString FileAccessBook::clockText(qint64 seconds)
{
    qint64 s = seconds % 86400;
    if (s < 0)
        s += 86400;
    const int h = static_cast<int>(s / 3600);
    const int m = static_cast<int>(s / 60 % 60);
    const int sec = static_cast<int>(s % 60);
    return QStringLiteral("%1:%2:%3")
        .arg(h, 2, 10, QLatin1Char('0'))
        .arg(m, 2, 10, QLatin1Char('0'))
        .arg(sec, 2, 10, QLatin1Char('0'));
}

void FileAccessBook::fileOpened(qint64 size)
{
    QMutexLocker lock(&m_Mutex);
    m_State.fileSize = size;
}

qint64 FileAccessBook::readBlock(qint64 offset)
{
    const qint64 number = blockNumber(offset);
    const int block = static_cast<int>(number);

    QMutexLocker lock(&m_Mutex);
    Snapshot &s = m_State;
    if (!s.opened && !m_OpeningSet.contains(block)) {
        m_OpeningSet.insert(block);
        s.openingBlockList.append(block);
    }
    if (!m_IntervalSet.contains(block)) {
        m_IntervalSet.insert(block);
        s.intervalBlocks.append(block);
    }
    s.previousOffset = s.currentOffset;
    s.currentOffset = offset;

    const qint64 distance = s.distances.isEmpty() ? 0 : lowWordDistance(s.previousOffset, offset);
    s.distances.append(distance);
    if (s.distances.size() > MaxDistances)
        s.distances.removeFirst();

    qint64 sum = 0;
    for (qint64 d : std::as_const(s.distances))
        sum += d;
    s.averageDistance = static_cast<double>(sum) / s.distances.size();
    return number;
}

void FileAccessBook::setDataOffset(qint64 offset)
{
    QMutexLocker lock(&m_Mutex);
    m_State.dataOffset = offset;
}

void FileAccessBook::setOpened()
{
    QMutexLocker lock(&m_Mutex);
    m_State.opened = true;
    m_State.openingBlocks = m_State.openingBlockList.size();
}

void FileAccessBook::setTime(qint64 seconds)
{
    const QString text = clockText(seconds);
    QMutexLocker lock(&m_Mutex);
    m_State.timeSeconds = seconds;
    m_State.timeText = text;
}

void FileAccessBook::setRequestTime(qint64 seconds)
{
    const QString text = clockText(seconds);
    QMutexLocker lock(&m_Mutex);
    m_State.requestSeconds = seconds;
    m_State.requestText = text;
}

void FileAccessBook::clearDistances()
{
    QMutexLocker lock(&m_Mutex);
    m_State.distances.clear();
}

void FileAccessBook::readFailed(qint64 offset, qint64 size, qint64 got)
{
    QMutexLocker lock(&m_Mutex);
    ++m_State.failedReads;
    m_State.failedOffset = offset;
    m_State.failedSize = size;
    m_State.failedGot = got;
}

void FileAccessBook::setStorage(const QString &label)
{
    QMutexLocker lock(&m_Mutex);
    m_State.storage = label;
}

int FileAccessBook::tick()
{
    QMutexLocker lock(&m_Mutex);
    Snapshot &s = m_State;
    s.currentBlocks = static_cast<int>(s.intervalBlocks.size());
    s.maxBlocks = std::max(s.maxBlocks, s.currentBlocks);
    s.history.append(s.currentBlocks);
    s.intervalBlocks.clear();
    m_IntervalSet.clear();
    return s.currentBlocks;
}

FileAccessBook::Snapshot FileAccessBook::snapshot() const
{
    QMutexLocker lock(&m_Mutex);
    return m_State;
}
