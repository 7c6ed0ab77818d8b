// seekprobe: its command line, summary lines, gates and picture lookup by table, and the built
// program run on real corpus clips with no display and no sound device.
#include "seekprobe/clipsummary.h"
#include "seekprobe/pictureindex.h"
#include "seekprobe/seekprobe.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <vector>

namespace {

using testsupport::clipPath;

// Every option the runs below use is checked by what they print; here what they refuse.
TEST(SeekProbe, CommandLineAndTargets)
{
    for (const QStringList &bad : std::vector<QStringList>{{"a.mp4", "--seeks"}, {"a.mp4", "--seeks", "ten"}, {"a.mp4", "--fast"}, {"a.mp4", "-j", "0"}})
        EXPECT_FALSE(SeekProbe::parseArguments(bad).error.isEmpty()) << bad.join(' ').toStdString();
    // Longer than 30 s: seekmark's rule leaves out the last 30 seconds; shorter: the whole clip.
    for (const auto &[duration, last] : std::vector<std::pair<qint64, int>>{{40, 9}, {8, 7}, {0, 0}}) {
        const QList<int> targets = SeekProbe::targets(duration, 200, 7);
        EXPECT_EQ(targets, SeekProbe::targets(duration, 200, 7)) << duration;
        EXPECT_EQ(*std::min_element(targets.begin(), targets.end()), 0) << duration;
        EXPECT_EQ(*std::max_element(targets.begin(), targets.end()), last) << duration;
    }
}

// A picture is what its content says: the nearest of equal pictures to its time's claim, or
// nowhere (corrupt). The hash sees every byte.
TEST(SeekProbe, PictureIndexFindsPicturesByContent)
{
    PictureIndex index;
    const quint64 still = 7, moving = 8;
    for (int i = 0; i < 6; ++i)
        index.add(i * 0.04, i == 0, i < 3 ? still : moving + i);
    // hash, time; content index, time index
    for (const auto &[hash, time, content, byTime] : std::vector<std::tuple<quint64, double, qint64, qint64>>{
             {still, 0.0, 0, 0}, {still, 0.08, 2, 2}, {still, 0.2, 2, 5}, {moving + 4, 0.2, 4, 5}, {99, 0.12, -1, 3}}) {
        const PictureIndex::Match m = index.match(hash, time, 25.0);
        EXPECT_EQ(std::pair(m.contentIndex, m.timeIndex), std::pair(content, byTime)) << hash << " at " << time;
    }
    EXPECT_EQ(index.keyFrames(), 1);
    QByteArray bytes(1001, 'x');
    auto hash = [](const QByteArray &b) { return PictureIndex::hash(reinterpret_cast<const uint8_t *>(b.constData()), b.size()); };
    for (int at : {0, 500, 1000})
        EXPECT_NE(hash(QByteArray(bytes).replace(at, 1, "y")), hash(bytes)) << at;
}

SeekRow row(qint64 target, double time, qint64 ms, qint64 content = -2)
{
    SeekRow r;
    r.target = target;
    r.frameRate = 25.0;
    r.pictureShown = time >= 0;
    r.pictureTime = time;
    r.requestToPictureMs = ms;
    r.bytes = 1000;
    r.verified = content > -2;
    r.contentIndex = content;
    r.timeIndex = qint64(time * 25 + 0.5);
    return r;
}

// Summary lines from rows, and the gates they cross.
TEST(SeekProbe, SummaryLinesAndGates)
{
    struct Case {
        const char *what;
        QList<SeekRow> rows;
        ClipSummary::Gates gates;
        const char *values;   // seeks .. gates
    };
    const Case cases[] = {
        {"by time stamp", {row(4, 4.0, 80), row(5, 4.0, 120), row(6, 6.08, 100)}, {25, 120}, "3,9.00,25,0,-,-,100,120,1000,ok"},
        {"latency gate on p95", {row(4, 4.0, 80), row(5, 4.0, 120), row(6, 6.08, 100)}, {-1, 100}, "3,9.00,25,0,-,-,100,120,1000,p95 120 > 100 ms"},
        {"error gate; a seek without a picture", {row(4, 3.0, 80), row(5, -1, 0)}, {24, -1}, "2,25.00,25,1,-,-,80,80,1000,error 25 > 24 pictures"},
        // By content: the target's picture is target x rate; a corrupt picture crosses the error gate.
        {"verified", {row(4, 9.0, 80, 100), row(5, 4.8, 90, 120), row(6, 6.0, 70, -1)}, {25, -1}, "3,2.50,5,0,1,1,80,90,1000,1 corrupt pictures"},
    };
    for (const Case &c : cases) {
        ClipResult result;
        result.clip = QStringLiteral("/x/a.mp4");
        result.opened = true;
        result.frameRate = 25.0;
        result.verified = c.rows.first().verified;
        result.rows = c.rows;
        const QStringList values = ClipSummary::of(result).values(c.gates);
        EXPECT_EQ(values.mid(3).join(','), QString::fromLatin1(c.values)) << c.what;
        EXPECT_EQ(values.first(), QStringLiteral("a.mp4"));
    }
    ClipResult missing;
    missing.clip = QStringLiteral("gone.mp4");
    EXPECT_EQ(ClipSummary::of(missing).values({0, 0}).last(), QStringLiteral("cannot open"));
}

QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

struct ProbeRun {
    int exitCode = -1;
    QStringList out;
    QString err;
    QList<QStringList> rows;   // the lines between the header and the report lines
};

// Runs the built program with neither a display nor a sound driver chosen.
ProbeRun runProbe(const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "SDL_AUDIODRIVER"})
        env.remove(QString::fromLatin1(name));
    p.setProcessEnvironment(env);
    p.start(testsupport::binDir() + QStringLiteral("/seekprobe"), args);
    ProbeRun r;
    if (!p.waitForFinished(180000) && (p.kill(), p.waitForFinished(5000)))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    r.err = QString::fromUtf8(p.readAllStandardError());
    const int header = r.out.indexOf(QRegularExpression(QStringLiteral("batch,.*")));
    for (int i = header + 1; header >= 0 && i < r.out.size() && r.out.at(i).at(0).isDigit(); ++i)
        r.rows << r.out.at(i).split(QLatin1Char(','));
    return r;
}

