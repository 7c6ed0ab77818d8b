// framewise: two clips decoded together, kept in step picture by picture, shown one at a time.
#include "player.h"

#include "platform/sanitizerquirks.h"

#include <QApplication>
#include <QSurfaceFormat>

int main(int argc, char **argv)
{
    keepGlDriverResident();
    // The GL format has to be the default before the application object exists.
    QSurfaceFormat::setDefaultFormat(Player::surfaceFormat());
    QApplication app(argc, argv);

    Player player;
    // A clip that cannot be opened has been reported in a message box; once it is closed the
    // program ends, and that is not an error.
    if (player.openFailed())
        return 0;

    player.showNormal();
    app.exec();
    return 0;
}
