// The file access view's bookkeeping, driven call by call.
#include "seekmark/fileaccessbook.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(FileAccessBook, BlockNumbersAndClockTexts)
{
    const std::pair<qint64, qint64> blocks[] = {{0, 1}, {131071, 1}, {131072, 2}, {262143, 2}, {0x100000000LL, 32769}};
    for (const auto &[offset, block] : blocks)
        EXPECT_EQ(FileAccessBook::blockNumber(offset), block) << offset;
    // A day wraps round.
    const std::pair<qint64, const char *> clocks[] = {{0, "00:00:00"}, {3725, "01:02:05"}, {86399, "23:59:59"},
                                                      {86400, "00:00:00"}, {86401, "00:00:01"}};
    for (const auto &[seconds, text] : clocks)
        EXPECT_EQ(FileAccessBook::clockText(seconds), QString::fromLatin1(text)) << seconds;
}

TEST(FileAccessBook, Distances)
{
    struct Case {
        const char *name;
        std::vector<qint64> reads;
        bool clearBeforeLast;
        QList<qint64> distances;
        QString averageText;
    };
    const std::vector<Case> cases = {
        {"first read", {4096}, false, {0}, "0"},
        {"one jump", {0, 1000000}, false, {0, 1000000}, "488.281"},
        {"backwards counts alike", {1000000, 0}, false, {0, 1000000}, "488.281"},
        {"after clearing", {0, 5000000}, true, {0}, "0"},
        // Across the 2 GiB boundary the low words wrap; a short jump still measures right.
        {"short jump across 2 GiB", {0x7FFFFFF0LL, 0x80000010LL}, false, {0, 0x20}, "0.015625"},
        {"short jump across 4 GiB", {0xFFFFFF00LL, 0x100000100LL}, false, {0, 0x200}, "0.25"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FileAccessBook book;
        for (size_t i = 0; i < c.reads.size(); ++i) {
            if (c.clearBeforeLast && i + 1 == c.reads.size())
                book.clearDistances();
            book.readBlock(c.reads[i]);
        }
        EXPECT_EQ(book.snapshot().distances, c.distances);
        EXPECT_EQ(book.snapshot().averageText(), c.averageText);
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
    const FileAccessBook::Snapshot s = book.snapshot();
    ASSERT_EQ(s.distances.size(), 30);
    EXPECT_EQ(s.distances.first(), 1000);
    EXPECT_DOUBLE_EQ(s.averageDistance, 15500.0);
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
    FileAccessBook::Snapshot s = book.snapshot();
    EXPECT_EQ(s.history, (QList<int>{40, 12, 0}));
    EXPECT_EQ(s.openingBlockList, (QList<int>{1, 2, 3}));
    EXPECT_TRUE(s.intervalBlocks.isEmpty());
    EXPECT_EQ(s.statusLine(), QStringLiteral("5 OB:3 CB:0 MBA:40 TIME:00:01:15 REQ:"));

    book.readBlock(262144);
    book.setRequestTime(50);
    book.setDataOffset(-1);   // a clip whose data offset is unknown
    s = book.snapshot();
    EXPECT_EQ(s.intervalBlocks, (QList<int>{3}));
    EXPECT_EQ(s.previousOffset, 131072 * 11);
    EXPECT_EQ(s.statusLine(), QStringLiteral("0 OB:3 CB:0 MBA:40 TIME:00:01:15 REQ:00:00:50"));
}

} // namespace
