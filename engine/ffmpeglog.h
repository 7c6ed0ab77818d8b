#pragma once

// FFmpeg's own messages follow the programs' rule for the terminal (TerminalRule): they go to the
// debug output, with FFmpeg's prefix ("[mov,mp4,m4a,3gp,3g2,mj2 @ 0x...]"), and reach the terminal
// only when FFmpeg gives up altogether. FFmpeg's level filter (av_log_set_level) still applies.
//
// Threads: install() once from any thread (the engine does it when the first decoder is made);
// FFmpeg calls the callback on whichever thread logs.
class FfmpegLog {
public:
    static void install();
};
