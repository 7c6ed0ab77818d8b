// The file access window: its painting read back from an image, and reads arriving from another
// thread while the GUI thread ticks and paints.
#include "seekmark/fileaccessview.h"

#include "tests/common/messagelog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <QPainter>

#include <atomic>
#include <thread>

namespace {

const QRgb Grey = qRgb(153, 153, 153);
const QRgb White = qRgb(255, 255, 255);

// Widgets and text need a GUI application, which the test main makes only with a display.
bool haveGui()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

QImage paintBook(const FileAccessBook &book)
{
    QImage image(600, 50, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    FileAccessView::paintSnapshot(painter, book.snapshot(), image.size());
    return image;
}

int countPixels(const QImage &image, const QRect &area, bool (*match)(QRgb))
{
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += match(image.pixel(x, y)) ? 1 : 0;
    return n;
}

bool yellowish(QRgb c) { return qRed(c) > 200 && qGreen(c) > 200 && qBlue(c) < 80; }
bool cyan(QRgb c) { return qRed(c) < 80 && qGreen(c) > 200 && qBlue(c) > 200; }
bool chartBlue(QRgb c) { return c == qRgb(2, 0, 250); }
bool notGrey(QRgb c) { return c != Grey; }

TEST(FileAccessView, PaintsBarTextsChartAndStorage)
{
    if (!haveGui())
        GTEST_SKIP() << "needs a display";
    FileAccessBook book;
    book.readBlock(500);
    book.setTime(75);
    EXPECT_EQ(countPixels(paintBook(book), QRect(0, 0, 600, 50), notGrey), 0) << "plain grey before a file opens";

    // Intervals of 10, 20 and 30 blocks, then a read at three quarters of the file.
    book.fileOpened(1000);
    for (int n : {10, 20, 30}) {
        for (int b = 0; b < n; ++b)
            book.readBlock(qint64(b) * FileAccessBook::BlockSize);
        book.tick();
    }
    book.readBlock(750);
    book.setTime(3725);
    QImage image = paintBook(book);
    // The bar: two white columns at 750 / 1000 * 600, full height.
    for (int y : {0, 25, 49})
        EXPECT_TRUE(image.pixel(450, y) == White && image.pixel(451, y) == White) << "y " << y;
    EXPECT_TRUE(image.pixel(449, 45) == Grey && image.pixel(452, 45) == Grey);
    // The status line in yellow at the top.
    EXPECT_GT(countPixels(image, QRect(10, 0, 250, 11), yellowish), 20);
    // The chart: history 10, 20, 30 goes from 40 pixels down to 20 at x 0 .. 2, and no further.
    for (int x : {0, 1, 2})
        EXPECT_GT(countPixels(image, QRect(x, 39 - 10 * x, 1, 3), chartBlue), 0) << "x " << x;
    EXPECT_EQ(countPixels(image, QRect(3, 0, 297, 50), chartBlue), 0);

    // The longest storage label in cyan right of the average, above the chart, inside the
    // margin; the bar stays on top of it.
    book.setStorage(StorageProfile(StorageProfile::Kind::NetworkShare).label());
    image = paintBook(book);
    EXPECT_GT(countPixels(image, QRect(300, 14, 290, 20), cyan), 20);
    EXPECT_EQ(countPixels(image, QRect(0, 0, 90, 50), cyan), 0) << "over the average";
    EXPECT_EQ(countPixels(image, QRect(0, 36, 600, 14), cyan), 0) << "over the chart";
    EXPECT_EQ(countPixels(image, QRect(590, 0, 10, 50), cyan), 0) << "past the right margin";
    for (int y : {20, 25, 30})
        EXPECT_TRUE(image.pixel(450, y) == White && image.pixel(451, y) == White) << "y " << y;
}

// Every block read once from a decoder thread: however reads and ticks interleave, the intervals
// add up to all of them, none lost or counted twice, each with its debug line.
TEST(FileAccessView, ReadsFromAnotherThreadWhileTheGuiTicksAndPaints)
{
    if (!haveGui())
        GTEST_SKIP() << "needs a display";
    FileAccessView view(600, 50, nullptr);
    constexpr int Blocks = 20000;
    view.fileOpened(qint64(Blocks) * FileAccessBook::BlockSize);
    testsupport::MessageLog debug{QStringList()};
    view.readBlock(262149, 4096);
    view.tick();
    EXPECT_EQ(debug.lines(), (QStringList{"FileAccessView::READ BLOCK 3 OFFSET 262149", "Blocks 1"}));
    // The widget paints what the painting function does: the bar at offset 0 on the left edge.
    view.readBlock(0, 4096);
    const QImage grabbed = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(grabbed.pixel(5, 45), Grey);
    EXPECT_TRUE(grabbed.pixel(0, 25) == White && grabbed.pixel(1, 25) == White);
    view.tick();
    debug.clear();

    std::atomic<bool> done{false};
    std::thread decoder([&] {
        for (int b = 0; b < Blocks; ++b)
            view.readBlock(qint64(b) * FileAccessBook::BlockSize, 4096);
        done = true;
    });
    QImage image(600, 50, QImage::Format_RGB32);
    const QDeadlineTimer deadline(120000);
    while (!done && !deadline.hasExpired()) {
        view.tick();
        view.render(&image);
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
