// seekprobe: its command line, summary lines, gates and picture lookup by table, and the built
// program run on real corpus clips with no display and no sound device.
#include "seekprobe/clipsummary.h"
#include "seekprobe/pictureindex.h"
#include "seekprobe/seekprobe.h"
#include "seekprobe/shardplan.h"
#include "tests/common/programrun.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <map>
#include <vector>

namespace {

using testsupport::clipPath;

// Every option the runs below use is checked by what they print; here what they refuse, the
// seeded seconds pinned to values (std::mt19937 is the same everywhere) and the parts of a run.
TEST(SeekProbe, CommandLineTargetsAndParts)
{
    for (const QStringList &bad : std::vector<QStringList>{{"a.mp4", "--seeks"}, {"a.mp4", "--seeks", "ten"}, {"a.mp4", "--fast"},
                                                           {"a.mp4", "-j", "0"}, {"a.mp4", "--shard", "1/4"}, {"merge", "f", "--seeks", "3"}})
        EXPECT_FALSE(SeekProbe::parseArguments(bad).error.isEmpty()) << bad.join(' ').toStdString();
    // Longer than 30 s: seekmark's rule leaves out the last 30 seconds; shorter: the whole clip.
    EXPECT_EQ(SeekProbe::targets(40, 8, 7), QList<int>({5, 2, 3, 6, 3, 9, 9, 9}));
    EXPECT_EQ(SeekProbe::targets(8, 8, 7), QList<int>({7, 4, 1, 6, 3, 3, 7, 7}));
    EXPECT_EQ(SeekProbe::targets(0, 2, 7), QList<int>({0, 0}));

    // --shard, --shard-count with a Kubernetes index, a Slurm array (ids 4, 6, 8 of --array=4-8:2), nothing.
    struct Case {
        QString shard;
        int count;
        QHash<QString, QString> env;
        const char *part;   // "index/count source", or empty when refused
    };
    const QHash<QString, QString> slurm{{"SLURM_ARRAY_TASK_ID", "6"}, {"SLURM_ARRAY_TASK_MIN", "4"}, {"SLURM_ARRAY_TASK_STEP", "2"},
                                        {"SLURM_ARRAY_TASK_COUNT", "3"}, {"JOB_COMPLETION_INDEX", "1"}};
    const Case cases[] = {{"2/3", 0, slurm, "2/3 --shard"}, {"3/3", 0, {}, ""}, {"", 4, slurm, "1/4 Kubernetes"}, {"", 1, slurm, ""},
                          {"", 0, {}, "0/1 "}, {"", 0, slurm, "1/3 Slurm"}, {"", 0, {{"SLURM_ARRAY_TASK_ID", "1"}, {"SLURM_ARRAY_TASK_COUNT", "1"}}, ""}};
    for (const Case &c : cases) {
        ShardPlan plan;
        QString error;
        const bool ok = ShardPlan::resolve(c.shard, c.count, c.env, plan, error);
        EXPECT_EQ(ok ? QStringLiteral("%1/%2 %3").arg(plan.index).arg(plan.count).arg(plan.source) : QString(), QString::fromLatin1(c.part))
            << c.shard.toStdString() << " " << c.count << " " << error.toStdString();
    }
    // Every clip in one part, sorted; the part's files sort in part order.
    const ShardPlan second{1, 3, QString()};
    EXPECT_EQ(second.pick({"e", "a", "d", "b", "c"}), QStringList({"b", "e"}));
    EXPECT_EQ(second.name(), QStringLiteral("part-0001-of-0003"));
}

// A picture is what its content says: the nearest of equal pictures to its time's claim, or
// nowhere (corrupt); the verdict weighs it against the keyframe at or before the target, seconds
// counted from the first picture. The hash sees every byte.
TEST(SeekProbe, PictureIndexFindsAndJudgesPictures)
{
    PictureIndex index;
    const quint64 still = 7, moving = 8;
    for (int i = 0; i < 8; ++i)
        index.add(0.02 + i * 0.04, i % 4 == 0, i < 3 ? still : moving + i);   // the first picture 20 ms in
    using V = SeekRow::Verdict;
    // hash, time, target; content index, time index, verdict, distance
    for (const auto &[hash, time, target, content, byTime, verdict, distance] : std::vector<std::tuple<quint64, double, double, qint64, qint64, V, qint64>>{
             {moving + 4, 0.16, 0.17, 4, 4, V::Right, 0}, {moving + 4, 0.16, 0.1, 4, 4, V::Wrong, 4}, {still, 0.0, 0.1, 0, 0, V::Ambiguous, 0},
             {still, 0.2, 0.2, 2, 5, V::Wrong, -2}, {moving + 6, 0.24, 0.2, 6, 6, V::Wrong, 2}, {99, 0.12, 0.0, -1, 3, V::Unknown, 0}}) {
        const PictureIndex::Match m = index.match(hash, time, 25.0, target);
        EXPECT_EQ(std::tuple(m.contentIndex, m.timeIndex, m.verdict, m.distance), std::tuple(content, byTime, verdict, distance))
            << hash << " at " << time << " for " << target;
    }
    EXPECT_EQ(index.keyFrames(), 2);
    QByteArray bytes(1001, 'x');
    auto hash = [](const QByteArray &b) { return PictureIndex::hash(reinterpret_cast<const uint8_t *>(b.constData()), b.size()); };
    for (int at : {0, 500, 1000})
        EXPECT_NE(hash(QByteArray(bytes).replace(at, 1, "y")), hash(bytes)) << at;
}

SeekRow row(qint64 target, double time, qint64 ms, qint64 content = -2, SeekRow::Verdict verdict = SeekRow::Verdict::None)
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
    r.verdict = verdict;
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
        {"by time stamp", {row(4, 4.0, 80), row(5, 4.0, 120), row(6, 6.08, 100)}, {25, 120}, "3,9.00,25,0,-,-,-,-,-,-,100,120,1000,ok"},
        {"latency gate on p95", {row(4, 4.0, 80), row(5, 4.0, 120), row(6, 6.08, 100)}, {-1, 100}, "3,9.00,25,0,-,-,-,-,-,-,100,120,1000,p95 120 > 100 ms"},
        {"error gate; a seek without a picture", {row(4, 3.0, 80), row(5, -1, 0)}, {24, -1}, "2,25.00,25,1,-,-,-,-,-,-,80,80,1000,error 25 > 24 pictures"},
        // By content: the target's picture is target x rate; a corrupt picture crosses the error gate.
        {"verified", {row(4, 9.0, 80, 100, SeekRow::Verdict::Right), row(5, 4.8, 90, 120, SeekRow::Verdict::Wrong), row(6, 6.0, 70, -1, SeekRow::Verdict::Unknown)},
         {25, -1}, "3,2.50,5,0,1,1,1,1,1,0,80,90,1000,1 corrupt pictures"},
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
        // content and time index, agree, verdict, distance; the decoder's threads; no repeat when right
        EXPECT_EQ(f.mid(10, 5).join(','), QStringLiteral("%1,%1,1,right,").arg(targets.at(i) * 25));
        EXPECT_TRUE(f[15].toInt() >= 1 && f[16].isEmpty()) << f.join(',').toStdString();
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
        EXPECT_EQ(f[10].toInt() + f[19].toInt(), frame);
        EXPECT_NEAR(f[17].toDouble(), (frame / 2 * 120 + frame % 2 * 40) / 1000.0, 0.022);   // Matroska's 21 ms
        EXPECT_GE(f[18].toLongLong(), f[7].toLongLong());
        decodedOn = decodedOn || f[19].toInt() > 0;
    }
    EXPECT_TRUE(decodedOn);
}

