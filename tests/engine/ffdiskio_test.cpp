// The decoder's byte path: the custom I/O context's read and seek answers, and opening through a
// byte source.
#include "enginetestsupport.h"

#include "engine/ffdiskio.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <vector>

using namespace enginetest;

namespace {

TEST(FfdiskIo, ReadsSeeksAndFailuresOverAThousandBytes)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("bytes.bin"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    for (int i = 0; i < 1000; ++i)
        file.putChar(static_cast<char>(i % 251));
    file.close();
    FileByteSource source(file.fileName());
    FfdiskIo io(&source);
    ASSERT_NE(io.context(), nullptr);
    std::vector<uint8_t> buffer(100);
    EXPECT_EQ(io.read(buffer.data(), 100), 100);

    // A failed source read keeps the position: the retry reads the bytes it missed.
    source.failReads = true;
    EXPECT_EQ(io.read(buffer.data(), 50), AVERROR(EIO));
    EXPECT_EQ(io.position(), 100);
    source.failReads = false;
    EXPECT_EQ(io.read(buffer.data(), 1), 1);
    EXPECT_EQ(buffer[0], 100);

    // AVSEEK_FORCE is masked off: the seek still moves.
    EXPECT_EQ(io.seek(990, SEEK_SET | AVSEEK_FORCE), 990);

    // At the end: the shorter count, then AVERROR_EOF (with 0 the MPEG-PS demuxer loops forever).
    EXPECT_EQ(io.read(buffer.data(), 100), 10);
    EXPECT_EQ(buffer[0], 990 % 251);
    EXPECT_EQ(io.read(buffer.data(), 100), AVERROR_EOF);
    EXPECT_EQ(io.position(), 1000);

    EXPECT_FALSE(DecoderAgent(nullptr).open());   // no source: refused, not read through null
}

// Each decoder has its own byte path (one process-wide binding would let a second decoder's
// reads reach the first one's source).
TEST(ByteSourceOpen, EveryDecoderReadsFromItsOwnSource)
{
    FileByteSource first(clipPath("h264_aac.mp4")), second(clipPath("h264_nobframes.mkv"));
    DecoderAgent a(&first), b(&second);
    ASSERT_TRUE(a.open() && b.open());
    const qint64 firstReads = first.reads.load();
    b.seek(4);
    EXPECT_EQ(first.reads.load(), firstReads);
    EXPECT_GT(second.reads.load(), 0);
}

} // namespace
