#include "debugoutput.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

bool enabledByEnvironment()
{
#ifdef _WIN32
    return true;   // the debugger's channel costs nothing when nobody listens
#else
    return qEnvironmentVariable("SEEKMARK_DEBUG") == QLatin1String("1");
#endif
}

// Read on every thread that writes a trace (the decoder's included).
std::atomic<bool> &enabledFlag()
{
    static std::atomic<bool> enabled{enabledByEnvironment()};
    return enabled;
}

QtMessageHandler s_QtHandler = nullptr;   // set once, before any thread of the program runs

void gatedQtHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if ((type == QtDebugMsg || type == QtInfoMsg) && !debugOutputEnabled())
        return;
    if (s_QtHandler) {
        s_QtHandler(type, context, text);
    } else {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
    }
}

} // namespace

bool debugOutputEnabled()
{
    return enabledFlag().load(std::memory_order_relaxed);
}

void setDebugOutputEnabled(bool enabled)
{
    enabledFlag().store(enabled, std::memory_order_relaxed);
}

void routeQtDebugToDebugOutput()
{
    QtMessageHandler previous = qInstallMessageHandler(&gatedQtHandler);
    if (previous != &gatedQtHandler)
        s_QtHandler = previous;
}

void debugOutput(const char *text)
{
    if (!text || !debugOutputEnabled())
        return;
#ifdef _WIN32
    OutputDebugStringA(text);
#else
    std::fputs(text, stderr);
    std::fflush(stderr);
#endif
}
