// The built framewise from end to end, driven as a person would: its two open dialogs answered by
// typing a path, its window read from screenshots and its title. Two encodes of one source at
// different rates show the same source picture after seeks, steps and resumes, the keys and the
// wheel do what they say, --compare gives ffmpeg's own figures, and clips named on the command
// line need no dialogs.
#include "tests/common/programrun.h"
#include "tests/common/screenpicture.h"

#include <gtest/gtest.h>


#include <cmath>
#include <string>
#include <tuple>

namespace {

using namespace testsupport;

// One numbered 25 fps source in two encodes the project has never seen, made afresh: MPEG-4
// Visual with B-frames in Matroska, whose muxer starts the video 21 ms late to make room for the
// AAC priming, keyframes every 2 s; the same pictures at 60 fps (each shown 2 or 3 times) in H.264
// without B-frames in MP4, keyframes every second. 20 s, 640 x 480.
QString makeFreshClips(const QString &dir)
{
    const QString script = QStringLiteral(R"sh(
set -euo pipefail
source "$1"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
src=(-f lavfi -i "color=c=black:s=12x2:r=25:d=20" -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=20")
aac=(-c:a aac -b:a 96k -ac 2 -ar 48000)
ff "${src[@]}" -vf "$(framenumber_filter 640 480),format=yuv420p" -c:v mpeg4 -q:v 3 -g 50 -bf 2 \
   -sc_threshold 1000000000 "${aac[@]}" -f matroska "$2/fresh_mpeg4.mkv"
ff "${src[@]}" -vf "$(framenumber_filter 640 480),fps=60" -c:v libx264 -preset veryfast -pix_fmt yuv420p \
   -g 60 -keyint_min 60 -sc_threshold 0 -bf 0 "${aac[@]}" -movflags +faststart -f mp4 "$2/fresh_h264_60.mp4"
)sh");
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("bash"), {"-c", script, "fresh", testsSourceDir() + QStringLiteral("/clips/framenumber_filter.sh"), dir});
    const bool made = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return made ? QString() : QStringLiteral("ffmpeg failed: ") + QString::fromLocal8Bit(p.readAll());
}

const QSize kPicture(640, 480);

// The window as a screenshot shows it: which clip (by its square) and which frame number.
std::pair<Marker, int> look(const QString &id)
{
    const QImage image = screenshot(id);
    const Marker marker = image.isNull() ? Marker::None : markerOn(image, kPicture);
    return {marker, marker == Marker::None ? -1 : frameNumberOn(image, kPicture)};
}

bool shows(const QString &id, Marker marker)
{
    return poll([&] { return look(id).first == marker; }, 5000);
}

// The first clip's picture once it has stood still (two looks alike): after a pause or a step.
int stillPicture(const QString &id)
{
    std::pair<Marker, int> l, before;
    EXPECT_TRUE(poll([&] { before = l; l = look(id); return l.first == Marker::Red && l.second >= 0 && l == before; }, 10000, 250))
        << "the first clip's picture did not stand still";
    return l.second;
}

// The first new picture of the first clip after `from` (a resume): where it went.
int firstNew(const QString &id, int from)
{
    std::pair<Marker, int> l;
    poll([&] { l = look(id); return l.first == Marker::Red && l.second >= 0 && l.second != from; }, 10000, 50);
    return l.second;
}

// The first clip's picture times as shown, from the debug lines.
QList<double> shownTimes(const QString &output)
{
    QList<double> times;
    for (const QString &line : output.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("PAcket V1 ")))
            times << line.mid(10).toDouble();
    return times;
}

// A right click at a fraction of the width: rendering stands still for a second, then the first
// picture it shows is where the seek went.
int seekClick(const QString &id, double fraction)
{
    clickAt(id, 3, fraction);
    return firstNew(id, stillPicture(id));
}

// Both clips' pictures while paused: the first, a left click to the second, a left click back (at
// two places: two quick clicks at one place are a double click). The first is on screen after it.
std::pair<int, int> readBoth(const QString &id)
{
    std::pair<int, int> both{stillPicture(id), -1};
    std::pair<Marker, int> l;
    clickAt(id, 1, 0.4);
    EXPECT_TRUE(poll([&] { l = look(id); return l.first == Marker::Blue && l.second >= 0; }, 5000)) << "a left click did not switch";
    both.second = l.second;
    clickAt(id, 1, 0.6);
    EXPECT_TRUE(shows(id, Marker::Red)) << "a left click did not switch back";
    return both;
}

