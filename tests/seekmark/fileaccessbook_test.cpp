// The file access view's bookkeeping, driven call by call.
#include "seekmark/fileaccessbook.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(FileAccessBook, BlocksClockAndDistances)
{
    for (const auto &[offset, block] : {std::pair<qint64, qint64>{0, 1}, {131071, 1}, {131072, 2}, {0x100000000LL, 32769}})
        EXPECT_EQ(FileAccessBook::blockNumber(offset), block) << offset;
    // A day wraps round.
    for (const auto &[seconds, text] : {std::pair<qint64, const char *>{3725, "01:02:05"}, {86399, "23:59:59"}, {86401, "00:00:01"}})
        EXPECT_EQ(FileAccessBook::clockText(seconds), QString::fromLatin1(text)) << seconds;
    // Backwards counts alike; across 2 and 4 GiB the low words wrap, a short jump still measures right.
    const std::tuple<std::vector<qint64>, QList<qint64>, QString> cases[] = {
        {{4096}, {0}, "0"},
        {{1000000, 0}, {0, 1000000}, "488.281"},
        {{0x7FFFFFF0LL, 0x80000010LL}, {0, 0x20}, "0.015625"},
        {{0xFFFFFF00LL, 0x100000100LL}, {0, 0x200}, "0.25"},
    };
    for (const auto &[reads, distances, average] : cases) {
        FileAccessBook book;
        for (qint64 r : reads)
            book.readBlock(r);
        EXPECT_EQ(book.snapshot().distances, distances) << reads.back();
        EXPECT_EQ(book.snapshot().averageText(), average) << reads.back();
    }
    // Clearing keeps the average until the next read; only the last thirty distances count.
    FileAccessBook book;
    book.readBlock(0);
    book.readBlock(2048000);
    book.clearDistances();
    EXPECT_EQ(book.snapshot().averageDistance, 1024000.0);
    qint64 offset = 0;
    for (int k = 0; k <= 30; ++k)   // distance k is 1000 * k
        book.readBlock(offset += 1000 * k);
    EXPECT_EQ(book.snapshot().distances.size(), 30);
    EXPECT_DOUBLE_EQ(book.snapshot().averageDistance, 15500.0);
}

TEST(FileAccessBook, IntervalsOpeningAndStatusLine)
{
    FileAccessBook book;
    EXPECT_EQ(book.snapshot().statusLine(), QStringLiteral("0 OB:0 CB:0 MBA:0 TIME: REQ:"));
    book.setDataOffset(5120);
    for (int b = 0; b < 3; ++b)
        book.readBlock(b * 131072 + 7);
    book.setOpened();
    // After opening a read counts for the interval, not for OB; a block counts once an interval
    // but again in the next one.
    for (int b = 0; b < 40; ++b)
        book.readBlock(b * 131072 + (b % 2));
    book.readBlock(0);
    EXPECT_EQ(book.tick(), 40);
    for (int b = 0; b < 12; ++b)
        book.readBlock(b * 131072);
    EXPECT_EQ(book.tick(), 12);
    EXPECT_EQ(book.tick(), 0);
    book.setTime(75);
    EXPECT_EQ(book.snapshot().history, (QList<int>{40, 12, 0}));
    EXPECT_EQ(book.snapshot().openingBlockList, (QList<int>{1, 2, 3}));
    EXPECT_EQ(book.snapshot().statusLine(), QStringLiteral("5 OB:3 CB:0 MBA:40 TIME:00:01:15 REQ:"));
    book.readBlock(262144);
    book.setRequestTime(50);
    book.setDataOffset(-1);   // a clip whose data offset is unknown
    EXPECT_EQ(book.snapshot().intervalBlocks, (QList<int>{3}));
    EXPECT_EQ(book.snapshot().statusLine(), QStringLiteral("0 OB:3 CB:0 MBA:40 TIME:00:01:15 REQ:00:00:50"));
}

} // namespace