// A folder of three corpus clips (and a file that is no video) at two at once, verified: three
// summary lines, the CSV with every seek's verdict read back from the children, and the chart; the
// clip with keyframes 1.5 s apart crosses a gate of 5 pictures.
TEST(SeekProbeProgram, FolderGivesASummaryLinePerClipAndItsGateStatus)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("clips"));
    QDir().mkpath(folder);
    for (const char *name : {"h264_aac.mp4", "mpeg2_mp2.mpg", "vfr.mkv"})
        ASSERT_TRUE(QFile::copy(clipPath(QString::fromLatin1(name)), folder + '/' + name));
    QFile(folder + QStringLiteral("/notes.txt")).open(QIODevice::WriteOnly);
    const QString summary = dir.filePath(QStringLiteral("s.csv")), plot = dir.filePath(QStringLiteral("p.svg"));
    const ProbeRun run = runProbe({folder, "-j", "2", "--seeks", "4", "--verify", "--max-error-pictures", "5", "--summary", summary, "--plot", plot});
    EXPECT_EQ(run.exitCode, SeekProbe::GateCrossed) << run.err.toStdString();
    ASSERT_EQ(run.out.size(), 4) << run.out.join('\n').toStdString();
    EXPECT_TRUE(run.out.at(0).startsWith(QStringLiteral("clip ")));
    for (const QString &line : run.out.mid(1))
        EXPECT_EQ(line.endsWith(QStringLiteral("ok")), !line.startsWith(QStringLiteral("vfr"))) << line.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("clip 3 of 3 done")));
    const QStringList lines = readText(summary).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    for (const QString &line : lines.mid(1)) {   // seeks, no_picture, right, wrong, unknown, ambiguous
        const QStringList f = line.split(',');
        EXPECT_EQ(f[9].toInt() + f[10].toInt() + f[11].toInt() + f[12].toInt(), f[3].toInt() - f[6].toInt()) << line.toStdString();
        EXPECT_GT(f[9].toInt(), 0) << line.toStdString();
    }
    QProcess python;
    python.start(QStringLiteral("python3"), {"-c", "import sys, xml.etree.ElementTree as E; r = E.parse(sys.argv[1]).getroot(); "
                                             "print(sum(g.get('class') == 'clip' for g in r.iter('{http://www.w3.org/2000/svg}g')))", plot});
    ASSERT_TRUE(python.waitForFinished(30000));
    EXPECT_EQ(python.readAllStandardOutput().trimmed(), QByteArray("3")) << python.readAllStandardError().toStdString();
}