// A keyframe every second: every seek lands on the keyframe at its target, and the picture's
// content agrees with its time; the CSV file holds exactly the rows printed.
TEST(SeekProbeProgram, VerifyAgreesOnACleanClipAndFlagsShiftedTimeStamps)
{
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("rows.csv"));
    const ProbeRun run = runProbe({clipPath(QStringLiteral("h264_long.mp4")), "--seeks", "25", "--seed", "7", "--verify", "--csv", csv});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out.filter(QRegularExpression(QStringLiteral("^opening: [1-9]\\d* bytes, [1-9]\\d* blocks$"))).size(), 1);
    EXPECT_EQ(run.out.filter(QRegularExpression(QStringLiteral("^first pass: 1000 pictures, 40 keyframes in \\d+ ms$"))).size(), 1);
    ASSERT_EQ(run.rows.size(), 25) << run.out.join('\n').toStdString();
    const QList<int> targets = SeekProbe::targets(40, 25, 7);
    for (int i = 0; i < run.rows.size(); ++i) {
        const QStringList &f = run.rows.at(i);
        // batch, target, landed, picture, errors, keyframe; content and time index, agree
        EXPECT_EQ(f.mid(0, 7).join(','), QStringLiteral("%1,%2,%2,%2.000,0.000,0,1").arg(i / 21 + 1).arg(targets.at(i)));
        EXPECT_EQ(f.mid(10).join(','), QStringLiteral("%1,%1,1").arg(targets.at(i) * 25));
    }
    // One line for the full batch, one for the four seeks after it.
    EXPECT_EQ(run.out.filter(QRegularExpression(QStringLiteral("^Average "))), QStringList(2, QStringLiteral("Average 0 MAX DIFF 0 MIN DIFF 0")));
    EXPECT_TRUE(run.out.contains(QStringLiteral("seeks without a picture: 0 of 25")));
    EXPECT_EQ(readText(csv).split('\n', Qt::SkipEmptyParts), run.out.mid(run.out.indexOf(QRegularExpression(QStringLiteral("batch,.*"))), 26));

    const ProbeRun shifted = runProbe({clipPath(QStringLiteral("shifted_setts.mkv")), "--seeks", "6", "--verify"});
    ASSERT_EQ(shifted.rows.size(), 6) << shifted.err.toStdString();
    for (const QStringList &f : shifted.rows)
        EXPECT_TRUE(f[12] == QStringLiteral("0") && f[10].toInt() < f[11].toInt()) << f.join(',').toStdString();
}

