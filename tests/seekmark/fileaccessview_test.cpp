// The file access window: its painting read back from an image, and reads arriving from another
// thread while the GUI thread ticks and paints.
#include "seekmark/fileaccessview.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <QPainter>

#include <QMutex>
#include <QStringList>

#include <atomic>
#include <thread>

namespace {

const QRgb Grey = qRgb(153, 153, 153);
const QRgb White = qRgb(255, 255, 255);
const QRgb ChartBlue = qRgb(2, 0, 250);

// Widgets and text need a GUI application, which the test main makes only with a display.
bool haveGui()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

// Collects the debug lines while alive (from any thread), instead of printing them.
class DebugLines {
public:
    DebugLines() { s_Previous = qInstallMessageHandler(&DebugLines::handler); }
    ~DebugLines()
    {
        qInstallMessageHandler(s_Previous);
        QMutexLocker lock(&s_Mutex);
        s_Lines.clear();
    }
    QStringList lines() const
    {
        QMutexLocker lock(&s_Mutex);
        return s_Lines;
    }

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &text)
    {
        QMutexLocker lock(&s_Mutex);
        s_Lines.append(text);
    }
    static inline QMutex s_Mutex;
    static inline QStringList s_Lines;
    static inline QtMessageHandler s_Previous = nullptr;
};

QImage paintBook(const FileAccessBook &book, int w = 600, int h = 50)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    FileAccessView::paintSnapshot(painter, book.snapshot(), image.size());
    painter.end();
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

TEST(FileAccessView, PlainGreyBeforeAFileIsOpen)
{
    if (!haveGui())
        GTEST_SKIP() << "needs a display";
    FileAccessBook book;
    book.readBlock(500);
    book.setTime(75);
    const QImage image = paintBook(book);
    EXPECT_EQ(countPixels(image, image.rect(), [](QRgb c) { return c != Grey; }), 0);
}

TEST(FileAccessView, BarTextsAndChart)
{
    if (!haveGui())
        GTEST_SKIP() << "needs a display";
    FileAccessBook book;
    book.fileOpened(1000);
    // Intervals of 10, 20 and 30 distinct blocks, then a read in the middle of the file.
    const int counts[] = {10, 20, 30};
    for (int n : counts) {
        for (int b = 0; b < n; ++b)
            book.readBlock(qint64(b) * FileAccessBook::BlockSize);
        book.tick();
    }
    book.readBlock(500);
    book.setTime(3725);
    const QImage image = paintBook(book);

    // The bar: x = 500 / 1000 * 600 = 300, two columns, full height.
    for (int y : {0, 25, 49}) {
        EXPECT_EQ(image.pixel(300, y), White) << "y " << y;
        EXPECT_EQ(image.pixel(301, y), White) << "y " << y;
    }
    EXPECT_EQ(image.pixel(299, 45), Grey);
    EXPECT_EQ(image.pixel(302, 45), Grey);
    EXPECT_EQ(image.pixel(599, 45), Grey);

    // The status line in yellow above y = 10, the average text in the painter's pen (black on an
    // image) above y = 30; neither anywhere near the bottom rows.
    auto yellowish = [](QRgb c) { return qRed(c) > 200 && qGreen(c) > 200 && qBlue(c) < 80; };
    auto dark = [](QRgb c) { return qRed(c) < 60 && qGreen(c) < 60 && qBlue(c) < 60; };
    EXPECT_GT(countPixels(image, QRect(10, 0, 250, 11), yellowish), 20);
    EXPECT_GT(countPixels(image, QRect(10, 14, 60, 17), dark), 5);
    EXPECT_EQ(countPixels(image, QRect(0, 32, 600, 18), yellowish), 0);

    // The chart: history 10, 20, 30 goes from 40 pixels down to 20 at x 0 .. 2.
    auto blue = [](QRgb c) { return c == ChartBlue; };
    EXPECT_GT(countPixels(image, QRect(0, 39, 1, 3), blue), 0) << "x 0 near y 40";
    EXPECT_GT(countPixels(image, QRect(1, 29, 1, 3), blue), 0) << "x 1 near y 30";
    EXPECT_GT(countPixels(image, QRect(2, 19, 1, 3), blue), 0) << "x 2 near y 20";
    EXPECT_EQ(countPixels(image, QRect(3, 0, 297, 50), blue), 0) << "nothing past the history";
}

