#include "storageprofile.h"

#include <algorithm>

namespace {

// Counts beyond a terabyte are capped so that bytes x 1 000 000 cannot overflow; no single read
// comes near it, and the wait would be hours anyway.
constexpr qint64 kMaxBytes = qint64(1) << 40;

} // namespace

StorageProfile StorageProfile::next() const
{
    switch (m_Kind) {
    case Kind::LocalDisk:
        return StorageProfile(Kind::HardDisk);
    case Kind::HardDisk:
        return StorageProfile(Kind::NetworkShare);
    case Kind::NetworkShare:
        break;
    }
    return StorageProfile(Kind::LocalDisk);
}

QString StorageProfile::name() const
{
    switch (m_Kind) {
    case Kind::HardDisk:
        return QStringLiteral("hard disk");
    case Kind::NetworkShare:
        return QStringLiteral("network share");
    case Kind::LocalDisk:
        break;
    }
    return QStringLiteral("local disk");
}

QString StorageProfile::label() const
{
    switch (m_Kind) {
    case Kind::HardDisk:
        return QStringLiteral("hard disk (8 ms per seek, 100 MB/s)");
    case Kind::NetworkShare:
        return QStringLiteral("network share (2 ms per request, 10 MB/s)");
    case Kind::LocalDisk:
        break;
    }
    return QStringLiteral("local disk (no added delay)");
}

qint64 StorageProfile::seekUs() const
{
    return m_Kind == Kind::HardDisk ? 8000 : 0;
}

qint64 StorageProfile::requestUs() const
{
    return m_Kind == Kind::NetworkShare ? 2000 : 0;
}

qint64 StorageProfile::bytesPerSecond() const
{
    switch (m_Kind) {
    case Kind::HardDisk:
        return 100000000;
    case Kind::NetworkShare:
        return 10000000;
    case Kind::LocalDisk:
        break;
    }
    return 0;
}

qint64 StorageProfile::delayUs(qint64 offset, qint64 bytes, qint64 previousEnd) const
{
    const qint64 rate = bytesPerSecond();
    if (rate <= 0)
        return 0;
    qint64 delay = requestUs();
    if (previousEnd == NoPreviousRead || offset != previousEnd)
        delay += seekUs();
    const qint64 count = std::clamp<qint64>(bytes, 0, kMaxBytes);
    // Rounded to the nearest microsecond.
    delay += (count * 1000000 + rate / 2) / rate;
    return delay;
}
