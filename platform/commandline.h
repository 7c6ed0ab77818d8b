#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// What a player's command line asks for: clips to open instead of asking in the dialog, --debug
// (show the debugger output, see debugoutput.h) and --help. Parsed twice: from the raw arguments
// before the application object exists (help and the debug switch only: --help must work without
// a display, and the switch must hold before Qt says anything), then from the arguments Qt leaves
// once it has taken its own (-platform, -display ...), where anything else starting with '-' is an
// error. A program may name options of its own: flags, and options that take the next argument as
// their value (which may start with '-', as a negative number does).
class CommandLine {
public:
    // Without the program name.
    static CommandLine parse(const QStringList &arguments, const QStringList &flags = {},
                             const QStringList &valued = {});
    // The first reading, from main()'s own arguments before the application object exists: turns
    // the debug output on for --debug and routes Qt's messages to it; true when --help asked for
    // the usage, which has then been printed (the program ends with status 0).
    static bool answeredEarly(int argc, char **argv, const char *usage);
    // A command line the program cannot take: the reason and the usage on stderr; returns the
    // exit status for it, 2.
    static int refuse(const char *program, const QString &why, const char *usage);

    bool help = false;
    bool debug = false;
    QStringList clips;   // as given, in order
    QStringList flags;   // the program's own flags given
    QHash<QString, QString> values;   // the program's own valued options given, with their values
    QString error;       // an option the program does not know or a value missing; empty when all is well
};
