#include "ffmpeglog.h"

#include "log/logcategory.h"
#include "log/terminalrule.h"
#include "platform/debugoutput.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QString>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

int levelOf(int ffmpegLevel)
{
    if (ffmpegLevel <= AV_LOG_FATAL)
        return LOG_FATAL;
    if (ffmpegLevel <= AV_LOG_ERROR)
        return LOG_ERROR;
    if (ffmpegLevel <= AV_LOG_WARNING)
        return LOG_WARN;
    return ffmpegLevel <= AV_LOG_INFO ? LOG_INFO : LOG_DEBUG;
}

void callback(void *context, int ffmpegLevel, const char *format, va_list arguments)
{
    if (ffmpegLevel > av_log_get_level())
        return;
    // FFmpeg builds one line from several calls; the prefix goes before the first part only.
    thread_local int printPrefix = 1;
    char line[1024];
    av_log_format_line2(context, ffmpegLevel, format, arguments, line, sizeof(line), &printPrefix);
    if (TerminalRule::reachesTerminal(TerminalRule::Origin::FFmpeg, levelOf(ffmpegLevel), QString::fromUtf8(line))) {
        std::fputs(line, stderr);
        std::fflush(stderr);
    } else {
        debugOutput(line);
    }
}

} // namespace

void FfmpegLog::install()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(&callback); });
}
