#include "commandline.h"

CommandLine CommandLine::parse(const QStringList &arguments)
{
    CommandLine line;
    bool optionsEnd = false;   // after "--" everything is a clip, even "-odd name.mp4"
    for (const QString &argument : arguments) {
        if (optionsEnd || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            line.clips << argument;
        } else if (argument == QLatin1String("--")) {
            optionsEnd = true;
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            line.help = true;
        } else if (argument == QLatin1String("--debug")) {
            line.debug = true;
        } else if (line.error.isEmpty()) {
            line.error = QStringLiteral("unknown option %1").arg(argument);
        }
    }
    return line;
}
