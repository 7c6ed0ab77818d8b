// The storage profiles: their order, their labels and what each read costs, by table.
#include "access/storageprofile.h"

#include <gtest/gtest.h>

namespace {

using Kind = StorageProfile::Kind;

// S in seekmark: three presses of the key come back to where they started. The labels are what
// the file access view shows.
TEST(StorageProfile, CyclesFromLocalDiskAndBackWithTheirLabels)
{
    const char *const labels[] = {"local disk (no added delay)", "hard disk (8 ms per seek, 100 MB/s)",
                                  "network share (2 ms per request, 10 MB/s)"};
    for (const Kind kind : {Kind::LocalDisk, Kind::HardDisk, Kind::NetworkShare})
        EXPECT_EQ(StorageProfile(kind).label(), QString::fromLatin1(labels[int(kind)]));
    EXPECT_EQ(StorageProfile().kind(), Kind::LocalDisk);
    EXPECT_EQ(StorageProfile().next(), StorageProfile(Kind::HardDisk));
    EXPECT_EQ(StorageProfile().next().next(), StorageProfile(Kind::NetworkShare));
    EXPECT_EQ(StorageProfile().next().next().next(), StorageProfile());
}

TEST(StorageProfile, DelayOfARead)
{
    constexpr qint64 None = StorageProfile::NoPreviousRead;
    struct Row {
        const char *what;
        Kind kind;
        qint64 offset;
        qint64 bytes;
        qint64 previousEnd;
        qint64 delayUs;
    };
    const Row rows[] = {
        {"local: first read", Kind::LocalDisk, 0, 32768, None, 0},
        // 32768 bytes at 100 MB/s are 327.68 us.
        {"disk: the first read moves the head", Kind::HardDisk, 0, 32768, None, 8328},
        {"disk: reading on", Kind::HardDisk, 32768, 32768, 32768, 328},
        {"disk: a jump back", Kind::HardDisk, 0, 32768, 32768, 8328},
        {"disk: a jump of one byte is a seek", Kind::HardDisk, 32769, 100, 32768, 8001},
        {"disk: nothing left to read there", Kind::HardDisk, 5000, 0, 5000, 0},
        {"disk: a jump to the end still moves", Kind::HardDisk, 5000, 0, 0, 8000},
        {"disk: a negative count moves no bytes", Kind::HardDisk, 0, -5, 0, 0},
        // 32768 bytes at 10 MB/s are 3276.8 us; every read is a request, jump or not.
        {"share: first read", Kind::NetworkShare, 0, 32768, None, 5277},
        {"share: reading on", Kind::NetworkShare, 32768, 32768, 32768, 5277},
        {"share: a jump", Kind::NetworkShare, 1 << 20, 4096, 0, 2410},
        {"share: an empty request", Kind::NetworkShare, 0, 0, 0, 2000},
        {"share: one megabyte", Kind::NetworkShare, 0, 1000000, 0, 102000},
        // Absurd counts are capped, never overflow into a negative wait.
        {"share: an absurd count", Kind::NetworkShare, 0, qint64(1) << 62, 0,
         2000 + ((qint64(1) << 40) * 1000000 + 5000000) / 10000000},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(StorageProfile(row.kind).delayUs(row.offset, row.bytes, row.previousEnd),
                  row.delayUs);
    }
}

} // namespace
