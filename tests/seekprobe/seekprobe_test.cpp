// seekprobe: its command line and seek targets by table, and the built program run on real corpus
// clips with no display and no sound device, its exit code and output checked.
#include "seektest/seekrow.h"
#include "seekprobe/seekprobe.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using testsupport::clipPath;

TEST(SeekProbe, ReadsTheCommandLineAndPicksTheSameSecondsForTheSameSeed)
{
    const SeekProbe::Arguments all =
        SeekProbe::parseArguments({"--csv", "o.csv", "a.mp4", "--seeks", "5", "--seed", "4294967295"});
    ASSERT_TRUE(all.ok) << all.error.toStdString();
    EXPECT_EQ(all.options.clip + all.options.csvFile, QStringLiteral("a.mp4o.csv"));
    EXPECT_EQ(all.options.seeks, 5);
    EXPECT_EQ(all.options.seed, 4294967295u);
    const SeekProbe::Arguments plain = SeekProbe::parseArguments({"a.mp4"});
    EXPECT_TRUE(plain.ok && plain.options.seeks == 21 && plain.options.seed == 1 && plain.options.csvFile.isEmpty());
    EXPECT_TRUE(SeekProbe::parseArguments({"--help"}).help);
    for (const QStringList &bad : std::vector<QStringList>{
             {}, {"--seeks", "3"}, {"a.mp4", "--seeks"}, {"a.mp4", "--seeks", "0"}, {"a.mp4", "--seeks", "ten"},
             {"a.mp4", "--seed", "-1"}, {"a.mp4", "--csv", ""}, {"a.mp4", "--fast"}, {"a.mp4", "b.mp4"}}) {
        const SeekProbe::Arguments a = SeekProbe::parseArguments(bad);
        EXPECT_TRUE(!a.ok && !a.error.isEmpty()) << bad.join(' ').toStdString();
    }

    // Longer than 30 s: seekmark's rule leaves out the last 30 seconds; shorter: the whole clip.
    for (const auto &[duration, last] : std::vector<std::pair<qint64, int>>{{40, 9}, {60, 29}, {8, 7}, {0, 0}}) {
        const QList<int> targets = SeekProbe::targets(duration, 200, 7);
        EXPECT_EQ(targets, SeekProbe::targets(duration, 200, 7)) << duration;
        EXPECT_EQ(*std::min_element(targets.begin(), targets.end()), 0) << duration;
        EXPECT_EQ(*std::max_element(targets.begin(), targets.end()), last) << duration;
    }
    EXPECT_NE(SeekProbe::targets(60, 21, 1), SeekProbe::targets(60, 21, 2));
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
    if (!p.waitForFinished(180000)) {
        p.kill();
        p.waitForFinished(5000);
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    r.err = QString::fromUtf8(p.readAllStandardError());
    const int header = r.out.indexOf(SeekRow::csvHeader());
    for (int i = header + 1; header >= 0 && i < r.out.size() && r.out.at(i).count(QLatin1Char(',')) == 9; ++i)
        r.rows << r.out.at(i).split(QLatin1Char(','));
    return r;
}

const QRegularExpression kReportLine(QStringLiteral("^Average \\d+ MAX DIFF \\d+ MIN DIFF \\d+$"));

// A keyframe every second on every clip: each seek gives a picture less than a second from its
// target, and the first picture after a seek is a keyframe. On the 40 s clip every seek lands on
// the keyframe at its target, zero pictures away, at the seconds the pure rule picks; the CSV
// file holds exactly the rows printed.
TEST(SeekProbeProgram, EverySeekGivesAKeyframeWithinASecond)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString csv = dir.filePath(QStringLiteral("rows.csv"));
    const ProbeRun run = runProbe({clipPath(QStringLiteral("h264_long.mp4")), "--seeks", "25", "--seed", "7", "--csv", csv});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QRegularExpression opening(QStringLiteral("^opening: ([1-9]\\d*) bytes, ([1-9]\\d*) blocks$"));
    EXPECT_EQ(run.out.filter(opening).size(), 1) << run.out.join('\n').toStdString();
    ASSERT_EQ(run.rows.size(), 25) << run.out.join('\n').toStdString();
    const QList<int> targets = SeekProbe::targets(40, 25, 7);
    for (int i = 0; i < run.rows.size(); ++i) {
        const QStringList &f = run.rows.at(i);
        // batch, target, landed, picture, error in seconds and pictures, keyframe
        EXPECT_EQ(f.mid(0, 7).join(','), QStringLiteral("%1,%2,%2,%2.000,0.000,0,1").arg(i / 21 + 1).arg(targets.at(i)));
        EXPECT_EQ(f[8].toLongLong() > 0, f[9].toInt() > 0) << f.join(',').toStdString();
    }
    // One line for the full batch, one for the four seeks after it.
    EXPECT_EQ(run.out.filter(kReportLine), QStringList(2, QStringLiteral("Average 0 MAX DIFF 0 MIN DIFF 0")));
    EXPECT_EQ(run.out.last(), QStringLiteral("seeks without a picture: 0 of 25"));
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    EXPECT_EQ(QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts),
              run.out.mid(run.out.indexOf(SeekRow::csvHeader()), 26));

    for (const char *clip : {"h264_aac.mp4", "mpeg2_mp2.mpg", "vp9_opus.mkv", "odd_321x241.mkv"}) {
        SCOPED_TRACE(clip);
        const ProbeRun other = runProbe({clipPath(QString::fromLatin1(clip)), "--seeks", "6"});
        ASSERT_EQ(other.exitCode, 0) << other.err.toStdString();
        ASSERT_EQ(other.rows.size(), 6);
        for (const QStringList &f : other.rows)
            EXPECT_TRUE(std::abs(f[4].toDouble()) < 1.0 && f[6] == QStringLiteral("1")) << f.join(',').toStdString();
        EXPECT_EQ(other.out.filter(kReportLine).size(), 1);
    }
}

