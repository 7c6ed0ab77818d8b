// The life of a seek measurement by table: scripted events with the time, the clock and the random
// draws given by the test, and the actions the session answers, written out as text.
#include "seektest/seeksession.h"
#include "platform/paths.h"
#include "seektest/seekreadcounter.h"
#include "seektest/seekrow.h"
#include "seektest/seekstats.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <array>
#include <tuple>
#include <vector>

namespace {

using Kind = SeekSession::Action::Kind;

QString text(const SeekSession::Actions &actions)
{
    QStringList out;
    for (const SeekSession::Action &a : actions)
        out << (a.kind == Kind::SeekTo       ? QStringLiteral("%1seek %2").arg(a.click ? "click-" : "").arg(a.seconds)
                : a.kind == Kind::ReportLine ? QStringLiteral("report: ") + a.text
                : a.kind == Kind::Row        ? QStringLiteral("row: ") + a.row.csvLine()
                : a.kind == Kind::Reopen     ? QStringLiteral("reopen")
                : a.kind == Kind::Retitle    ? QStringLiteral("title: ") + a.text
                                             : a.text);
    return out.join(QStringLiteral(" | "));
}

// One event: what, at which monotonic ms, the clock in ms, and an argument (a click's x of 640
// pixels, a picture's time, seekDone's still-pending flag); expect: the actions, "" for none,
// null for "not checked".
struct Step {
    const char *event;
    qint64 now;
    qint64 clock;
    double arg;
    const char *expect;
};

struct Script {
    SeekSession &session;
    SeekSession::Clip clip;

