#include "commandline.h"

#include "debugoutput.h"

#include <cstdio>

CommandLine CommandLine::parse(const QStringList &arguments, const QStringList &flags, const QStringList &valued)
{
    CommandLine line;
    bool optionsEnd = false;   // after "--" everything is a clip, even "-odd name.mp4"
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (optionsEnd || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            line.clips << argument;
        } else if (argument == QLatin1String("--")) {
            optionsEnd = true;
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            line.help = true;
        } else if (argument == QLatin1String("--debug")) {
            line.debug = true;
        } else if (flags.contains(argument)) {
            line.flags << argument;
        } else if (valued.contains(argument)) {
            if (i + 1 < arguments.size())
                line.values.insert(argument, arguments.at(++i));
            else if (line.error.isEmpty())
                line.error = QStringLiteral("%1 needs a value").arg(argument);
        } else if (line.error.isEmpty()) {
            line.error = QStringLiteral("unknown option %1").arg(argument);
        }
    }
    return line;
}

bool CommandLine::answeredEarly(int argc, char **argv, const char *usage)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine early = parse(arguments);
    if (early.help) {
        std::fputs(usage, stdout);
        return true;
    }
    if (early.debug)
        setDebugOutputEnabled(true);
    routeQtDebugToDebugOutput();
    return false;
}

int CommandLine::refuse(const char *program, const QString &why, const char *usage)
{
    std::fprintf(stderr, "%s: %s\n%s", program, qPrintable(why), usage);
    return 2;
}
