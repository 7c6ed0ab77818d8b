// The file access window: reads arriving from another thread while the GUI thread ticks and
// paints, its debug lines, and its painting read back.
#include "seekmark/fileaccessview.h"
#include "tests/common/messagelog.h"
#include "seekmark/fileaccessbook.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <atomic>
#include <thread>
#include <vector>

namespace {

// Every block read once from a decoder thread: however reads and ticks interleave, the intervals
// add up to all of them, none lost or counted twice, each with its debug line.
TEST(FileAccessView, ReadsFromAnotherThreadWhileTheGuiTicksAndPaints)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        GTEST_SKIP() << "needs a display";
    FileAccessView view(600, 50, nullptr);
    constexpr int Blocks = 20000;
    view.fileOpened(qint64(Blocks) * FileAccessBook::BlockSize);
    testsupport::MessageLog debug{QStringList()};
    view.readBlock(262149, 4096);
    view.tick();
    EXPECT_EQ(debug.lines(), (QStringList{"FileAccessView::READ BLOCK 3 OFFSET 262149", "Blocks 1"}));
    // The bar at three quarters of the file: two white columns, full height, on grey, on top of
    // the storage label; the status line in yellow at the top; the longest label in cyan right of
    // the average and inside the right margin.
    view.readBlock(qint64(Blocks) * FileAccessBook::BlockSize * 3 / 4, 4096);
    view.setStorageProfile(StorageProfile(StorageProfile::Kind::NetworkShare));
    const QImage image = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int y : {0, 25, 49})
        EXPECT_TRUE(image.pixel(450, y) == qRgb(255, 255, 255) && image.pixel(451, y) == qRgb(255, 255, 255)) << y;
    EXPECT_EQ(image.pixel(452, 45), qRgb(153, 153, 153));
    auto count = [&](QRect r, int red, int green, int blue) {
        int n = 0;
        for (int x = r.left(); x <= r.right(); ++x)
            for (int y = r.top(); y <= r.bottom(); ++y)
                n += (qRed(image.pixel(x, y)) > 200) == red && (qGreen(image.pixel(x, y)) > 200) == green && (qBlue(image.pixel(x, y)) > 200) == blue;
        return n;
    };
    EXPECT_GT(count(QRect(10, 0, 250, 11), 1, 1, 0), 20);
    EXPECT_GT(count(QRect(300, 14, 290, 20), 0, 1, 1), 20);
    EXPECT_EQ(count(QRect(0, 0, 90, 50), 0, 1, 1) + count(QRect(590, 0, 10, 50), 0, 1, 1), 0);
    view.tick();
    debug.clear();

    std::atomic<bool> done{false};
    std::thread decoder([&] {
        for (int b = 0; b < Blocks; ++b)
            view.readBlock(qint64(b) * FileAccessBook::BlockSize, 4096);
        done = true;
    });
    QImage scratch(600, 50, QImage::Format_RGB32);
    for (const QDeadlineTimer deadline(120000); !done && !deadline.hasExpired();) {
        view.tick();
        view.render(&scratch);
        QCoreApplication::processEvents();
    }
    decoder.join();
    view.tick();
    const FileAccessBook::Snapshot s = view.book().snapshot();
    int total = 0;
    for (int n : s.history.mid(2))
        total += n;
    EXPECT_EQ(total, Blocks);
    EXPECT_EQ(s.currentOffset, qint64(Blocks - 1) * FileAccessBook::BlockSize);
    EXPECT_EQ(debug.lines().filter(QStringLiteral("FileAccessView::READ BLOCK")).size(), Blocks);
}

// The file access view's bookkeeping, driven call by call.

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
