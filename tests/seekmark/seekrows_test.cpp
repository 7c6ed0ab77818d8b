// The pieces behind the table of measured seeks: the choice of targets, the row and its CSV line
// (read back by seekprobe), and the count of what was read for a seek. The row's life and the
// batch statistics are the session's table.
#include "platform/paths.h"
#include "seektest/seekreadcounter.h"
#include "seektest/seekrow.h"
#include "seektest/seekstats.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

TEST(SeekStats, Targets)
{
    // Random seconds leave out the last 30 of the clip; clips of 30 s or less have none.
    for (const auto &[random, duration, seconds] : std::vector<std::tuple<int, qint64, int>>{
             {41, 100, 41}, {70, 100, 0}, {69, 100, 69}, {12345, 31, 0}, {5, 30, -1}, {5, -1, -1}, {-3, 100, 67}}) {
        const SeekStats::Target t = SeekStats::randomTarget(random, duration);
        EXPECT_EQ(t.valid ? t.seconds : -1, seconds) << random << " in " << duration;
        EXPECT_TRUE(t.reason.isEmpty() == t.valid && !t.reason.contains(QLatin1Char('\n')));
    }
    // The last column is never the duration itself; 90 * 0.7 is 62.99999... in doubles; outside:
    // the nearest edge; no width, no duration.
    for (const auto &[duration, x, width, seconds] : std::vector<std::tuple<qint64, int, int, qint64>>{
             {100, 320, 640, 50}, {100, 639, 640, 99}, {90, 448, 640, 63}, {100, 700, 640, 99}, {100, -5, 640, 0}, {100, 10, 0, 0}, {0, 300, 640, 0}})
        EXPECT_EQ(SeekStats::clickTarget(duration, x, width), seconds) << duration << " s, x " << x << " of " << width;
}

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
    // Never "-0.000"; 29.97 fps; no usable rate.
    for (const auto &[r, line] : std::vector<std::pair<SeekRow, const char *>>{
             {row(12, 12.48, 25.0, false), "2,12,12,12.480,0.480,12,0,35,65536,1"}, {row(7, 6.0, 25.0), "2,7,7,6.000,-1.000,-25,1,35,65536,1"},
             {row(3, 2.99999, 25.0), "2,3,3,3.000,0.000,0,1,35,65536,1"}, {row(10, 10.010, 30000.0 / 1001.0), "2,10,10,10.010,0.010,0,1,35,65536,1"},
             {row(5, 6.0, 0.0), "2,5,5,6.000,1.000,0,1,35,65536,1"}, {noPicture, "2,20,20,,,,,,65536,1"}, {click, "click,9,,9.040,0.040,1,1,35,65536,1"}})
        EXPECT_EQ(r.csvLine(), QString::fromLatin1(line));
    // seekprobe's columns; its parent reads the lines back.
    SeekRow verified = row(6, 6.0, 25.0);
    verified.verified = verified.exactReached = true;
    verified.contentIndex = verified.timeIndex = 150;
    verified.exactTime = 6.0;
    SeekRow corrupt = noPicture;
    corrupt.verified = true;
    const SeekRow::Columns both{true, true};
    for (const auto &[r, line] : std::vector<std::pair<SeekRow, const char *>>{
             {verified, "2,6,6,6.000,0.000,0,1,35,65536,1,150,150,1,6.000,0,0"}, {corrupt, "2,20,20,,,,,,65536,1,corrupt,0,0,,,"}}) {
        EXPECT_EQ(r.csvLine(both), QString::fromLatin1(line));
        SeekRow back;
        ASSERT_TRUE(SeekRow::parse(SeekRow::csvHeader(both).split(','), r.csvLine(both), back));
        back.frameRate = 25.0;
        EXPECT_EQ(back.csvLine(both), r.csvLine(both));
    }
    EXPECT_FALSE(SeekRow::parse(SeekRow::csvHeader().split(','), QStringLiteral("Average 0 MAX DIFF 0 MIN DIFF 0"), verified));
    EXPECT_EQ(paths::seekRowsFile(QStringLiteral("/tmp/x/run.2.txt")), QStringLiteral("/tmp/x/run.2-seeks.csv"));
}

// Reads as the driver reports them: offset and requested size, then a short read's actual count.
TEST(SeekReadCounter, CountsHeldBytesAndEveryBlockTouched)
{
    const qint64 B = 131072;
    // file size (-1: no fileOpened report); reads of offset, size, got (-2: no readFailed); bytes, blocks
    const std::tuple<qint64, std::vector<std::array<qint64, 3>>, qint64, int> cases[] = {
        {10 * B, {{B - 100, 32768, -2}}, 32768, 2},                    // across a block boundary
        {10 * B, {{B - 32768, 32768, -2}}, 32768, 1},                  // up to a boundary
        {10 * B, {{0, 32768, -2}, {32768, 32768, -2}}, 65536, 1},      // one block twice
        {B + 1000, {{B, 32768, -2}}, 1000, 1},                         // past the end: what the file holds
        {1000, {{4000, 32768, -2}}, 0, 0},                             // wholly past the end
        {-1, {{0, 32768, -2}}, 32768, 1},                              // size unknown: as asked
        {10 * B, {{0, 32768, 1000}}, 1000, 1},                         // short read: what came
        {10 * B, {{0, 32768, -1}}, 0, 1},                              // failed read: nothing
    };
    for (const auto &[fileSize, reads, bytes, blocks] : cases) {
        SeekReadCounter counter;
        if (fileSize >= 0)
            counter.fileOpened(fileSize);
        for (const auto &[offset, size, got] : reads) {
            counter.readBlock(offset, size);
            if (got != -2)
                counter.readFailed(offset, size, got);
        }
        EXPECT_EQ(std::pair(counter.count().bytes, counter.count().blocks), std::pair(bytes, blocks)) << fileSize << " " << reads[0][0];
        counter.restart();
        EXPECT_EQ(counter.count().bytes + counter.count().blocks, 0);
    }
}

} // namespace
