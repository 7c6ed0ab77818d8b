// framewise: two clips decoded together, kept in step picture by picture, shown one at a time.
// The two clips come from the command line or, without them, from two open dialogs. With
// --compare it opens no window and measures every pair instead.
#include "comparerun.h"
#include "player.h"

#include "platform/clipdialog.h"
#include "platform/commandline.h"
#include "platform/debugoutput.h"
#include "platform/sanitizerquirks.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSurfaceFormat>
#include <QTextStream>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const char *const kUsage =
    "Usage: framewise [--debug] [--offset N] [CLIP1 [CLIP2]]\n"
    "       framewise --compare CLIP1 CLIP2 [--offset N] [--csv FILE] [--plot FILE.svg] [--min-psnr DB]\n"
    "Decodes both clips at once, keeps them in step picture by picture and shows one at a time\n"
    "(see the README). Without clips it asks for them in two dialogs, with one (as a file manager\n"
    "opens it) for the second.\n"
    "  --debug        show the debug output on stderr (also SEEKMARK_DEBUG=1); warnings always show\n"
    "  --offset N     the second clip moved N of its pictures later (negative: earlier)\n"
    "  --compare      no window: pairs the pictures as the window does and measures each pair with\n"
    "                 libavfilter's psnr and ssim filters; a CSV row per pair (first_s, second_s,\n"
    "                 first_picture, second_picture, psnr_y, psnr_all, ssim_y), then a summary\n"
    "  --csv FILE     also write the rows to FILE\n"
    "  --plot FILE    a chart of the figures by time (SVG)\n"
    "  --min-psnr DB  the gate: every pair's luma PSNR must reach DB\n"
    "  --help         this text\n"
    "In the window: left click switches the clip, right click seeks both, space pauses and\n"
    "resumes, F full screen; . and , step a picture forward and back; ] and [ move the second\n"
    "clip a picture later and earlier, A aligns it (best luma PSNR within 30 pictures); the wheel\n"
    "zooms at the cursor, a left drag pans, 0 resets; D shows the difference, V splits at the\n"
    "cursor; W jumps to the next worst pair.\n"
    "Exit status 1: a clip named here cannot be opened (--compare: decoding stalled or nothing to pair).\n"
    "2: a bad command line. --compare: 3: a clip cannot be opened or a file cannot be written;\n"
    "4: a pair below --min-psnr.\n";

const QStringList kFlags = {QStringLiteral("--compare")};
const QStringList kValued = {QStringLiteral("--offset"), QStringLiteral("--csv"), QStringLiteral("--plot"),
                             QStringLiteral("--min-psnr")};
constexpr int kMaxOffset = 100000;

// The command line's own options; false with the reason in why.
bool readOptions(const CommandLine &line, CompareRun::Settings &settings, QString &why)
{
    if (!line.error.isEmpty()) {
        why = line.error;
        return false;
    }
    const bool compare = line.flags.contains(QStringLiteral("--compare"));
    if (compare ? line.clips.size() != 2 : line.clips.size() > 2) {
        why = compare ? QStringLiteral("--compare takes two clips") : QStringLiteral("two clips at most");
        return false;
    }
    if (!compare && (line.values.contains(QStringLiteral("--csv")) || line.values.contains(QStringLiteral("--plot"))
                     || line.values.contains(QStringLiteral("--min-psnr")))) {
        why = QStringLiteral("--csv, --plot and --min-psnr go with --compare");
        return false;
    }
    bool ok = true;
    if (line.values.contains(QStringLiteral("--offset"))) {
        const QString value = line.values.value(QStringLiteral("--offset"));
        settings.offset = value.toInt(&ok);
        if (!ok || std::abs(settings.offset) > kMaxOffset) {
            why = QStringLiteral("--offset takes a number of pictures from %1 to %2, not \"%3\"").arg(-kMaxOffset).arg(kMaxOffset).arg(value);
            return false;
        }
    }
    if (line.values.contains(QStringLiteral("--min-psnr"))) {
        const QString value = line.values.value(QStringLiteral("--min-psnr"));
        settings.minPsnr = value.toDouble(&ok);
        if (!ok || !std::isfinite(settings.minPsnr)) {
            why = QStringLiteral("--min-psnr takes a number of dB, not \"%1\"").arg(value);
            return false;
        }
    }
    settings.csvFile = line.values.value(QStringLiteral("--csv"));
    settings.plotFile = line.values.value(QStringLiteral("--plot"));
    if (!line.clips.isEmpty()) {
        settings.first = QFileInfo(line.clips.at(0)).absoluteFilePath();
        if (line.clips.size() == 2)
            settings.second = QFileInfo(line.clips.at(1)).absoluteFilePath();
    }
    return true;
}

// Reads the command line the application object left; 0, or the exit status of a refusal (the
// reason and the usage are on stderr then).
int readCommandLine(CommandLine &line, CompareRun::Settings &settings)
{
    line = CommandLine::parse(QCoreApplication::arguments().mid(1), kFlags, kValued);
    QString why;
    return readOptions(line, settings, why) ? 0 : CommandLine::refuse("framewise", why, kUsage);
}

bool asksForComparison(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--compare") == 0)
            return true;
    return false;
}

int compare(int argc, char **argv)
{
    // The engine opens a sound device for a clip with sound even when it decodes none; the
    // comparison plays nothing and must run where there is no device, and without a display.
    qputenv("SDL_AUDIODRIVER", "dummy");
    QCoreApplication app(argc, argv);
    CommandLine line;
    CompareRun::Settings settings;
    if (const int refused = readCommandLine(line, settings))
        return refused;
    QTextStream out(stdout);
    QTextStream err(stderr);
    return CompareRun::run(settings, out, err);
}

} // namespace

int main(int argc, char **argv)
{
    keepGlDriverResident();
    // Help needs no display, and the debug switch has to hold before Qt writes anything.
    if (CommandLine::answeredEarly(argc, argv, kUsage))
        return 0;
    // The metric filters write their averages to the log as they close: the summary and the
    // title have them.
    av_log_set_level(AV_LOG_WARNING);
    if (asksForComparison(argc, argv))
        return compare(argc, argv);

    // The GL format has to be the default before the application object exists.
    QSurfaceFormat::setDefaultFormat(Player::surfaceFormat());
    QApplication app(argc, argv);
    CommandLine line;
    CompareRun::Settings settings;
    if (const int refused = readCommandLine(line, settings))
        return refused;

    std::unique_ptr<Player> player;
    if (line.clips.isEmpty()) {
        player = std::make_unique<Player>(QString(), nullptr, settings.offset);
    } else {
        Player::Clips clips;
        clips.first = settings.first;
        // One clip: the second comes from the dialog, and failures are told in message boxes as
        // after the dialogs (a file manager shows no terminal).
        clips.second = settings.second;
        clips.fromCommandLine = line.clips.size() == 2;
        clips.offset = settings.offset;
        player = std::make_unique<Player>(clips);
        if (!player->openFailed() && clips.fromCommandLine)
            ClipDialog::rememberClip(clips.second);
    }
    // A clip that cannot be opened has been reported (a message box after the dialogs, which is
    // not an error; a line on stderr for the command line's clips, which is).
    if (player->openFailed())
        return line.clips.isEmpty() ? 0 : 1;

    player->showNormal();
    app.exec();
    player.reset();
    return 0;
}
