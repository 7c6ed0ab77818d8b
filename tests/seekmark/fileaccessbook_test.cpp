// The file access view's bookkeeping, driven call by call.
#include "seekmark/fileaccessbook.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(FileAccessBook, BlockNumbers)
{
    struct Row {
        qint64 offset;
        qint64 block;
    };
    const Row rows[] = {
        {0, 1}, {100000, 1}, {131071, 1}, {131072, 2}, {262143, 2}, {0x100000000LL, 32769},
    };
    for (const Row &row : rows)
        EXPECT_EQ(FileAccessBook::blockNumber(row.offset), row.block) << row.offset;

    FileAccessBook book;
    EXPECT_EQ(book.readBlock(0), 1);
    EXPECT_EQ(book.readBlock(100000), 1);
    EXPECT_EQ(book.readBlock(131072), 2);
    const FileAccessBook::Snapshot s = book.snapshot();
    EXPECT_EQ(s.intervalBlocks, (QList<int>{1, 2}));
    EXPECT_EQ(s.openingBlockList, (QList<int>{1, 2}));
    EXPECT_EQ(s.currentOffset, 131072);
    EXPECT_EQ(s.previousOffset, 100000);
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
        const FileAccessBook::Snapshot s = book.snapshot();
        EXPECT_EQ(s.distances, c.distances);
        EXPECT_EQ(s.averageText(), c.averageText);
    }
}

TEST(FileAccessBook, ClearingKeepsTheAverageUntilTheNextRead)
{
    FileAccessBook book;
    book.readBlock(0);
    book.readBlock(2048000);
    book.clearDistances();
    EXPECT_EQ(book.snapshot().averageDistance, 1024000.0);
    EXPECT_TRUE(book.snapshot().distances.isEmpty());
    book.readBlock(0);
    EXPECT_EQ(book.snapshot().averageDistance, 0.0);
}

TEST(FileAccessBook, KeepsTheLastThirtyDistances)
{
    FileAccessBook book;
    // Read k lands 1000 * k bytes after read k - 1, so distance k is 1000 * k.
    qint64 offset = 0;
    for (int k = 0; k <= 30; ++k) {
        offset += 1000 * k;
        book.readBlock(offset);
    }
    const FileAccessBook::Snapshot s = book.snapshot();
    ASSERT_EQ(s.distances.size(), 30);
    EXPECT_EQ(s.distances.first(), 1000);  // the first read's 0 is gone
    EXPECT_EQ(s.distances.last(), 30000);
    EXPECT_DOUBLE_EQ(s.averageDistance, 15500.0);  // mean of 1000 .. 30000
}

TEST(FileAccessBook, IntervalsAndOpening)
{
    FileAccessBook book;
    book.readBlock(0);
    book.readBlock(131072);
    book.readBlock(131072 * 2);
    book.setOpened();
    book.readBlock(131072 * 10);  // after opening: counts for the interval, not for OB
    EXPECT_EQ(book.snapshot().openingBlocks, 3);
    EXPECT_EQ(book.snapshot().openingBlockList.size(), 3);

    EXPECT_EQ(book.tick(), 4);
    book.readBlock(0);
    book.readBlock(1);
    EXPECT_EQ(book.tick(), 1);
    EXPECT_EQ(book.tick(), 0);  // a quiet interval

    const FileAccessBook::Snapshot s = book.snapshot();
    EXPECT_EQ(s.history, (QList<int>{4, 1, 0}));
    EXPECT_EQ(s.currentBlocks, 0);
    EXPECT_EQ(s.maxBlocks, 4);
    EXPECT_TRUE(s.intervalBlocks.isEmpty());
    EXPECT_EQ(s.openingBlocks, 3);

    // A block already counted in an earlier interval counts again in a new one.
    book.readBlock(0);
    EXPECT_EQ(book.snapshot().intervalBlocks, (QList<int>{1}));
}

TEST(FileAccessBook, ClockTexts)
{
    struct Row {
        qint64 seconds;
        const char *text;
    };
    const Row rows[] = {
        {0, "00:00:00"},     {75, "00:01:15"},    {3725, "01:02:05"},
        {86399, "23:59:59"}, {86400, "00:00:00"}, {86401, "00:00:01"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(FileAccessBook::clockText(row.seconds), QString::fromLatin1(row.text))
            << row.seconds;
}

TEST(FileAccessBook, StatusLine)
{
    FileAccessBook book;
    EXPECT_EQ(book.snapshot().statusLine(), QStringLiteral("0 OB:0 CB:0 MBA:0 TIME: REQ:"));

    book.setDataOffset(5120);
    for (int b = 0; b < 3; ++b)
        book.readBlock(b * 131072);
    book.setOpened();
    // An interval of 40 blocks, then one of 12.
    for (int b = 0; b < 40; ++b)
        book.readBlock(b * 131072);
    book.tick();
    for (int b = 0; b < 12; ++b)
        book.readBlock(b * 131072);
    book.tick();
    book.setTime(75);
    EXPECT_EQ(book.snapshot().statusLine(),
              QStringLiteral("5 OB:3 CB:12 MBA:40 TIME:00:01:15 REQ:"));

    book.setRequestTime(50);
    book.setDataOffset(-1);  // a clip whose data offset is unknown
    EXPECT_EQ(book.snapshot().statusLine(),
              QStringLiteral("0 OB:3 CB:12 MBA:40 TIME:00:01:15 REQ:00:00:50"));
    EXPECT_EQ(book.snapshot().requestSeconds, 50);
    EXPECT_EQ(book.snapshot().timeSeconds, 75);
}

} // namespace
