// The pieces behind the table of measured seeks: the row and its CSV line (read back by seekprobe),
// and the count of what was read for a seek. The row's life is the session's table.
#include "platform/paths.h"
#include "seektest/seekreadcounter.h"
#include "seektest/seekrow.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

SeekRow row(qint64 target, double time, double rate, bool key = true)
{
    SeekRow r;
    r.batch = QStringLiteral("2");
    r.target = r.landed = target;
    r.landedKnown = r.pictureShown = true;
    r.pictureTime = time;
    r.keyFrame = key;
    r.requestToPictureMs = 35;
    r.frameRate = rate;
    r.bytes = 65536;
    r.blocks = 1;
    return r;
}

TEST(SeekRow, LinesCarryTheErrorInSecondsAndPictures)
{
    EXPECT_EQ(SeekRow::csvHeader(), QStringLiteral("batch,target_s,landed_s,picture_s,error_s,error_pictures,"
                                                   "keyframe,request_to_picture_ms,bytes,blocks"));
    SeekRow noPicture = row(20, 0.0, 25.0);
    noPicture.pictureShown = false;
    SeekRow click = row(9, 9.04, 25.0);
    click.batch = QString::fromLatin1(SeekRow::ClickBatch);
    click.landedKnown = false;
    const std::vector<std::pair<SeekRow, const char *>> cases = {
        {row(4, 4.0, 25.0), "2,4,4,4.000,0.000,0,1,35,65536,1"},
        {row(12, 12.48, 25.0, false), "2,12,12,12.480,0.480,12,0,35,65536,1"},
        {row(7, 6.0, 25.0), "2,7,7,6.000,-1.000,-25,1,35,65536,1"},
        {row(3, 2.99999, 25.0), "2,3,3,3.000,0.000,0,1,35,65536,1"},           // never "-0.000"
        {row(10, 10.010, 30000.0 / 1001.0), "2,10,10,10.010,0.010,0,1,35,65536,1"},
        {row(5, 6.0, 0.0), "2,5,5,6.000,1.000,0,1,35,65536,1"},                // no usable rate
        {noPicture, "2,20,20,,,,,,65536,1"},
        {click, "click,9,,9.040,0.040,1,1,35,65536,1"},
    };
    for (const auto &[r, line] : cases)
        EXPECT_EQ(r.csvLine(), QString::fromLatin1(line));
    // seekprobe's columns; its parent reads the lines back.
    SeekRow verified = row(6, 6.0, 25.0);
    verified.verified = verified.exactReached = true;
    verified.contentIndex = 150;
    verified.timeIndex = 150;
    verified.exactTime = 6.0;
    SeekRow corrupt = noPicture;
    corrupt.verified = true;
    const SeekRow::Columns both{true, true};
    for (const auto &[r, line] : std::vector<std::pair<SeekRow, const char *>>{
             {verified, "2,6,6,6.000,0.000,0,1,35,65536,1,150,150,1,6.000,0,0"},
             {corrupt, "2,20,20,,,,,,65536,1,corrupt,0,0,,,"}}) {
        EXPECT_EQ(r.csvLine(both), QString::fromLatin1(line));
        SeekRow back;
        ASSERT_TRUE(SeekRow::parse(SeekRow::csvHeader(both).split(','), r.csvLine(both), back));
        back.frameRate = 25.0;
        EXPECT_EQ(back.csvLine(both), r.csvLine(both));
    }
    EXPECT_FALSE(SeekRow::parse(SeekRow::csvHeader().split(','), QStringLiteral("Average 0 MAX DIFF 0 MIN DIFF 0"), verified));
    EXPECT_EQ(paths::seekRowsFile(QStringLiteral("/tmp/x/run.2.txt")),
              QStringLiteral("/tmp/x/run.2-seeks.csv"));
    EXPECT_TRUE(paths::seekRowsFile().endsWith(QStringLiteral("/report-seeks.csv")));
}

// Reads as the driver reports them: offset and requested size, then a short read's actual count.
TEST(SeekReadCounter, CountsHeldBytesAndEveryBlockTouched)
{
    const qint64 B = 131072;
    struct Case {
        const char *what;
        qint64 fileSize;   // -1: no fileOpened report
        std::vector<std::array<qint64, 3>> reads;   // offset, size, got (-2: no readFailed)
        qint64 bytes;
        int blocks;
    };
    const std::vector<Case> cases = {
        {"across a block boundary", 10 * B, {{B - 100, 32768, -2}}, 32768, 2},
        {"up to a boundary", 10 * B, {{B - 32768, 32768, -2}}, 32768, 1},
        {"one block twice", 10 * B, {{0, 32768, -2}, {32768, 32768, -2}}, 65536, 1},
        {"past the end: what the file holds", B + 1000, {{B, 32768, -2}}, 1000, 1},
        {"wholly past the end", 1000, {{4000, 32768, -2}}, 0, 0},
        {"size unknown: as asked", -1, {{0, 32768, -2}}, 32768, 1},
        {"short read: what came", 10 * B, {{0, 32768, 1000}}, 1000, 1},
        {"failed read: nothing", 10 * B, {{0, 32768, -1}}, 0, 1},
    };
    for (const Case &c : cases) {
        SeekReadCounter counter;
        if (c.fileSize >= 0)
            counter.fileOpened(c.fileSize);
        for (const auto &[offset, size, got] : c.reads) {
            counter.readBlock(offset, size);
            if (got != -2)
                counter.readFailed(offset, size, got);
        }
        EXPECT_EQ(counter.count().bytes, c.bytes) << c.what;
        EXPECT_EQ(counter.count().blocks, c.blocks) << c.what;
        counter.restart();
        EXPECT_EQ(counter.count().bytes + counter.count().blocks, 0) << c.what;
    }
}

} // namespace
