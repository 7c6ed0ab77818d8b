#pragma once

#include <QString>

// Which diagnostic lines reach the terminal (stderr) in normal use; the others go to the debug
// output only (--debug, SEEKMARK_DEBUG=1), with their texts and levels unchanged. The terminal
// carries what a user must know: a clip refused, a seek that failed, no sound device, a report
// that cannot be written. Normal operation stays off it: the read-and-decode loop's lines about
// single packets (the packets that fill the decoder's delay at the start and after every seek, a
// packet of a stream nobody plays, sound cut by a seek) and FFmpeg's own messages (for instance
// libavformat's note that our byte path names no protocol), unless FFmpeg gives up altogether.
class TerminalRule {
public:
    enum class Origin {
        Channel,   // the engine's log channels (LogCategory)
        FFmpeg,    // FFmpeg's log, its levels mapped to LogLevel
    };
    static bool reachesTerminal(Origin origin, int level, const QString &text);
};