// Keyframes every 25 pictures of 40 or 80 ms: the landing lies up to 1.5 s early, and decoding on
// reaches the first picture at the target, whose frame number is the landing's plus those decoded.
TEST(SeekProbeProgram, ExactReachesTheTargetPicture)
{
    const ProbeRun run = runProbe({clipPath(QStringLiteral("vfr.mkv")), "--seeks", "8", "--verify", "--exact"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    ASSERT_EQ(run.rows.size(), 8);
    bool decodedOn = false;
    for (const QStringList &f : run.rows) {
        SCOPED_TRACE(f.join(',').toStdString());
        int frame = 0;   // frame N shows at floor(N/2) x 120 ms + (N mod 2) x 40 ms
        while (frame / 2 * 120 + frame % 2 * 40 < f[1].toInt() * 1000)
            ++frame;
        EXPECT_EQ(f[10].toInt() + f[15].toInt(), frame);
        EXPECT_NEAR(f[13].toDouble(), (frame / 2 * 120 + frame % 2 * 40) / 1000.0, 0.022);   // Matroska's 21 ms
        EXPECT_GE(f[14].toLongLong(), f[7].toLongLong());
        decodedOn = decodedOn || f[15].toInt() > 0;
    }
    EXPECT_TRUE(decodedOn);
}

// A folder of three corpus clips (and a file that is no video) at two at once: three summary
// lines, the CSV and the chart; the clip with keyframes 1.5 s apart crosses a gate of 5 pictures.
TEST(SeekProbeProgram, FolderGivesASummaryLinePerClipAndItsGateStatus)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("clips"));
    QDir().mkpath(folder);
    for (const char *name : {"h264_aac.mp4", "mpeg2_mp2.mpg", "vfr.mkv"})
        ASSERT_TRUE(QFile::copy(clipPath(QString::fromLatin1(name)), folder + '/' + name));
    QFile(folder + QStringLiteral("/notes.txt")).open(QIODevice::WriteOnly);
    const QString summary = dir.filePath(QStringLiteral("s.csv")), plot = dir.filePath(QStringLiteral("p.svg"));
    const ProbeRun run = runProbe({folder, "-j", "2", "--seeks", "4", "--max-error-pictures", "5", "--summary", summary, "--plot", plot});
    EXPECT_EQ(run.exitCode, SeekProbe::GateCrossed) << run.err.toStdString();
    ASSERT_EQ(run.out.size(), 4) << run.out.join('\n').toStdString();
    EXPECT_TRUE(run.out.at(0).startsWith(QStringLiteral("clip ")));
    for (const QString &line : run.out.mid(1))
        EXPECT_EQ(line.endsWith(QStringLiteral("ok")), !line.startsWith(QStringLiteral("vfr"))) << line.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("clip 3 of 3 done")));
    EXPECT_EQ(readText(summary).count('\n'), 4);
    QProcess python;
    python.start(QStringLiteral("python3"), {"-c", "import sys, xml.etree.ElementTree as E; r = E.parse(sys.argv[1]).getroot(); "
                                             "print(sum(g.get('class') == 'clip' for g in r.iter('{http://www.w3.org/2000/svg}g')))", plot});
    ASSERT_TRUE(python.waitForFinished(30000));
    EXPECT_EQ(python.readAllStandardOutput().trimmed(), QByteArray("3")) << python.readAllStandardError().toStdString();
}

// What it cannot run: its usage, a clip without pictures, a chart it cannot write, a clip that
// cannot seek (no time stamps, no index: every seek fails, status 1), and in
// children a clip that does not open, each with its exit status and the reason on standard error.
TEST(SeekProbeProgram, RefusesWhatItCannotRun)
{
    const QString clip = clipPath(QStringLiteral("h264_aac.mp4"));
    const std::vector<std::tuple<QStringList, int, const char *>> cases = {
        {{}, SeekProbe::BadArguments, "usage: seekprobe CLIP"},
        {{clipPath(QStringLiteral("audio_only.m4a"))}, SeekProbe::CannotRun, "no video stream"},
        {{clip, "--plot", "/nonexistent/p.svg"}, SeekProbe::CannotRun, "cannot write"},
        {{QStringLiteral(HOSTILE_DIR "/no_timestamps.mpg"), "--seeks", "2"}, SeekProbe::SeekFailed, "could not seek"},
        {{clip, "/nonexistent/missing.mp4", "--seeks", "1"}, SeekProbe::CannotRun, "missing.mp4: cannot open"},
    };
    for (const auto &[args, exitCode, says] : cases) {
        const ProbeRun run = runProbe(args);
        EXPECT_EQ(run.exitCode, exitCode) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(QString::fromLatin1(says))) << run.err.toStdString();
        // A length the input does not know is 0, never AV_NOPTS_VALUE read as milliseconds.
        if (exitCode == SeekProbe::SeekFailed)
            EXPECT_TRUE(run.out.contains(QStringLiteral("duration: 0 s, 25 fps, 320x240"))) << run.out.join('\n').toStdString();
    }
}

} // namespace
