// Entry point of seekmark: one Player, which opens the clip named on the command line or asks for
// one in the open dialog, and plays it. The event loop ends when the last window (the player or
// the access view) is closed.
#include "seekmark/player.h"

#include "access/ffmpegvideo.h"
#include "platform/clipdialog.h"
#include "platform/commandline.h"
#include "platform/debugoutput.h"
#include "platform/sanitizerquirks.h"
#include "platform/windowplacement.h"

#include <QApplication>
#include <QFileInfo>
#include <QSurfaceFormat>

#include <cstdio>
#include <memory>

namespace {

const char *const kUsage =
    "Usage: seekmark [--debug] [CLIP]\n"
    "Plays CLIP with picture and sound, shows how it is read in the \"File access\" window and\n"
    "measures where seeks land (see the README). Without CLIP it asks for one in a dialog;\n"
    "cancelling the dialog plays the sample clip beside the program.\n"
    "  --debug   show the debug output on stderr (also SEEKMARK_DEBUG=1); warnings always show\n"
    "  --help    this text\n"
    "Exit status 1: CLIP cannot be opened. 2: a bad command line.\n";

} // namespace

int main(int argc, char **argv)
{
    keepGlDriverResident();
    // Help needs no display, and the debug switch has to hold before Qt writes anything.
    if (CommandLine::answeredEarly(argc, argv, kUsage))
        return 0;

    // The GL format has to be the default before the application object exists.
    QSurfaceFormat::setDefaultFormat(Player::surfaceFormat());
    QApplication app(argc, argv);
    const CommandLine line = CommandLine::parse(app.arguments().mid(1));
    if (!line.error.isEmpty() || line.clips.size() > 1)
        return CommandLine::refuse("seekmark", line.error.isEmpty() ? QStringLiteral("one clip at most") : line.error, kUsage);

    std::unique_ptr<Player> player;
    if (line.clips.isEmpty()) {
        player = std::make_unique<Player>(QString(), nullptr);
    } else {
        Player::Setup setup;
        setup.askForClip = false;
        setup.clip = QFileInfo(line.clips.constFirst()).absoluteFilePath();
        player = std::make_unique<Player>(setup, nullptr);
        const auto *video = qobject_cast<const FFMpegVideo *>(player->video());
        if (!video || !video->isOpened()) {
            // The dialog's way is to show the failure in the title and play on; a clip named on
            // the command line is the whole errand, so its failure ends the program.
            std::fprintf(stderr, "seekmark: cannot open %s: %s\n", qPrintable(line.clips.constFirst()),
                         qPrintable(video ? video->errorString() : QStringLiteral("the report cannot be written")));
            return 1;
        }
        ClipDialog::rememberClip(setup.clip);
    }
    player->showNormal();
    WindowPlacement::placeBesideWhenShown(WindowPlacement::windowOf(player.get()), &player->accessView());
    app.exec();
    player.reset();
    return 0;
}
