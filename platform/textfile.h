#pragma once

#include <QString>

class QTextStream;

// A whole text file written at once (the tools' summaries and charts). A file that cannot be
// written is named on err with the reason, as "<program>: cannot write <path>: <why>".
// No state; any thread.
class TextFile {
public:
    static bool write(const char *program, const QString &path, const QString &text, QTextStream &err);
};
