// libFuzzer target: every input is a clip, opened and decoded through the engine's byte path from
// memory (see OpenDecodeRun). Built by the SEEKMARK_FUZZ configuration; scripts/run-tests.sh runs
// it, seeded with the clip corpus.
#include "opendecoderun.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {
void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // No sound card is needed or wanted: the device is opened, never played.
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    // Broken inputs make FFmpeg and the engine's warnings talk a lot; the fuzzer's own lines matter.
    av_log_set_level(AV_LOG_QUIET);
    qInstallMessageHandler(quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    OpenDecodeRun::run(data, size);
    return 0;
}
