#include "terminalrule.h"

#include "logcategory.h"

#include <QStringList>

bool TerminalRule::reachesTerminal(Origin origin, int level, const QString &text)
{
    if (origin == Origin::FFmpeg)
        return level >= LOG_FATAL;
    static const QStringList perPacket = {QStringLiteral("bad picture packet"), QStringLiteral("bad free packet"),
                                          QStringLiteral("error decoding audio"), QStringLiteral("bad packet")};
    return level >= LOG_WARN && !perPacket.contains(text);
}
