// The file access window: reads arriving from another thread while the GUI thread ticks and
// paints, its debug lines, and its painting read back.
#include "seekmark/fileaccessview.h"

#include "tests/common/messagelog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>

#include <atomic>
#include <thread>

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

} // namespace
