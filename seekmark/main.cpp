// Entry point of seekmark: one Player, which asks for the clip, opens it and plays it. The command
// line is not read. The event loop ends when the last window (the player or the access view) is
// closed.
#include "seekmark/player.h"

#include "platform/sanitizerquirks.h"

#include <QApplication>
#include <QSurfaceFormat>

int main(int argc, char **argv)
{
    keepGlDriverResident();
    // The GL format has to be the default before the application object exists.
    QSurfaceFormat::setDefaultFormat(Player::surfaceFormat());
    QApplication app(argc, argv);
    {
        Player player(QString(), nullptr);
        player.showNormal();
        app.exec();
    }
    return 0;
}
