#include "accessfakes.h"

#include "access/filevideodriver.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

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

TEST_F(FileVideoDriverTest, ReadTellsTheListenerTheRequestAndReturnsTheBytesThere)
{
    const qint64 handle = m_Driver.open(m_Source.toUtf8().constData());
    ASSERT_NE(handle, 0);
    struct Case {
        qint64 offset;
        qint64 size;
        qint64 count;
    };
    // Out of order on purpose: every read must start at its own offset, not where the last ended.
    const Case cases[] = {
        {0, 100, 100}, {1000, 4096, 2000}, {10, 20, 20}, {2999, 10, 1},
        {3000, 10, 0}, {5000, 4096, 0},    {0, 0, 0},    {0, 3000, 3000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "offset " << c.offset << " size " << c.size);
        m_Listener.events.clear();
        QByteArray buffer(int(c.size), '\0');
        EXPECT_EQ(m_Driver.read(handle, buffer.data(), c.offset, c.size), c.count);
        EXPECT_EQ(m_Listener.events, QStringList{QString("read %1 %2").arg(c.offset).arg(c.size)});
        EXPECT_EQ(buffer.left(int(c.count)), patternBytes(c.offset, c.count));
    }
    m_Driver.close(handle);
}

TEST_F(FileVideoDriverTest, ReadAtANegativeOffsetFailsInsteadOfReadingElsewhere)
{
    const qint64 handle = m_Driver.open(m_Source.toUtf8().constData());
    ASSERT_NE(handle, 0);
    QByteArray buffer(16, '\0');
    ASSERT_EQ(m_Driver.read(handle, buffer.data(), 500, 16), 16);
    m_Listener.events.clear();
    EXPECT_EQ(m_Driver.read(handle, buffer.data(), -1, 16), -1);
    EXPECT_TRUE(m_Listener.events.isEmpty());
    EXPECT_EQ(buffer, patternBytes(500, 16));
    m_Driver.close(handle);
}

TEST_F(FileVideoDriverTest, SizesAndStateOfAnOpenFile)
{
    const qint64 handle = m_Driver.open(m_Source.toUtf8().constData());
    ASSERT_NE(handle, 0);
    EXPECT_EQ(m_Driver.size(handle), 3000);
    EXPECT_EQ(m_Driver.totalSize(handle), 3000);
    EXPECT_EQ(m_Driver.pendingSize(handle), 0);
    EXPECT_EQ(m_Driver.sourceState(handle), 1);
    EXPECT_TRUE(m_Driver.isAvailable(handle, 0, 1 << 20));
    m_Driver.close(handle);
}

TEST_F(FileVideoDriverTest, TwoOpenSourcesReadIndependently)
{
    const QString other = writeFile(m_Dir, "other.bin", QByteArray(50, 'x'));
    const qint64 first = m_Driver.open(m_Source.toUtf8().constData());
    const qint64 second = m_Driver.open(other.toUtf8().constData());
    ASSERT_NE(first, 0);
    ASSERT_NE(second, 0);
    EXPECT_NE(first, second);
    QByteArray buffer(10, '\0');
    EXPECT_EQ(m_Driver.read(second, buffer.data(), 45, 10), 5);
    EXPECT_EQ(m_Driver.read(first, buffer.data(), 45, 10), 10);
    EXPECT_EQ(buffer, patternBytes(45, 10));
    EXPECT_EQ(m_Driver.size(second), 50);
    m_Driver.close(second);
    EXPECT_EQ(m_Driver.size(first), 3000);
    m_Driver.close(first);
}

TEST_F(FileVideoDriverTest, TheNoSourceHandleGetsNeutralAnswers)
{
    char buffer[8] = {};
    m_Driver.close(0);
    m_Driver.paused(0);
    m_Driver.started(0);
    EXPECT_EQ(m_Driver.read(0, buffer, 0, sizeof buffer), -1);
    EXPECT_EQ(m_Driver.size(0), 0);
    EXPECT_EQ(m_Driver.totalSize(0), 0);
    EXPECT_EQ(m_Driver.pendingSize(0), 0);
    EXPECT_FALSE(m_Driver.isAvailable(0, 0, 8));
    EXPECT_TRUE(m_Listener.events.isEmpty());
}

TEST_F(FileVideoDriverTest, WorksWithoutAListenerAndIsFoundThroughItsObject)
{
    FileVideoDriver quiet;
    const qint64 handle = quiet.open(m_Source.toUtf8().constData());
    ASSERT_NE(handle, 0);
    QByteArray buffer(4, '\0');
    EXPECT_EQ(quiet.read(handle, buffer.data(), 2996, 4), 4);
    quiet.close(handle);

    std::unique_ptr<VideoDriver> owned(new FileVideoDriver);
    QObject *object = static_cast<FileVideoDriver *>(owned.get());
    EXPECT_EQ(qobject_cast<VideoDriver *>(object), owned.get());
}

} // namespace
