// The fuzz entry in the ordinary test builds (and so under AddressSanitizer in the sanitizer
// build): every input kept from a fuzzing crash still runs to its end, and the clip corpus the
// fuzzer is seeded with really decodes through the entry (a target that opened nothing would find
// nothing).
#include "fuzz/opendecoderun.h"
#include "tests/common/testclips.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

OpenDecodeRun::Result runFile(const QString &path)
{
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    EXPECT_FALSE(bytes.isEmpty()) << path.toStdString();
    return OpenDecodeRun::run(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
}

TEST(FuzzEntry, KeptInputsRunToTheirEndAndTheSeedCorpusDecodes)
{
    // Each file there once crashed the engine or tripped a sanitizer; replaying it must simply
    // return, ended by the input or by the picture bound, never by running out of steps.
    const QDir dir(QStringLiteral(FUZZ_REGRESSIONS_DIR));
    for (const QString &name : dir.entryList({QStringLiteral("*")}, QDir::Files, QDir::Name)) {
        if (name.endsWith(".md"))
            continue;
        const OpenDecodeRun::Result r = runFile(dir.filePath(name));
        EXPECT_TRUE(!r.opened || (r.steps < OpenDecodeRun::maxSteps && (r.ended || r.pictures >= OpenDecodeRun::maxPictures)))
            << name.toStdString() << ": " << r.steps << " steps, " << r.pictures << " pictures";
    }
    // Clip, opens, has sound. Pictures came, the seek to the middle happened and decoding went on.
    const std::tuple<const char *, bool, bool> cases[] = {
        {"h264_aac.mp4", true, true},   {"vp9_opus.mkv", true, true},      {"mpeg2_mp2.mpg", true, true},
        {"ts_offset10.ts", true, true}, {"h264_noaudio.mp4", true, false}, {"audio_only.m4a", false, false},
        {"no_decoder.mkv", false, false},
    };
    for (const auto &[clip, opens, sound] : cases) {
        const OpenDecodeRun::Result r = runFile(testsupport::clipPath(QLatin1String(clip)));
        EXPECT_EQ(r.opened, opens) << clip;
        EXPECT_TRUE(!opens || (r.seeked && r.pictures >= OpenDecodeRun::maxPictures && r.steps < OpenDecodeRun::maxSteps
                               && (r.audioBlocks > 0) == sound)) << clip << ": " << r.steps << " steps";
    }
    const OpenDecodeRun::Result empty = OpenDecodeRun::run(nullptr, 0);
    EXPECT_TRUE(!empty.opened && empty.steps == 0);
}

} // namespace
