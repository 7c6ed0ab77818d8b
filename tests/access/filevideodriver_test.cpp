#include "accessfakes.h"

#include "access/filevideodriver.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

class FileVideoDriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Dir.isValid());
        m_Source = writeFile(m_Dir, "source.bin", patternBytes(0, 3000));
        m_Driver.m_Listener = &m_Listener;
    }

    QTemporaryDir m_Dir;
    QString m_Source;
    RecordingListener m_Listener;
    FileVideoDriver m_Driver;
};

TEST_F(FileVideoDriverTest, OpenReportsSizeOnlyWhenTheFileOpens)
{
    writeFile(m_Dir, "empty.bin", QByteArray());
    ASSERT_TRUE(QDir(m_Dir.path()).mkdir("folder"));
    struct Case {
        QString name;
        bool opens;
        QStringList reported;
    };
    const Case cases[] = {
        {m_Dir.filePath("missing.bin"), false, {}},
        {m_Dir.filePath("folder"), false, {}},
        {QString(), false, {}},
        {m_Dir.filePath("empty.bin"), true, {"opened 0"}},
        {m_Source, true, {"opened 3000"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        m_Listener.events.clear();
        const qint64 handle = m_Driver.open(c.name.toUtf8().constData());
        EXPECT_EQ(handle != 0, c.opens);
        EXPECT_EQ(m_Listener.events, c.reported);
        m_Driver.close(handle);
    }
    EXPECT_EQ(m_Driver.open(nullptr), 0);
}

// Every read starts at its own offset, not where the last ended; a negative offset fails instead
// of reading elsewhere, and the listener hears only of reads that happen.
TEST_F(FileVideoDriverTest, ReadTellsTheListenerTheRequestAndReturnsTheBytesThere)
{
    const qint64 handle = m_Driver.open(m_Source.toUtf8().constData());
    ASSERT_NE(handle, 0);
    struct Case {
        qint64 offset;
        qint64 size;
        qint64 count;
    };
    const Case cases[] = {
        {0, 100, 100}, {1000, 4096, 2000}, {10, 20, 20}, {2999, 10, 1}, {3000, 10, 0},
        {5000, 4096, 0}, {0, 0, 0},        {-1, 16, -1}, {0, 3000, 3000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "offset " << c.offset << " size " << c.size);
        m_Listener.events.clear();
        QByteArray buffer(int(c.size), '\0');
        EXPECT_EQ(m_Driver.read(handle, buffer.data(), c.offset, c.size), c.count);
        const QStringList told{QString("read %1 %2").arg(c.offset).arg(c.size)};
        EXPECT_EQ(m_Listener.events, c.count < 0 ? QStringList{} : told);
        const qint64 got = qMax<qint64>(c.count, 0);
        EXPECT_EQ(buffer, patternBytes(c.offset, got) + QByteArray(int(c.size - got), '\0'));
    }
    m_Driver.close(handle);
}

// The handle is the file: two sources read independently. The no-source handle 0, which a caller
// that failed to open holds, gets neutral answers instead of a null file.
TEST_F(FileVideoDriverTest, HandlesAreIndependentAndTheNoSourceHandleIsHarmless)
{
    const QString other = writeFile(m_Dir, "other.bin", QByteArray(50, 'x'));
    const qint64 first = m_Driver.open(m_Source.toUtf8().constData());
    const qint64 second = m_Driver.open(other.toUtf8().constData());
    ASSERT_NE(first, 0);
    ASSERT_NE(second, 0);
    QByteArray buffer(10, '\0');
    EXPECT_EQ(m_Driver.read(second, buffer.data(), 45, 10), 5);
    EXPECT_EQ(m_Driver.read(first, buffer.data(), 45, 10), 10);
    EXPECT_EQ(buffer, patternBytes(45, 10));
    EXPECT_EQ(m_Driver.size(second), 50);
    m_Driver.close(second);
    EXPECT_EQ(m_Driver.size(first), 3000);
    m_Driver.close(first);

    m_Listener.events.clear();
    m_Driver.close(0);
    m_Driver.paused(0);
    m_Driver.started(0);
    EXPECT_EQ(m_Driver.read(0, buffer.data(), 0, buffer.size()), -1);
    EXPECT_EQ(m_Driver.size(0) + m_Driver.totalSize(0) + m_Driver.pendingSize(0), 0);
    EXPECT_FALSE(m_Driver.isAvailable(0, 0, 8));
    EXPECT_TRUE(m_Listener.events.isEmpty());

    FileVideoDriver quiet;   // no listener
    const qint64 handle = quiet.open(m_Source.toUtf8().constData());
    EXPECT_EQ(quiet.read(handle, buffer.data(), 2996, 4), 4);
    quiet.close(handle);
}

TEST_F(FileVideoDriverTest, StorageProfilesChargeSeeksRequestsAndTheBytesThere)
{
    using Kind = StorageProfile::Kind;
    struct Read {
        qint64 offset;
        qint64 size;
    };
    struct Case {
        const char *what;
        Kind kind;
        std::vector<Read> reads;
        qint64 waitUs;
    };
    // 1000 bytes take 10 us at 100 MB/s and 100 us at 10 MB/s.
    const Case cases[] = {
        {"local disk adds nothing", Kind::LocalDisk, {{0, 1000}, {2500, 1000}, {0, 3000}}, 0},
        {"disk: one seek, then reading on", Kind::HardDisk, {{0, 1000}, {1000, 1000}, {2000, 1000}},
         8000 + 3 * 10},
        {"disk: a jump back and a jump forward", Kind::HardDisk,
         {{0, 1000}, {500, 1000}, {2000, 500}}, 3 * 8000 + 10 + 10 + 5},
        {"disk: a buffer asked for at the end costs only the bytes left", Kind::HardDisk,
         {{2000, 4096}}, 8000 + 10},
        {"disk: past the end moves the head only", Kind::HardDisk, {{5000, 4096}}, 8000},
        {"disk: a short read ends where it got to", Kind::HardDisk, {{2500, 1000}, {3000, 100}},
         8000 + 5},
        {"share: every read is a request", Kind::NetworkShare, {{0, 1000}, {1000, 1000}, {0, 1000}},
         3 * (2000 + 100)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        FileVideoDriver driver;
        driver.setStorageProfile(c.kind);
        EXPECT_EQ(driver.storageProfile(), StorageProfile(c.kind));
        const qint64 handle = driver.open(m_Source.toUtf8().constData());
        ASSERT_NE(handle, 0);
        for (const Read &r : c.reads) {
            // The bytes are the file's, whatever the storage.
            QByteArray buffer(int(r.size), '\0');
            const qint64 got = driver.read(handle, buffer.data(), r.offset, r.size);
            const qint64 expected = std::clamp<qint64>(3000 - r.offset, 0, r.size);
            EXPECT_EQ(got, expected);
            EXPECT_EQ(buffer.left(int(expected)), patternBytes(r.offset, expected));
        }
        EXPECT_EQ(driver.storageWaitUs(), c.waitUs);
        driver.close(handle);
    }
}

TEST_F(FileVideoDriverTest, AChangedProfileAppliesFromTheNextReadAndANewSourceStartsWithASeek)
{
    const qint64 handle = m_Driver.open(m_Source.toUtf8().constData());
    ASSERT_NE(handle, 0);
    QByteArray buffer(1000, '\0');
    ASSERT_EQ(m_Driver.read(handle, buffer.data(), 0, 1000), 1000);
    EXPECT_EQ(m_Driver.storageWaitUs(), 0);

    // Reading on after the switch is no seek: the source kept where its last read ended.
    m_Driver.setStorageProfile(StorageProfile::Kind::HardDisk);
    ASSERT_EQ(m_Driver.read(handle, buffer.data(), 1000, 1000), 1000);
    EXPECT_EQ(m_Driver.storageWaitUs(), 10);

    const qint64 again = m_Driver.open(m_Source.toUtf8().constData());
    ASSERT_NE(again, 0);
    ASSERT_EQ(m_Driver.read(again, buffer.data(), 2000, 1000), 1000);
    EXPECT_EQ(m_Driver.storageWaitUs(), 10 + 8010) << "the other source's reads are not this one's";

    m_Driver.setStorageProfile(StorageProfile().next().next().next());
    ASSERT_EQ(m_Driver.read(handle, buffer.data(), 0, 1000), 1000);
    EXPECT_EQ(m_Driver.storageWaitUs(), 8020);
    m_Driver.close(again);
    m_Driver.close(handle);
}

// Reads a real clip in a demultiplexer's manner (straight through in 32 KiB buffers, then scattered
// 4 KiB reads) under each profile: the slow ones must take at least about what they model, and
// local disk must not wait like either of them. Loose bounds only.
TEST(FileVideoDriverStorage, ReadingAClipTakesRoughlyWhatTheProfileModels)
{
    const QString clip = testsupport::clipPath(QStringLiteral("h264_long.mp4"));
    const qint64 fileSize = QFileInfo(clip).size();
    ASSERT_GT(fileSize, 300000) << clip.toStdString();
    constexpr int Jumps = 30;

    struct Measured {
        qint64 modelledUs;
        qint64 elapsedUs;
        int reads;
    };
    auto readThrough = [&](StorageProfile profile) -> Measured {
        FileVideoDriver driver;
        driver.setStorageProfile(profile);
        const qint64 handle = driver.open(clip.toUtf8().constData());
        EXPECT_NE(handle, 0);
        QByteArray buffer(32768, '\0');
        QByteArray whole;
        int reads = 0;
        QElapsedTimer timer;
        timer.start();
        for (qint64 offset = 0; offset < fileSize; offset += buffer.size(), ++reads)
            whole += buffer.left(int(driver.read(handle, buffer.data(), offset, buffer.size())));
        for (int i = 0; i < Jumps; ++i, ++reads) {
            // Alternately from the front and the back half, so no read follows on from the last.
            const qint64 half = i % 2 ? fileSize / 2 : 0;
            const qint64 offset = half + (qint64(i) * 7919) % (fileSize / 2 - 4096);
            driver.read(handle, buffer.data(), offset, 4096);
        }
        const qint64 elapsed = timer.nsecsElapsed() / 1000;
        driver.close(handle);
        EXPECT_EQ(whole.size(), fileSize) << "the clip read whole";
        return {driver.storageWaitUs(), elapsed, reads};
    };

    const Measured local = readThrough(StorageProfile::Kind::LocalDisk);
    const Measured disk = readThrough(StorageProfile::Kind::HardDisk);
    const Measured share = readThrough(StorageProfile::Kind::NetworkShare);

    EXPECT_EQ(local.modelledUs, 0);
    // The disk seeks once to start and at every jump; the share pays every request.
    EXPECT_GE(disk.modelledUs, (Jumps + 1) * 8000 + fileSize / 100);
    EXPECT_GE(share.modelledUs, share.reads * 2000 + fileSize / 10);
    for (const Measured *slow : {&disk, &share}) {
        EXPECT_GE(slow->elapsedUs, slow->modelledUs / 2);
        // A unit slip (milliseconds slept for microseconds) would be a thousand times over.
        EXPECT_LT(slow->elapsedUs, 10 * slow->modelledUs + 2000000);
    }
    EXPECT_LT(local.elapsedUs, std::min(disk.modelledUs, share.modelledUs))
        << "local disk was slowed down";
}

} // namespace
