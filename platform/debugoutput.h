#pragma once

// The debugger output: the windows' debug lines (Qt's debug stream) and a few traces written to it
// straight, past Qt's message handler ("drop ZERO: ...", "repeat ZERO: ...", "drop:..."). On
// Windows it is the debugger's channel, seen only when a debugger listens. Elsewhere it goes to
// stderr, but only when asked for (SEEKMARK_DEBUG=1 in the environment, or a program's --debug):
// the players write hundreds of lines a second, and a terminal flooded with them hides the log
// channels' warnings, which always reach stderr. Text goes out unchanged (no newline added) and
// is flushed at once, so it interleaves correctly with Qt's own output.
void debugOutput(const char *text);

// Whether the debugger output is shown. Starts as SEEKMARK_DEBUG=1 in the environment says.
bool debugOutputEnabled();
void setDebugOutputEnabled(bool enabled);

// Makes Qt's debug and info lines follow the same switch; warnings and worse always pass. A
// program calls it once, first thing in main(). Tests that catch Qt's lines install their own
// handler instead and see every line.
void routeQtDebugToDebugOutput();