// What it cannot run and what it finds, each with its exit status and the reason: its usage, a
// folder without video, --csv with several clips, a clip without pictures, a chart it cannot
// write, a clip that cannot seek (no time stamps, no index: status 1), a damaged clip whose picture
// after a seek is found nowhere in the first pass (a corrupt picture, status 4 under the error
// gate, with the command that repeats the seek), and the order when several apply: 3 over 4 over 1.
TEST(SeekProbeProgram, ExitStatusesAndTheirOrder)
{
    QTemporaryDir empty;
    const QString clip = clipPath(QStringLiteral("h264_aac.mp4"));
    const QString damaged = QStringLiteral(HOSTILE_DIR "/h264_aac.flip2000.mp4"), unseekable = QStringLiteral(HOSTILE_DIR "/no_timestamps.mpg");
    const QStringList corruptGate{"--seek-to", "5", "--verify", "--max-error-pictures", "0"};
    const std::vector<std::tuple<QStringList, int, const char *>> cases = {
        {{}, SeekProbe::BadArguments, "usage: seekprobe CLIP"},
        {{empty.path()}, SeekProbe::BadArguments, "no video files in"},
        {{clip, clip, "--csv", empty.filePath("rows.csv")}, SeekProbe::BadArguments, "--csv takes the rows of one clip"},
        {{clipPath(QStringLiteral("audio_only.m4a"))}, SeekProbe::CannotRun, "no video stream"},
        {{clip, "--plot", "/nonexistent/p.svg"}, SeekProbe::CannotRun, "cannot write"},
        {{unseekable, "--seeks", "2"}, SeekProbe::SeekFailed, "could not seek"},
        {QStringList{damaged} + corruptGate, SeekProbe::GateCrossed, ",corrupt,125,0,unknown,,"},
        {QStringList{damaged, unseekable} + corruptGate, SeekProbe::GateCrossed, "1 corrupt pictures"},
        {QStringList{damaged, unseekable, "/nonexistent/missing.mp4"} + corruptGate, SeekProbe::CannotRun, "missing.mp4: cannot open"},
    };
    for (const auto &[args, exitCode, says] : cases) {
        const ProbeRun run = runProbe(args);
        EXPECT_EQ(run.exitCode, exitCode) << args.join(' ').toStdString();
        EXPECT_TRUE((run.err + run.out.join('\n')).contains(QString::fromLatin1(says))) << run.err.toStdString();
        // A length the input does not know is 0, never AV_NOPTS_VALUE read as milliseconds.
        if (exitCode == SeekProbe::SeekFailed) {
            EXPECT_TRUE(run.out.contains(QStringLiteral("duration: 0 s, 25 fps, 320x240"))) << run.out.join('\n').toStdString();
        }
        if (args.size() == 6) {   // the damaged clip alone: its row repeats itself
            EXPECT_TRUE(run.out.join('\n').contains(SeekProbe::repeatCommand(damaged, 5)));
        }
    }
    // The latency gate in a real run: crossed exactly when the p95 exceeds it.
    const ProbeRun latency = runProbe({clip, "--seeks", "3", "--max-latency-ms", "0", "--summary", empty.filePath("s.csv")});
    const QStringList f = readText(empty.filePath("s.csv")).section('\n', 1, 1).split(',');   // .. p95_ms, bytes_per_seek, gates
    EXPECT_EQ(latency.exitCode, f.value(14).toInt() > 0 ? SeekProbe::GateCrossed : SeekProbe::Success) << f.join(',').toStdString();
    EXPECT_EQ(f.value(16), f.value(14).toInt() > 0 ? QStringLiteral("p95 %1 > 0 ms").arg(f.value(14)) : QStringLiteral("ok"));
}

