#include "debugoutput.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdio>
#endif

void debugOutput(const char *text)
{
    if (!text)
        return;
#ifdef _WIN32
    OutputDebugStringA(text);
#else
    std::fputs(text, stderr);
    std::fflush(stderr);
#endif
}