// The difference view's bands: bit k set where band k is bright (the clips differ), clear where it
// is black; -1 when a band is neither.
int differenceBands(const QImage &screen)
{
    const QImage rgb = screen.convertToFormat(QImage::Format_RGB888);
    int bits = 0;
    for (int k = 0; k < 12; ++k) {
        const QRgb c = rgb.pixel((2 * k + 1) * rgb.width() / 24, rgb.height() * 3 / 4);
        const int level = (qRed(c) + qGreen(c) + qBlue(c)) / 3;
        if (level > 190)
            bits |= 1 << k;
        else if (level > 30)
            return -1;
    }
    return bits;
}

// Whether the zoomed screenshot shows, along the row three quarters down, the plain one magnified
// `factor` times around x: each pixel is the plain one's at x + (pixel - x) / factor (compared
// away from the plain picture's band edges). The number of pixels that disagree.
int zoomMismatches(const QImage &plain, const QImage &zoomed, int x, double factor)
{
    const int y = plain.height() * 3 / 4;
    auto bright = [y](const QImage &image, int at) { return qGray(image.pixel(at, y)) > 160; };
    int compared = 0, wrong = 0;
    for (int at = 8; at < zoomed.width() - 8; at += 16) {
        const int from = int(x + (at - x) / factor);
        if (bright(plain, from - 3) != bright(plain, from + 3))
            continue;
        ++compared;
        wrong += bright(zoomed, at) != bright(plain, from);
    }
    return compared >= 20 ? wrong : 1000;
}

