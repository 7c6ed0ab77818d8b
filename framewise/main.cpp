// framewise: two clips decoded together, kept in step picture by picture, shown one at a time.
// The two clips come from the command line or, without them, from two open dialogs.
#include "player.h"

#include "platform/clipdialog.h"
#include "platform/commandline.h"
#include "platform/debugoutput.h"
#include "platform/sanitizerquirks.h"

#include <QApplication>
#include <QFileInfo>
#include <QSurfaceFormat>

#include <cstdio>
#include <memory>

namespace {

const char *const kUsage =
    "Usage: framewise [--debug] [CLIP1 [CLIP2]]\n"
    "Decodes both clips at once, keeps them in step picture by picture and shows one at a time\n"
    "(a left click switches; see the README). Without clips it asks for them in two dialogs,\n"
    "with one (as a file manager opens it) for the second.\n"
    "  --debug   show the debug output on stderr (also SEEKMARK_DEBUG=1); warnings always show\n"
    "  --help    this text\n"
    "Exit status 1: a clip named here cannot be opened. 2: a bad command line.\n";

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
    if (!line.error.isEmpty() || line.clips.size() > 2)
        return CommandLine::refuse("framewise", line.error.isEmpty() ? QStringLiteral("two clips at most") : line.error, kUsage);

    std::unique_ptr<Player> player;
    if (line.clips.isEmpty()) {
        player = std::make_unique<Player>();
    } else {
        Player::Clips clips;
        clips.first = QFileInfo(line.clips.at(0)).absoluteFilePath();
        // One clip: the second comes from the dialog, and failures are told in message boxes as
        // after the dialogs (a file manager shows no terminal).
        if (line.clips.size() == 2)
            clips.second = QFileInfo(line.clips.at(1)).absoluteFilePath();
        clips.fromCommandLine = line.clips.size() == 2;
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