TEST(FileAccessView, StorageInCyanRightOfTheAverageUnderTheBar)
{
    if (!haveGui())
        GTEST_SKIP() << "needs a display";
    auto cyan = [](QRgb c) { return qRed(c) < 80 && qGreen(c) > 200 && qBlue(c) > 200; };

    FileAccessBook book;
    book.fileOpened(1000);
    book.readBlock(750);   // the bar at x = 450, inside the text
    EXPECT_EQ(countPixels(paintBook(book), QRect(0, 0, 600, 50), cyan), 0) << "no storage set";

    // The longest label fits between the average and the right edge, on the average's line.
    book.setStorage(StorageProfile(StorageProfile::Kind::NetworkShare).label());
    const QImage image = paintBook(book);
    EXPECT_GT(countPixels(image, QRect(300, 14, 290, 20), cyan), 20);
    EXPECT_EQ(countPixels(image, QRect(0, 0, 90, 50), cyan), 0) << "over the average";
    EXPECT_EQ(countPixels(image, QRect(0, 36, 600, 14), cyan), 0) << "over the chart";
    EXPECT_EQ(countPixels(image, QRect(590, 0, 10, 50), cyan), 0) << "past the right margin";
    for (int y : {20, 25, 30}) {
        EXPECT_EQ(image.pixel(450, y), White) << "y " << y;
        EXPECT_EQ(image.pixel(451, y), White) << "y " << y;
    }
}

TEST(FileAccessView, WindowDebugLinesAndPainting)
{
    if (!haveGui())
        GTEST_SKIP() << "needs a display";
    FileAccessView view(600, 50, nullptr);
    EXPECT_EQ(view.windowTitle(), QStringLiteral("File access"));
    EXPECT_EQ(view.size(), QSize(600, 50));

    view.fileOpened(1000);
    {
        DebugLines debug;
        view.readBlock(0, 4096);
        view.readBlock(262149, 4096);
        view.tick();
        EXPECT_EQ(debug.lines(), (QStringList{"FileAccessView::READ BLOCK 1 OFFSET 0",
                                              "FileAccessView::READ BLOCK 3 OFFSET 262149",
                                              "Blocks 2"}));
    }
    EXPECT_EQ(view.book().snapshot().history, (QList<int>{2}));
    view.readBlock(0, 4096);

    // The widget paints the same picture as the painting function.
    const QImage grabbed = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(grabbed.pixel(5, 45), Grey);
    EXPECT_EQ(grabbed.pixel(0, 25), White);  // offset 0: the bar sits at the left edge
    EXPECT_EQ(grabbed.pixel(1, 25), White);
}

TEST(FileAccessView, ReadsFromAnotherThreadWhileTheGuiTicksAndPaints)
{
    if (!haveGui())
        GTEST_SKIP() << "needs a display";
    FileAccessView view(600, 50, nullptr);
    view.fileOpened(qint64(20000) * FileAccessBook::BlockSize);

    // Every block read once: however reads and ticks interleave, the intervals add up to all of
    // them, and none is lost or counted twice.
    constexpr int Blocks = 20000;
    DebugLines debug;
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
    ASSERT_TRUE(done) << "the reading thread did not finish in time";
    view.tick();
    QCoreApplication::processEvents();

    const FileAccessBook::Snapshot s = view.book().snapshot();
    int total = 0;
    for (int n : s.history)
        total += n;
    EXPECT_EQ(total, Blocks);
    EXPECT_EQ(s.currentOffset, qint64(Blocks - 1) * FileAccessBook::BlockSize);
    EXPECT_EQ(s.openingBlockList.size(), Blocks);
    EXPECT_EQ(debug.lines().filter(QStringLiteral("FileAccessView::READ BLOCK")).size(), Blocks);
}

} // namespace