TEST(SeekProbeProgram, RefusesWhatItCannotRunAndFailsASeekWithoutAPicture)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A clip that opens but whose pictures cannot be decoded: its media data zeroed.
    QFile source(clipPath(QStringLiteral("h264_noaudio.mp4")));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    QByteArray data = source.readAll();
    const int mdat = data.indexOf("mdat");
    ASSERT_GT(mdat, 4);
    const qint64 boxSize = qFromBigEndian<quint32>(data.constData() + mdat - 4);
    ASSERT_LE(mdat - 4 + boxSize, data.size());
    data.replace(mdat + 4, boxSize - 8, QByteArray(boxSize - 8, '\0'));
    const QString zeroed = dir.filePath(QStringLiteral("zeroed.mp4"));
    QFile out(zeroed);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(data) == data.size());
    out.close();

    struct Case {
        QStringList args;
        int exitCode;
        const char *says;   // on standard error
    };
    const std::vector<Case> cases = {
        {{}, SeekProbe::BadArguments, "usage: seekprobe CLIP"},
        {{dir.filePath("missing.mp4")}, SeekProbe::CannotRun, "cannot open"},
        {{clipPath(QStringLiteral("audio_only.m4a"))}, SeekProbe::CannotRun, "no video stream"},
        {{clipPath(QStringLiteral("h264_aac.mp4")), "--csv", dir.filePath("no/such/folder.csv")}, SeekProbe::CannotRun,
         "cannot write"},
        {{zeroed, "--seeks", "1"}, SeekProbe::SeekFailed, "no picture within"},
    };
    for (const Case &c : cases) {
        const ProbeRun run = runProbe(c.args);
        SCOPED_TRACE(c.args.join(' ').toStdString() + ": " + run.err.toStdString());
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.err.contains(QString::fromLatin1(c.says)));
        if (c.exitCode == SeekProbe::SeekFailed) {   // the row is still written, empty from the landing on
            ASSERT_EQ(run.rows.size(), 1);
            EXPECT_TRUE(run.rows.first().mid(2, 6).join(QString()).isEmpty()) << run.rows.first().join(',').toStdString();
            EXPECT_EQ(run.out.last(), QStringLiteral("seeks without a picture: 1 of 1"));
        }
    }
    const ProbeRun help = runProbe({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.join('\n').startsWith(QStringLiteral("usage: seekprobe CLIP")));
}

} // namespace