// A child that crashes or hangs costs its clip (status 3, the reason on stderr); the other clip
// still gets its line.
TEST(SeekProbeProgram, AChildThatCrashesOrHangsCostsItsClip)
{
    for (const auto &[signal, says] : {std::pair{SIGSEGV, "seekprobe failed on it"}, std::pair{SIGSTOP, "seekprobe hung on it"}}) {
        QProcess p;
        p.start(testsupport::binDir() + QStringLiteral("/seekprobe"),
                {clipPath(QStringLiteral("h264_long.mp4")), clipPath(QStringLiteral("h264_aac.mp4")), "-j", "1", "--verify", "--seeks", "30",
                 "--child-timeout", "10"});
        ASSERT_TRUE(p.waitForStarted(10000));
        QString child;
        const QString children = QStringLiteral("/proc/%1/task/%1/children").arg(p.processId());
        ASSERT_TRUE(testsupport::poll([&] { return !(child = readText(children).trimmed()).isEmpty(); }, 10000, 10));
        ::kill(child.section(' ', 0, 0).toInt(), signal);
        // Under the sanitizers on a busy machine the second clip's verified seeks take a while.
        ASSERT_TRUE(p.waitForFinished(150000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput()), err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), SeekProbe::CannotRun) << err.toStdString();
        EXPECT_TRUE(err.contains(QString::fromLatin1(says))) << err.toStdString();
        EXPECT_TRUE(out.contains(QRegularExpression(QStringLiteral("h264_long.mp4 .* cannot open\n")))) << out.toStdString();
        EXPECT_TRUE(out.contains(QRegularExpression(QStringLiteral("h264_aac.mp4 +mov .* ok\n")))) << out.toStdString();
    }
}

// The corpus of hard cases: one clip per case with its facts, and --verify's verdicts on each:
// seeks from the very start (AVI and FLV refuse a search before their first index entry), a
// keyframe presented after its decoding stamp (AVI), stamps that wrap (MPEG-TS counted from its
// start below 0) and the rest all land where they should.
TEST(SeekProbeProgram, CorpusOfHardCases)
{
    QTemporaryDir dir;
    const ProbeRun made = runProbe({"--make-corpus", dir.path()});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    EXPECT_EQ(readText(dir.filePath(QStringLiteral("corpus.csv"))).count('\n'), 12);
    // Seed 18 asks for each second of the 6 once: 2, 1, 4, 3, 0, 5.
    const ProbeRun run = runProbe({dir.path(), "--verify", "--seeks", "6", "--seed", "18", "-j", "2"});
    // Every seek of every case lands right: right, wrong, unknown of 6 seeks.
    const QStringList clips = {"avi_bframes.avi", "flv_bframes.flv", "ts_wrap.ts", "h264_open_gop.mkv",
                               "hevc_cra.mkv", "mp4_edit_list.mp4", "mp4_negative_ts.mp4", "vfr.mkv",
                               "h264_interlaced.mp4", "mkv_240fps.mkv", "mpeg_ps.mpg"};
    ASSERT_EQ(run.out.size(), clips.size() + 1) << run.out.join('\n').toStdString();
    for (const QString &text : run.out.mid(1)) {
        const QStringList f = text.split(' ', Qt::SkipEmptyParts);   // clip .. right wrong unknown
        EXPECT_TRUE(clips.contains(f[0])) << text.toStdString();
        EXPECT_EQ(std::tuple(f[9].toInt(), f[10].toInt(), f[11].toInt()), std::tuple(6, 0, 0)) << text.toStdString();
    }
}

} // namespace