// Two encodes of one source at different rates, driven through the dialogs: each check judges the
// first picture after what it does, so that playing on cannot pass for it (seeks go back, or far
// ahead of where playing could get), and the clips must agree the first time they are read.
TEST(FramewiseProgram, SeeksStepsShiftsAndViewsLandOnTheRightPictures)
{
    if (const QString why = missingXTools(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    QTemporaryDir clips;
    const QString made = makeFreshClips(clips.path());
    ASSERT_TRUE(made.isEmpty()) << made.toStdString();
    ProgramRun run(QStringLiteral("framewise"));
    ASSERT_TRUE(run.answerDialog(clips.filePath("fresh_mpeg4.mkv"))) << "no first dialog";
    ASSERT_TRUE(run.answerDialog(clips.filePath("fresh_h264_60.mp4"))) << "no second dialog";
    const QString id = waitForWindow(QStringLiteral("^framewise"));
    ASSERT_FALSE(id.isEmpty()) << "no framewise window" << run.outputTail();
    std::pair<Marker, int> l;
    ASSERT_TRUE(poll([&] { l = look(id); return l.second >= 1 && l.first == Marker::Red; }, 20000)) << "no numbered picture" << run.outputTail();

    // A right click while playing: 16 s is far beyond where playing gets meanwhile. The first
    // clip's keyframes are 2 s apart and its video starts 21 ms late, so it may land a keyframe
    // early; the second clip shows where it landed and waits.
    const int landed = seekClick(id, 16.5 / 20);
    EXPECT_TRUE(landed >= 350 && landed < 425) << "the seek to 16 s showed " << landed << run.outputTail();
    EXPECT_TRUE(poll([&] { return look(id).second >= 410; }, 5000));
    keyTo(id, QStringLiteral("space"));
    const int n = stillPicture(id);
    EXPECT_EQ(readBoth(id), std::make_pair(n, n)) << "after the seek";

    // Paused: a double click switches the clip once (its second press must not switch it back).
    // (F is not checked: without a window manager full screen changes nothing on this display.)
    xdo({"mousemove", "--window", id, "100", "100", "click", "--repeat", "2", "--delay", "80", "1"});
    EXPECT_TRUE(shows(id, Marker::Blue)) << "a double click did not switch once";
    clickAt(id, 1, 0.4);
    EXPECT_TRUE(shows(id, Marker::Red));

    // A step back and forth; the second clip moved a picture later, seen in the difference view.
    keyTo(id, QStringLiteral("comma"));
    EXPECT_EQ(readBoth(id), std::make_pair(n - 1, n - 1)) << "a step back";
    keyTo(id, QStringLiteral("period"));
    EXPECT_EQ(stillPicture(id), n) << "a step forward";
    keyTo(id, QStringLiteral("bracketright"));
    EXPECT_TRUE(poll([&] { return windowName(id).contains(QStringLiteral("| offset +1")); }, 5000)) << windowName(id).toStdString();
    EXPECT_EQ(readBoth(id), std::make_pair(n, n - 1)) << "the second clip a picture later";
    keyTo(id, QStringLiteral("d"));
    int bands = -1;
    EXPECT_TRUE(poll([&] { return (bands = differenceBands(screenshot(id))) == (n ^ (n - 1)); }, 5000))
        << "the difference of " << n << " and " << n - 1 << " shows bands " << bands;
    keyTo(id, QStringLiteral("d"));
    keyTo(id, QStringLiteral("bracketleft"));

    // Four notches of the wheel (1.41 times each) magnify four times around the cursor.
    const int x = 186;
    const QImage plain = screenshot(id);
    xdo({"mousemove", "--window", id, QString::number(x), "360", "click", "4", "click", "4", "click", "4", "click", "4"});
    int wrong = -1;
    EXPECT_TRUE(poll([&] { return (wrong = zoomMismatches(plain, screenshot(id), x, 4.0)) == 0; }, 5000))
        << wrong << " pixels of the zoomed row disagree with the plain picture magnified";
    EXPECT_TRUE(windowName(id).contains(QStringLiteral("| 4.0x | x "))) << windowName(id).toStdString();
    keyTo(id, QStringLiteral("0"));
    EXPECT_EQ(stillPicture(id), n) << "0 resets the view";

    // Ten steps back, then space: playing resumes from the pair on screen (the decoders had read
    // on after the picture the steps started from).
    // The debug lines say which picture came first ("PAcket V1" with its time; the last one is n's).
    for (int i = 0; i < 10; ++i)
        keyTo(id, QStringLiteral("comma"));
    EXPECT_TRUE(poll([&] { return look(id).second == n - 10; }, 10000)) << "ten steps back";
    const QList<double> before = shownTimes(run.output());
    keyTo(id, QStringLiteral("space"));
    QList<double> after;
    EXPECT_TRUE(poll([&] { return (after = shownTimes(run.output())).size() > before.size(); }, 10000));
    ASSERT_FALSE(before.isEmpty());
    EXPECT_NEAR(after.value(before.size()) - before.last(), -9 * 0.04, 0.005) << "resumed at the wrong picture";
    keyTo(id, QStringLiteral("space"));
    const int again = stillPicture(id);
    EXPECT_EQ(readBoth(id), std::make_pair(again, again)) << "after resuming";
    // Resumed and paused at once, before the clips' next pictures were decoded: paused on a pair
    // in step all the same.
    for (int i = 0; i < 5; ++i)
        keyTo(id, QStringLiteral("comma"));
    EXPECT_TRUE(poll([&] { return look(id).second == again - 5; }, 10000)) << "five steps back";
    xdo({"key", "--delay", "30", "space", "space"});
    const int quick = stillPicture(id);
    EXPECT_EQ(readBoth(id), std::make_pair(quick, quick)) << "resumed and paused at once";

    // A right click while paused, back to 4 s: rendering restarts a second later, and the next
    // space resumes (it does not pause).
    const int back = seekClick(id, 4.5 / 20);
    EXPECT_TRUE(back >= 50 && back < 125) << "the seek back to 4 s showed " << back;
    keyTo(id, QStringLiteral("space"));
    const int moving = look(id).second;
    QThread::msleep(600);
    EXPECT_GT(look(id).second, moving) << "space after a seek while paused paused";
    keyTo(id, QStringLiteral("space"));
    const int third = stillPicture(id);
    EXPECT_EQ(readBoth(id), std::make_pair(third, third)) << "after the seek back";

    // After the clip's end (its last picture is 499), a seek to 6 s plays again from there.
    keyTo(id, QStringLiteral("space"));
    clickAt(id, 3, 19.5 / 20);
    EXPECT_TRUE(poll([&] { return look(id).second == 499; }, 10000)) << "the end was not reached";
    QThread::msleep(500);
    const int restarted = seekClick(id, 6.5 / 20);
    EXPECT_TRUE(restarted >= 100 && restarted < 175) << "the seek after the end showed " << restarted;
    // Paused, the second clip six of its pictures later (two source pictures): A finds an offset
    // that pairs the same source pictures again (beside the 60 fps clip's repeats more than one
    // does); W ranks every pair.
    keyTo(id, QStringLiteral("space"));
    for (int i = 0; i < 6; ++i)
        keyTo(id, QStringLiteral("bracketright"));
    keyTo(id, QStringLiteral("a"));
    EXPECT_TRUE(poll([&] { return windowName(id).contains(QLatin1String("| aligned at")); }, 20000)) << windowName(id).toStdString();
    const std::pair<int, int> aligned = readBoth(id);
    EXPECT_EQ(aligned.first, aligned.second) << "after A";
    // The result stays in the title once the pair the new offset asks for is on screen.
    EXPECT_TRUE(windowName(id).contains(QLatin1String("| aligned at"))) << windowName(id).toStdString();
    keyTo(id, QStringLiteral("w"));
    EXPECT_TRUE(poll([&] { return windowName(id).contains(QLatin1String("| worst pair 1 of 500")); }, 30000)) << windowName(id).toStdString();
    for (const char *line : {"vado sono su  16", "vado sono su  4", "vado sono su  6", "DIVERSI"})
        EXPECT_TRUE(run.output().contains(QLatin1String(line))) << line;
    EXPECT_TRUE(run.running()) << run.outputTail();
}

// What a tool prints on standard output when run without a display or sound driver; its exit
// status in code.
QStringList runTool(const QString &program, const QStringList &args, int *code)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "QT_QPA_PLATFORM", "SDL_AUDIODRIVER"})
        env.remove(QString::fromLatin1(name));
    p.setProcessEnvironment(env);
    p.start(program, args);
    const bool done = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit;
    *code = done ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// One figure per frame from ffmpeg's metadata printout: the values of key, in order.
