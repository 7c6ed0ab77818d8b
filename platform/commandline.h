#pragma once

#include <QString>
#include <QStringList>

// What a player's command line asks for: clips to open instead of asking in the dialog, --debug
// (show the debugger output, see debugoutput.h) and --help. Parsed twice: from the raw arguments
// before the application object exists (help and the debug switch only: --help must work without
// a display, and the switch must hold before Qt says anything), then from the arguments Qt leaves
// once it has taken its own (-platform, -display ...), where anything else starting with '-' is an
// error.
class CommandLine {
public:
    static CommandLine parse(const QStringList &arguments);   // without the program name

    bool help = false;
    bool debug = false;
    QStringList clips;   // as given, in order
    QString error;       // an option the programs do not know; empty when all is well
};
