#pragma once

#include <QString>

// Message levels of the log channels. A message passes a channel when its level is at least the
// channel's threshold.
enum LogLevel { LOG_NONE = 0, LOG_DEBUG = 1, LOG_INFO = 2, LOG_WARN = 3, LOG_ERROR = 4, LOG_FATAL = 5 };

// A named log channel. Every channel fixes its threshold at WARN on its first message (and says so
// in a creation line), so the engine's DEBUG and INFO lines are filtered out and only its warnings
// and errors reach Qt's message output: its warning output, which reaches the terminal, or, for the
// warnings TerminalRule counts as normal operation, its debug output.
//
// Threads: any. One process-wide mutex serialises the first-use step and the writing of every line
// across all channels, so lines of different threads never interleave.
class LogCategory {
public:
    explicit LogCategory(const char *name);

    // file may be null and line -1: the line then ends after the text.
    void log(int level, const QString &text, const char *file, int line);
    void log(int level, const char *text, const char *file, int line);

    static const char *levelName(int level);

    QString name() const { return m_Name; }

private:
    QString m_Name;
    int m_Level = LOG_NONE;       // guarded by the process-wide log mutex
    bool m_Initialised = false;   // guarded by the process-wide log mutex
};
