// The fuzz entry in the ordinary test builds (and so under AddressSanitizer in the sanitizer
// build): every input kept from a fuzzing crash still runs to its end, the clip corpus the fuzzer
// is seeded with really decodes through the entry (a target that opened nothing would find
// nothing), and the memory source reads like a driver at its edges.
#include "fuzz/memorybytesource.h"
#include "fuzz/opendecoderun.h"
#include "tests/common/testclips.h"

#include <QByteArray>
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

// Each file there once crashed the engine or tripped a sanitizer; replaying it must simply return.
TEST(FuzzRegressions, EveryKeptInputRunsToItsEnd)
{
    const QDir dir(QStringLiteral(FUZZ_REGRESSIONS_DIR));
    for (const QString &name : dir.entryList({QStringLiteral("*")}, QDir::Files, QDir::Name)) {
        if (!name.endsWith(QLatin1String(".md"))) {
            EXPECT_LE(runFile(dir.filePath(name)).steps, OpenDecodeRun::maxSteps) << name.toStdString();
        }
    }
}

TEST(FuzzEntry, DecodesTheClipCorpusItIsSeededWith)
{
    struct Case {
        const char *clip;
        bool opens;
        bool sound;
    };
    const Case cases[] = {
        {"h264_aac.mp4", true, true},     {"vp9_opus.mkv", true, true},     {"mpeg2_mp2.mpg", true, true},
        {"ts_offset10.ts", true, true},   {"h264_noaudio.mp4", true, false}, {"audio_only.m4a", false, false},
        {"no_decoder.mkv", false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.clip);
        const OpenDecodeRun::Result result = runFile(testsupport::clipPath(QLatin1String(c.clip)));
        EXPECT_EQ(result.opened, c.opens);
        if (c.opens) {
            // Pictures came, the seek to the middle happened and decoding went on after it.
            EXPECT_TRUE(result.seeked);
            EXPECT_GE(result.pictures, OpenDecodeRun::maxPictures);
            EXPECT_EQ(result.audioBlocks > 0, c.sound);
        }
    }
    const OpenDecodeRun::Result empty = OpenDecodeRun::run(nullptr, 0);
    EXPECT_FALSE(empty.opened);
    EXPECT_EQ(empty.steps, 0);
}

TEST(MemoryByteSource, ReadsLikeADriverAtEveryEdge)
{
    static const char digits[] = "0123456789";
    MemoryByteSource source(reinterpret_cast<const uint8_t *>(digits), 10);
    EXPECT_EQ(source.sourceSize(), 10);
    struct Case {
        qint64 offset;
        qint64 size;
        qint64 count;
        const char *bytes;
    };
    const Case cases[] = {
        {0, 4, 4, "0123"}, {8, 4, 2, "89"}, {0, 100, 10, "0123456789"}, {10, 4, 0, ""},
        {11, 1, 0, ""},    {3, 0, 0, ""},   {-1, 4, -1, ""},            {2, -1, -1, ""},
    };
    for (const Case &c : cases) {
        char buffer[16] = {};
        const qint64 count = source.read(buffer, c.offset, c.size);
        EXPECT_EQ(count, c.count) << "offset " << c.offset << " size " << c.size;
        EXPECT_EQ(QByteArray(buffer, int(qMax<qint64>(count, 0))), QByteArray(c.bytes));
    }
    MemoryByteSource none(nullptr, 5);
    EXPECT_EQ(none.sourceSize(), 0);
    char buffer[4];
    EXPECT_EQ(none.read(buffer, 0, 4), 0);
}

} // namespace
