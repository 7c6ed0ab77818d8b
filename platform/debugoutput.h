#pragma once

// The debugger output that a few traces of the programs write to straight, past Qt's message
// handler ("drop ZERO: ...", "repeat ZERO: ...", "drop:..."). On Windows it is the debugger's
// channel; elsewhere the text goes to stderr unchanged (no newline added) and is flushed at once,
// so the lines interleave correctly with Qt's own output.
void debugOutput(const char *text);