QList<double> printed(const QString &path, const QString &key)
{
    QList<double> values;
    for (const QString &line : ProgramRun::readText(path).split(QLatin1Char('\n')))
        if (line.startsWith(key + QLatin1Char('=')))
            values << (line.endsWith(QLatin1String("inf")) ? INFINITY : line.section(QLatin1Char('='), 1).toDouble());
    return values;
}

// --compare against ffmpeg's own psnr and ssim filters on the same two encodes of one source
// (ffmpeg pairs by time stamp: each clip counted from its first picture, as framewise does; the
// offset as a trim of the second clip), the gate's exit status and the files.
TEST(FramewiseProgram, CompareGivesFfmpegsFiguresPairByPair)
{
    struct Row {
        const char *name;
        QStringList args;
        const char *secondTrim;   // for ffmpeg
        int pairs;                // ffmpeg pairs the first clip's last picture with the second's last
        int exitCode;             // however far before it that one ends: framewise leaves it out
    };
    const Row rows[] = {
        {"in step, a gate every pair reaches", {"--min-psnr", "40"}, "", 200, 0},
        {"the second clip a picture earlier", {"--offset", "-1"}, "trim=start_frame=1,", 199, 0},
        {"a gate some pairs miss", {"--min-psnr", "50"}, "", 200, 4},
    };
    const QString first = clipPath(QStringLiteral("h264_aac.mp4")), second = clipPath(QStringLiteral("h264_nobframes.mkv"));
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        const QString csv = dir.filePath(QStringLiteral("rows.csv")), plot = dir.filePath(QStringLiteral("chart.svg"));
        int code = -1;
        const QStringList out = runTool(binDir() + QStringLiteral("/framewise"),
                                        QStringList{"--compare", first, second, "--csv", csv, "--plot", plot} + row.args, &code);
        EXPECT_EQ(code, row.exitCode) << out.join('\n').toStdString();
        const QString filters = QStringLiteral("[0:v]setpts=PTS-STARTPTS,split[a1][a2];[1:v]%1setpts=PTS-STARTPTS,split[b1][b2];"
                                               "[a1][b1]psnr,metadata=print:file=%2/psnr.txt[p];[a2][b2]ssim,metadata=print:file=%2/ssim.txt[s]")
                                    .arg(QLatin1String(row.secondTrim), dir.path());
        int ffmpegCode = -1;
        runTool(QStringLiteral("ffmpeg"), {"-v", "error", "-i", first, "-i", second, "-filter_complex", filters,
                                              "-map", "[p]", "-f", "null", "-", "-map", "[s]", "-f", "null", "-"}, &ffmpegCode);
        ASSERT_EQ(ffmpegCode, 0);
        const QList<double> psnrY = printed(dir.filePath("psnr.txt"), "lavfi.psnr.psnr.y");
        const QList<double> psnrAll = printed(dir.filePath("psnr.txt"), "lavfi.psnr.psnr_avg");
        const QList<double> ssimY = printed(dir.filePath("ssim.txt"), "lavfi.ssim.Y");
        const QStringList lines = ProgramRun::readText(csv).split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), row.pairs + 1);
        ASSERT_GE(psnrY.size(), row.pairs);
        EXPECT_EQ(lines, out.mid(0, lines.size())) << "the file holds the rows printed";
        for (int i = 1; i < lines.size(); ++i) {
            const QStringList f = lines.at(i).split(QLatin1Char(','));
            const auto value = [&f](int k) { return f.at(k) == QLatin1String("inf") ? INFINITY : f.at(k).toDouble(); };
            ASSERT_EQ(f.size(), 7);
            EXPECT_EQ(f.at(2).toInt(), i - 1);
            EXPECT_EQ(f.at(3).toInt(), i - (QLatin1String(row.secondTrim).isEmpty() ? 1 : 0)) << "row " << i;
            for (auto [ours, theirs, tolerance] : {std::tuple{value(4), psnrY.at(i - 1), 0.01}, {value(5), psnrAll.at(i - 1), 0.01},
                                                   {value(6), ssimY.at(i - 1), 1e-5}})
                EXPECT_TRUE(ours == theirs || std::abs(ours - theirs) <= tolerance) << "row " << i << ": " << ours << " against " << theirs;
        }
        EXPECT_TRUE(ProgramRun::readText(plot).contains(QLatin1String("<polyline")));
    }
}