    QString run(const Step &s)
    {
        const QString e = QString::fromLatin1(s.event);
        const SeekSession::Actions out = e == "open" ? session.opened(clip, s.now) : e == "close" ? session.closing()
            : e == "T" ? session.keyT(s.now) : e == "P" ? session.paused() : e == "click" ? session.rightClick(s.now, int(s.arg), 640)
            : e == "seek" ? session.seekTo(s.now, qint64(s.arg)) : e == "done" ? session.seekDone(s.clock, s.arg != 0)
            : e == "failed" ? session.seekFailed(s.now) : e == "tick" ? session.tick(s.now, s.clock)
            : e == "picture" ? session.pictureShown(s.now, s.clock, s.arg, true) : session.finish();
        // The caller hands each seek to the decoder and tells the session, as the window does.
        for (const SeekSession::Action &a : out)
            if (a.kind == Kind::SeekTo)
                session.seekStarted(s.now, s.clock);
        return text(out);
    }
};

SeekSession::Clip clip(qint64 seconds, bool sound, const char *failure = nullptr)
{
    SeekSession::Clip c;
    c.opened = !failure;
    c.failure = QString::fromLatin1(failure ? failure : "");
    c.durationMs = seconds * 1000 + 400;
    c.frameRate = 25.0;
    c.hasAudio = sound;
    return c;
}

// A batch under way: opened, T, the first seek asked for at 5000 ms of the clock.
std::vector<Step> running(std::vector<Step> steps)
{
    steps.insert(steps.begin(), {{"open", 0, 0, 0, nullptr}, {"T", 0, 0, 0, nullptr}, {"tick", 5, 5000, 0, nullptr}});
    return steps;
}

TEST(SeekSession, Scripts)
{
    struct Case {
        const char *name;
        SeekSession::Clip clip;
        bool probe;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"a short clip refuses the run and plays on", clip(8, true), false,
         {{"open", 0, 0, 0, "title: "},
          {"T", 10, 0, 0, "seek test needs a clip longer than 30 s (this one: 8 s) | title: seek test needs a clip longer than 30 s (this one: 8 s)"},
          {"tick", 2000, 900, 0, ""}}},
        // The old block plays on after the request; the landing is the first clock change after seekDone.
        {"with sound the run lands after seekDone; the row waits for nothing more", clip(40, true), false,
         {{"open", 0, 0, 0, nullptr}, {"T", 1000, 0, 0, "seek test started | title: seek test: batch 1, seek 1/21"},
          {"tick", 1005, 5000, 0, "richiedo 7 | seek 7 | title: seek test: batch 1, seek 1/21"}, {"tick", 1010, 5040, 0, ""},
          {"picture", 1020, 5040, 7.0, ""}, {"done", 1030, 7000, 0, "ora sono su  7 | sono -7"}, {"tick", 1040, 7000, 0, ""},
          {"tick", 1050, 7021, 0, "sono su  7 | Average 0 0 0 | row: 1,7,7,7.000,0.000,0,1,15,0,0 | title: seek test: batch 1, seek 2/21"},
          {"tick", 1299, 7300, 0, ""}, {"tick", 1300, 7321, 0, "richiedo 7 | seek 7 | title: seek test: batch 1, seek 2/21"}}},
        {"a seekDone of an earlier seek is no acknowledgement", clip(40, true), false, running({{"done", 6, 5000, 1, "ora sono su  5 | sono -5"}, {"tick", 10, 9000, 0, ""},
          {"done", 11, 9000, 0, nullptr}, {"tick", 12, 9021, 0, "sono su  9 | FORWARD | Average 2 2 2 | title: seek test: batch 1, seek 2/21"}})},
        // A later acknowledgement (of a seek the decoder made on its own) does not move the baseline.
        {"only the first seekDone counts", clip(40, true), false, running({{"done", 6, 30000, 0, nullptr}, {"done", 7, 30021, 0, nullptr}, {"tick", 12, 30021, 0, "sono su  30 | FORWARD | Average 23 23 23 | title: seek test: batch 1, seek 2/21"}})},
        {"without sound the first clock change lands; late counts like early", clip(40, false), false, running({{"tick", 40, 5000, 0, ""}, {"tick", 80, 4000, 0, "sono su  4 | Average 3 3 3 | title: seek test: batch 1, seek 2/21"}})},
        {"a clock outside the clip is no landing", clip(40, false), false, running({{"tick", 40, 41000, 0, ""}, {"tick", 50, -40, 0, ""}, {"tick", 60, 7000, 0, "sono su  7 | Average 0 0 0 | title: seek test: batch 1, seek 2/21"}})},
        {"no landing within 5 s fails the seek; a failed seek from the decoder too; three in a row end the run", clip(40, true), false,
         {{"open", 0, 0, 0, nullptr}, {"T", 0, 0, 0, nullptr}, {"tick", 5, 5000, 0, "richiedo 7 | seek 7 | title: seek test: batch 1, seek 1/21"},
          {"tick", 5005, 5500, 0, ""},
          {"tick", 5006, 5500, 0, "seek to 7 did not land within 5000 ms: no seekDone - failed seeks: 1 | title: seek test: batch 1, seek 1/21, 1 failed"},
          {"tick", 5256, 5500, 0, "richiedo 7 | seek 7 | title: seek test: batch 1, seek 1/21, 1 failed"}, {"done", 5260, 7000, 0, nullptr},
          {"tick", 10257, 7000, 0, "seek to 7 did not land within 5000 ms: the clock did not move - failed seeks: 2 | title: seek test: batch 1, seek 1/21, 2 failed"},
          {"tick", 10507, 7000, 0, nullptr},
          {"failed", 10510, 7000, 0, "seek to 7 failed: the decoder could not seek - failed seeks: 3 | seek test stopped: 3 seeks in a row did not land | title: seek test stopped: 3 seeks in a row did not land"},
          {"tick", 20000, 7000, 0, ""}}},
        {"P ends the run and the seek on its way is not measured", clip(40, true), false, running({{"picture", 9, 5000, 7.0, ""}, {"P", 10, 5000, 0, "seek test stopped | title: "},
          {"done", 20, 7000, 0, nullptr}, {"tick", 30, 7021, 0, ""}})},
        // Without sound the picture moves the clock: the click's row gets its picture, then its landing.
        {"a right click seeks to the clicked fraction and measures its row", clip(40, false), false,
         {{"open", 0, 0, 0, nullptr}, {"click", 100, 3000, 320, "click-seek 20 | vado sono su  20 | seek asked at 100"}, {"tick", 105, 3000, 0, ""},
          {"picture", 140, 20000, 20.0, ""}, {"tick", 145, 20000, 0, "row: click,20,20,20.000,0.000,0,1,40,0,0"},
          {"click", 200, 20000, 639, "click-seek 39 | vado sono su  39 | seek asked at 200"},
          {"click", 210, 20000, 0, "click-seek 0 | vado sono su  0 | seek asked at 210"}, {"done", 211, 0, 0, "ora sono su  0 | sono 0"}}},
        {"a right click ends a run", clip(40, true), false, running({{"click", 10, 5000, 160, "seek test stopped | title:  | click-seek 10 | vado sono su  10 | seek asked at 10"}})},
        {"a clip that does not open says why; T and clicks do nothing", clip(40, true, "no video stream"), false,
         {{"open", 0, 0, 0, "title: cannot open: no video stream"}, {"T", 10, 0, 0, ""}, {"click", 20, 0, 300, ""}}},
        // Closing with a seek on its way: the run is neither failed nor stuck waiting.
        {"a reopen abandons the seek on its way", clip(40, false), false, running({{"close", 10, 0, 0, ""}, {"open", 20, 0, 0, "title: seek test: batch 1, seek 1/21"},
          {"tick", 30, 0, 0, "richiedo 7 | seek 7 | title: seek test: batch 1, seek 1/21"}})},
        // seekprobe: the first picture is the landing, even on the second the clock showed before.
        {"headless: the first picture lands; a seek without one keeps its row; the short batch gets its line", clip(40, false), true,
         {{"open", 0, 0, 0, nullptr}, {"seek", 10, 8000, 8, "richiedo 8 | seek 8"},
          {"picture", 30, 8000, 8.0, "sono su  8 | Average 0 0 0 | row: 1,8,8,8.000,0.000,0,1,20,0,0 | title: "},
          {"seek", 40, 8000, 12, "richiedo 12 | seek 12"},
          {"failed", 10040, 8000, 0, "row: 1,12,,,,,,,0,0 | seek to 12 failed: the decoder could not seek - failed seeks: 1 | title: "},
          {"finish", 10050, 8000, 0, "report: Average 0 MAX DIFF 0 MIN DIFF 0"}, {"finish", 10060, 8000, 0, ""}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SeekSession::Options options;
        options.landOnFirstPicture = options.rowForEverySeek = c.probe;
        SeekSession session(nullptr, options, [] { return 17; });
        Script script{session, c.clip};
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const QString got = script.run(c.steps[i]);
            if (c.steps[i].expect)
                EXPECT_EQ(got, QString::fromLatin1(c.steps[i].expect)) << "step " << i << " (" << c.steps[i].event << ")";
        }
    }
}

// A batch of 21 landings: the report line, then the reopen. With sound the last landing can come
// before its picture: the reopen waits for it (or 2 s), and a click meanwhile reopens first and
// seeks in the fresh clip.
TEST(SeekSession, BatchReportsAndReopensOnceItsLastRowIsIn)
{
    for (int variant = 0; variant < 3; ++variant) {
        SCOPED_TRACE(variant);
        SeekReadCounter reads;
        int draw = 0;
        SeekSession session(&reads, SeekSession::Options(), [&draw] { return draw++; });
        Script script{session, clip(60, true)};
        script.run({"open", 0, 0, 0, nullptr});
        script.run({"T", 0, 0, 0, nullptr});
        qint64 now = 0;
        QString last;
        int rows = 0;
        for (int seek = 0; seek < 21; ++seek) {
            now += 300;
            EXPECT_TRUE(script.run({"tick", now, 1000, 0, nullptr}).startsWith(QStringLiteral("richiedo %1").arg(seek)));
            reads.readBlock(0, 1000);
            script.run({"done", now + 1, 1000, 0, nullptr});
            // The last seek lands before its picture in variants 1 and 2.
            if (seek < 20 || variant == 0)
                script.run({"picture", now + 2, 1000, double(seek + seek % 2), nullptr});
            last = script.run({"tick", now + 3, seek * 1000 + 1021 * (seek % 2), 0, nullptr});
            rows += last.count(QStringLiteral("row: "));
        }
        EXPECT_EQ(rows, variant == 0 ? 21 : 20);
        const QString line = QStringLiteral("report: Average 0 MAX DIFF 1 MIN DIFF 0");
        EXPECT_TRUE(last.contains(line)) << last.toStdString();
        EXPECT_EQ(last.endsWith(QStringLiteral(" | reopen")), variant == 0);
        EXPECT_EQ(session.stats().seekCount(), 0);
        if (variant == 1) {
            EXPECT_EQ(script.run({"tick", now + 100, 21000, 0, nullptr}), QString());
            EXPECT_EQ(script.run({"picture", now + 110, 21000, 20.0, nullptr}), QStringLiteral("row: 1,20,20,20.000,0.000,0,1,110,1000,1"));
            EXPECT_EQ(script.run({"tick", now + 120, 21000, 0, nullptr}), QStringLiteral("reopen"));
        } else if (variant == 2) {
            EXPECT_EQ(script.run({"click", now + 100, 21000, 320, nullptr}), QStringLiteral("row: 1,20,20,,,,,,1000,1 | reopen"));
            script.run({"close", now + 110, 0, 0, nullptr});
            EXPECT_EQ(script.run({"open", now + 120, 0, 0, nullptr}),
                      QStringLiteral("title: seek test: batch 2, seek 1/21 | seek test stopped | title:  | click-seek 30 | vado sono su  30 | seek asked at %1").arg(now + 120));
        }
    }
}

// The pieces behind the table of measured seeks: the choice of targets and the row's CSV line. The
// row's life and the batch statistics are the session's table.
TEST(SeekStats, Targets)
{
    // Random seconds leave out the last 30 of the clip; clips of 30 s or less have none.
    for (const auto &[random, duration, seconds] : std::vector<std::tuple<int, qint64, int>>{{70, 100, 0}, {69, 100, 69}, {5, 30, -1}, {-3, 100, 67}}) {
        const SeekStats::Target t = SeekStats::randomTarget(random, duration);
        EXPECT_EQ(t.valid ? t.seconds : -1, seconds) << random << " in " << duration;
    }
    // The last column is never the duration itself; 90 * 0.7 is 62.99999... in doubles.
    for (const auto &[duration, x, seconds] : std::vector<std::tuple<qint64, int, qint64>>{{100, 639, 99}, {90, 448, 63}, {100, -5, 0}, {0, 300, 0}})
        EXPECT_EQ(SeekStats::clickTarget(duration, x, 640), seconds) << duration << " s, x " << x;
}

TEST(SeekRow, LinesCarryTheErrorInSecondsAndPictures)
{
    const auto row = [](qint64 target, double time, double rate, bool shown = true) {
        SeekRow r;
        r.batch = QStringLiteral("2");
        r.target = r.landed = target;
        r.landedKnown = r.keyFrame = true;
        r.pictureShown = shown;
        r.pictureTime = time;
        r.requestToPictureMs = 35;
        r.frameRate = rate;
        return r;
    };
    // Never "-0.000"; 29.97 fps; no usable rate; no picture.
    for (const auto &[r, line] : std::vector<std::pair<SeekRow, const char *>>{
             {row(7, 6.0, 25.0), "2,7,7,6.000,-1.000,-25,1,35,0,0"}, {row(3, 2.99999, 25.0), "2,3,3,3.000,0.000,0,1,35,0,0"},
             {row(10, 10.010, 30000.0 / 1001.0), "2,10,10,10.010,0.010,0,1,35,0,0"}, {row(5, 6.0, 0.0), "2,5,5,6.000,1.000,0,1,35,0,0"},
             {row(20, 0.0, 25.0, false), "2,20,20,,,,,,0,0"}})
        EXPECT_EQ(r.csvLine(), QString::fromLatin1(line));
    EXPECT_EQ(paths::seekRowsFile(QStringLiteral("/tmp/x/run.2.txt")), QStringLiteral("/tmp/x/run.2-seeks.csv"));
}

// Reads as the driver reports them: offset and requested size, then a short read's actual count.
TEST(SeekReadCounter, CountsHeldBytesAndEveryBlockTouched)
{
    const qint64 B = 131072;
    // file size (-1: no fileOpened report); reads of offset, size, got (-2: no readFailed); bytes, blocks
    const std::tuple<qint64, std::vector<std::array<qint64, 3>>, qint64, int> cases[] = {
        {10 * B, {{B - 100, 32768, -2}}, 32768, 2},                    // across a block boundary
        {10 * B, {{0, 32768, -2}, {32768, 32768, -2}}, 65536, 1},      // one block twice
        {B + 1000, {{B, 32768, -2}}, 1000, 1},                         // past the end: what the file holds
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
