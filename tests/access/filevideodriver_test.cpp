#include "accessfakes.h"

#include "access/filevideodriver.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

namespace {

using Kind = StorageProfile::Kind;

class FileVideoDriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Dir.isValid());
        m_Source = writeFile("source.bin", patternBytes(0, 3000));
        m_Driver.m_Listener = &m_Listener;
    }
    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile file(m_Dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }
    qint64 open(const QString &name) { return m_Driver.open(name.toUtf8().constData()); }

    QTemporaryDir m_Dir;
    QString m_Source;
    RecordingListener m_Listener;
    FileVideoDriver m_Driver;
};

TEST_F(FileVideoDriverTest, OpenReportsSizeOnlyWhenTheFileOpens)
{
    writeFile("empty.bin", QByteArray());
    ASSERT_TRUE(QDir(m_Dir.path()).mkdir("folder"));
    const struct {
        QString name;
        QStringList reported;   // empty: it does not open
    } cases[] = {
        {m_Dir.filePath("missing.bin"), {}},
        {m_Dir.filePath("folder"), {}},
        {QString(), {}},
        {m_Dir.filePath("empty.bin"), {"opened 0"}},
        {m_Source, {"opened 3000"}},
        // Names outside Latin-1 reach the file system intact.
        {writeFile(QString::fromUtf8("кадр 映像.bin"), QByteArray(5, 'x')), {"opened 5"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const qint64 handle = open(c.name);
        EXPECT_EQ(handle != 0, !c.reported.isEmpty());
        EXPECT_EQ(m_Listener.events(), c.reported);
        m_Driver.close(handle);
    }
    EXPECT_EQ(m_Driver.open(nullptr), 0);
}

// Every read starts at its own offset, not where the last ended; a negative offset fails instead
// of reading elsewhere, and the listener hears only of reads that happen.
TEST_F(FileVideoDriverTest, ReadTellsTheListenerTheRequestAndReturnsTheBytesThere)
{
    const qint64 handle = open(m_Source);
    ASSERT_NE(handle, 0);
    const qint64 cases[][3] = {   // offset, size, count
        {0, 100, 100}, {1000, 4096, 2000}, {10, 20, 20}, {2999, 10, 1}, {3000, 10, 0},
        {5000, 4096, 0}, {0, 0, 0},        {-1, 16, -1}, {0, 3000, 3000},
    };
    m_Listener.events();
    for (const auto &[offset, size, count] : cases) {
        SCOPED_TRACE(testing::Message() << "offset " << offset << " size " << size);
        QByteArray buffer(int(size), '\0');
        EXPECT_EQ(m_Driver.read(handle, buffer.data(), offset, size), count);
        EXPECT_EQ(m_Listener.events(), count < 0 ? QStringList{} : QStringList{QString("read %1 %2").arg(offset).arg(size)});
        const qint64 got = qMax<qint64>(count, 0);
        EXPECT_EQ(buffer, patternBytes(offset, got) + QByteArray(int(size - got), '\0'));
    }
    m_Driver.close(handle);
}

// The handle is the file: two sources read independently. The no-source handle 0, which a caller
// that failed to open holds, gets neutral answers instead of a null file.
TEST_F(FileVideoDriverTest, HandlesAreIndependentAndTheNoSourceHandleIsHarmless)
{
    const qint64 first = open(m_Source);
    const qint64 second = open(writeFile("other.bin", QByteArray(50, 'x')));
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

    m_Listener.events();
    m_Driver.close(0);
    m_Driver.paused(0);
    m_Driver.started(0);
    EXPECT_EQ(m_Driver.read(0, buffer.data(), 0, buffer.size()), -1);
    EXPECT_EQ(m_Driver.size(0) + m_Driver.totalSize(0) + m_Driver.pendingSize(0), 0);
    EXPECT_FALSE(m_Driver.isAvailable(0, 0, 8));
    EXPECT_TRUE(m_Listener.events().isEmpty());

    FileVideoDriver quiet;   // no listener
    const qint64 handle = quiet.open(m_Source.toUtf8().constData());
    EXPECT_EQ(quiet.read(handle, buffer.data(), 2996, 4), 4);
    quiet.close(handle);
}

// What the driver adds to the storage model (its own table is in storageprofile_test): each source
// remembers where its last read ended (a short read where it got to), only the bytes the file
// holds there are charged, a changed profile applies from the next read, and the driver waits that
// long. The bytes are the file's.
TEST_F(FileVideoDriverTest, StorageWaitsFollowEachSourceAndTheBytesThere)
{
    const qint64 handles[] = {open(m_Source), open(m_Source)};
    const struct {
        Kind kind;
        int source;
        qint64 offset, size, waitUs;
    } reads[] = {
        {Kind::LocalDisk, 0, 0, 1000, 0},
        {Kind::HardDisk, 0, 1000, 1000, 10},      // reading on after the switch: no seek
        {Kind::HardDisk, 1, 2000, 1000, 8010},    // the other source starts with a seek
        {Kind::HardDisk, 1, 2500, 4096, 8005},    // a jump back; only the 500 bytes left count
        {Kind::HardDisk, 1, 3000, 100, 0},        // on from where the short read ended
        {Kind::HardDisk, 0, 5000, 4096, 8000},    // past the end: the head moves, no bytes
        {Kind::NetworkShare, 0, 0, 1000, 2100},
    };
    QElapsedTimer timer;
    timer.start();
    for (const auto &r : reads) {
        SCOPED_TRACE(testing::Message() << "source " << r.source << " offset " << r.offset);
        m_Driver.setStorageProfile(r.kind);
        EXPECT_EQ(m_Driver.storageProfile(), StorageProfile(r.kind));
        const qint64 before = m_Driver.storageWaitUs();
        QByteArray buffer(int(r.size), '\0');
        const qint64 expected = std::clamp<qint64>(3000 - r.offset, 0, r.size);
        EXPECT_EQ(m_Driver.read(handles[r.source], buffer.data(), r.offset, r.size), expected);
        EXPECT_EQ(buffer.left(int(expected)), patternBytes(r.offset, expected));
        EXPECT_EQ(m_Driver.storageWaitUs() - before, r.waitUs);
    }
    // The driver really waits what it models; a unit slip (milliseconds slept for microseconds)
    // would be a thousand times over.
    const qint64 elapsedUs = timer.nsecsElapsed() / 1000;
    EXPECT_GE(elapsedUs, m_Driver.storageWaitUs());
    EXPECT_LT(elapsedUs, 10 * m_Driver.storageWaitUs() + 2000000);
}

} // namespace