// Clips named on the command line need no dialogs; --debug shows the debug lines. One clip (as a
// file manager opens it) asks for the second.
TEST(FramewiseProgram, ClipsOnTheCommandLineNeedNoDialogs)
{
    if (const QString why = missingXTools(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    const QString clip = clipPath("h264_aac.mp4");
    ProgramRun run(QStringLiteral("framewise"), {QStringLiteral("--debug"), clip, clip}, false);
    const QString id = waitForWindow(QStringLiteral("^framewise - 1: "));
    ASSERT_FALSE(id.isEmpty()) << run.outputTail();
    EXPECT_TRUE(windowsNamed(QStringLiteral("^Open Video$")).isEmpty());
    EXPECT_TRUE(poll([&] { return run.output().contains(QStringLiteral("PAcket V1")); }, 10000)) << run.outputTail();
    ProgramRun one(QStringLiteral("framewise"), {clip}, false);
    ASSERT_TRUE(one.answerDialog(clip)) << one.outputTail();
    EXPECT_FALSE(waitForWindow(QStringLiteral("^framewise - 1: "), {id}).isEmpty()) << one.outputTail();

    // When both fail only the second, checked first, is named: one line, no message box.
    ProgramRun missing(QStringLiteral("framewise"), {"/nonexistent/one.mp4", "/nonexistent/two.mp4"}, false);
    ASSERT_TRUE(missing.process().waitForFinished(30000)) << missing.outputTail();
    EXPECT_EQ(missing.process().exitCode(), 1);
    EXPECT_TRUE(missing.output().contains(QStringLiteral("framewise: cannot open /nonexistent/two.mp4"))) << missing.outputTail();
    EXPECT_FALSE(missing.output().contains(QStringLiteral("one.mp4"))) << missing.outputTail();
}

} // namespace
