// The decoder's byte path: the custom I/O context's read and seek answers, and opening through a
// byte source.
#include "enginetestsupport.h"

#include "engine/decoderagent.h"
#include "engine/ffdiskio.h"
#include "tests/common/testclips.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <vector>

using enginetest::FileByteSource;

namespace {

// A 1000-byte file whose byte i is i mod 251.
class ThousandBytes : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Dir.isValid());
        m_Path = m_Dir.filePath("bytes.bin");
        QFile file(m_Path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray data(1000, 0);
        for (int i = 0; i < 1000; ++i)
            data[i] = static_cast<char>(i % 251);
        file.write(data);
    }
    QTemporaryDir m_Dir;
    QString m_Path;
};

TEST_F(ThousandBytes, ReadsAdvanceAndStopAtTheEnd)
{
    FileByteSource source(m_Path);
    FfdiskIo io(&source);
    ASSERT_NE(io.context(), nullptr);
    std::vector<uint8_t> buffer(100);
    EXPECT_EQ(io.read(buffer.data(), 100), 100);
    EXPECT_EQ(io.position(), 100);
    EXPECT_EQ(buffer[99], 99);

    EXPECT_EQ(io.seek(990, SEEK_SET), 990);
    EXPECT_EQ(io.read(buffer.data(), 100), 10);   // straddles the end: the shorter count
    EXPECT_EQ(io.position(), 1000);
    EXPECT_EQ(buffer[0], 990 % 251);
    EXPECT_EQ(io.read(buffer.data(), 100), AVERROR_EOF);
    EXPECT_EQ(io.position(), 1000);
}

TEST_F(ThousandBytes, SeekAnswersByWhence)
{
    FileByteSource source(m_Path);
    FfdiskIo io(&source);
    EXPECT_EQ(io.seek(500, SEEK_SET), 500);
    struct Case {
        int64_t offset;
        int whence;
        int64_t result;
    };
    const Case cases[] = {
        {123, SEEK_CUR, 0},
        {-1, SEEK_END, 999},
        {0, AVSEEK_SIZE, -1},
        {0, 7, -1},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(io.seek(c.offset, c.whence), c.result) << c.whence;
        EXPECT_EQ(io.position(), 500) << c.whence;
    }
    EXPECT_EQ(io.seek(40, SEEK_SET | AVSEEK_FORCE), 40);
    EXPECT_EQ(io.position(), 40);
}

TEST_F(ThousandBytes, AFailedSourceReadKeepsThePosition)
{
    FileByteSource source(m_Path);
    FfdiskIo io(&source);
    std::vector<uint8_t> buffer(100);
    ASSERT_EQ(io.read(buffer.data(), 50), 50);
    source.failReads = true;
    EXPECT_EQ(io.read(buffer.data(), 50), AVERROR(EIO));
    EXPECT_EQ(io.position(), 50);
    source.failReads = false;
    EXPECT_EQ(io.read(buffer.data(), 1), 1);
    EXPECT_EQ(buffer[0], 50);   // the retry reads the bytes the failed read missed
}

TEST(FfdiskIo, WithoutASourceNothingIsRead)
{
    FfdiskIo io(nullptr);
    std::vector<uint8_t> buffer(16);
    EXPECT_EQ(io.read(buffer.data(), 16), AVERROR_EOF);
    EXPECT_EQ(io.position(), 0);
    EXPECT_EQ(io.seek(-1, SEEK_END), -1);
}

TEST(ByteSourceOpen, AnEmptyOrMissingSourceFailsBeforeAnyRead)
{
    QTemporaryDir dir;
    const QString empty = dir.filePath("empty.mp4");
    QFile(empty).open(QIODevice::WriteOnly);
    FileByteSource source(empty);
    DecoderAgent decoder(&source);
    EXPECT_FALSE(decoder.open());
    EXPECT_EQ(source.reads.load(), 0);

    DecoderAgent noSource(nullptr);
    EXPECT_FALSE(noSource.open());
}

TEST(ByteSourceOpen, EveryDecoderReadsFromItsOwnSourceFromTheStart)
{
    FileByteSource first(testsupport::clipPath("h264_aac.mp4"));
    FileByteSource second(testsupport::clipPath("h264_nobframes.mkv"));
    DecoderAgent a(&first);
    ASSERT_TRUE(a.open());
    DecoderAgent b(&second);
    ASSERT_TRUE(b.open());
    EXPECT_EQ(first.firstOffset.load(), 0);
    EXPECT_EQ(second.firstOffset.load(), 0);
    const qint64 firstReads = first.reads.load();
    // The second decoder's reads never reach the first source.
    b.seek(4);
    EXPECT_EQ(first.reads.load(), firstReads);
    EXPECT_EQ(b.videoWidth(), 320);
    EXPECT_EQ(a.frameRate(), 25.0);
}

} // namespace
