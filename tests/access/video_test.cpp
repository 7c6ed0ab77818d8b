#include "accessfakes.h"

#include "access/filevideodriver.h"
#include "access/videoengine.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

// The engine of these tests knows "file" and "mem"; each driver records what it was asked to open.
class VideoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Engine.registerDriver("file", &m_File);
        m_Engine.registerDriver("mem", &m_Mem);
    }

    RecordingDriver m_File;
    RecordingDriver m_Mem;
    VideoEngine m_Engine;
};

TEST_F(VideoTest, UrlSelectsTheDriverAndTheNameItOpens)
{
    struct Case {
        QString url;
        RecordingDriver *driver;   // null: no driver found
        QString name;
        bool opened;
    };
    const Case cases[] = {
        {"file://C:/a.mp4", &m_File, "C:/a.mp4", true},
        {"file:C:/a.mp4", &m_File, "C:/a.mp4", true},
        {"file:///tmp/clip.mp4", &m_File, "/tmp/clip.mp4", true},
        {"file:/a", &m_File, "", true},            // one slash still takes two characters
        {"file:/", &m_File, "", true},
        {"file:", &m_File, "", true},
        {"file", &m_File, "", true},               // no colon: the whole URL is the scheme
        {"file://missing", &m_File, "missing", false},
        {"mem:x", &m_Mem, "x", true},
        {"mem:a:b", &m_Mem, "a:b", true},          // only the first colon ends the scheme
        {"FILE://x", nullptr, "", false},
        {"disk:x", nullptr, "", false},
        {"C:/a.mp4", nullptr, "", false},
        {"", nullptr, "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        m_File.opened.clear();
        m_Mem.opened.clear();
        TestVideo video(&m_Engine, c.url);
        EXPECT_EQ(video.driver(), c.driver);
        EXPECT_EQ(video.name(), c.name);
        EXPECT_EQ(video.isOpened(), c.opened);
        EXPECT_EQ(video.handle() != 0, c.opened);
        EXPECT_EQ(m_File.opened, c.driver == &m_File ? QStringList{c.name} : QStringList{});
        EXPECT_EQ(m_Mem.opened, c.driver == &m_Mem ? QStringList{c.name} : QStringList{});
    }
}

TEST_F(VideoTest, WithoutASourceEverythingIsNeutralAndTheDriverIsLeftAlone)
{
    char buffer[16] = {};
    for (const QString &url : {QString("disk:x"), QString("file://missing")}) {
        SCOPED_TRACE(url.toStdString());
        m_File.events.clear();
        {
            TestVideo video(&m_Engine, url);
            video.play();
            video.pause();
            EXPECT_EQ(video.read(buffer, 0, sizeof buffer), 0);
            EXPECT_EQ(video.sourceSize(), 0);
            EXPECT_EQ(video.sourceState(), 1);
        }
        EXPECT_TRUE(m_File.events.isEmpty());
        EXPECT_TRUE(m_File.closed.isEmpty());
    }
    TestVideo noEngine(nullptr, "file://C:/a.mp4");
    EXPECT_EQ(noEngine.driver(), nullptr);
    EXPECT_FALSE(noEngine.isOpened());
}

TEST_F(VideoTest, ForwardsToTheDriverWithItsHandleAndClosesItOnce)
{
    qint64 handle = 0;
    {
        TestVideo video(&m_Engine, "file://C:/a.mp4");
        handle = video.handle();
        ASSERT_NE(handle, 0);
        video.play();
        video.pause();
        EXPECT_EQ(video.sourceState(), handle + 1);
        EXPECT_EQ(video.sourceSize(), 1000);
        EXPECT_EQ(video.aspectRatio(), 0.0f);
        EXPECT_EQ(video.frameRate(), 1.0);
        EXPECT_EQ(m_File.events, (QStringList{QString("started %1").arg(handle),
                                              QString("paused %1").arg(handle)}));
        EXPECT_TRUE(m_File.closed.isEmpty());
    }
    EXPECT_EQ(m_File.closed, QList<qint64>{handle});
}

TEST_F(VideoTest, UnavailableRangeIsReportedInOrderAndStillRead)
{
    TestVideo video(&m_Engine, "file://C:/a.mp4");
    const qint64 handle = video.handle();
    QStringList seen;
    QObject::connect(&video, &Video::noInputData,
                     [&](const QString &name, int offset, int preferred, int readSize) {
                         seen << QString("noInputData %1 %2 %3 %4").arg(name).arg(offset).arg(preferred).arg(readSize);
                     });
    QObject::connect(&video, &Video::dataFailure,
                     [&](qint64 id, int offset, int preferred, int readSize) {
                         seen << QString("dataFailure %1 %2 %3 %4").arg(id).arg(offset).arg(preferred).arg(readSize);
                     });

    struct Case {
        bool available;
        QStringList signalled;
    };
    const Case cases[] = {
        {true, {}},
        {false, {"noInputData C:/a.mp4 990 32 0", QString("dataFailure %1 990 32 0").arg(handle)}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.available);
        m_File.available = c.available;
        m_File.events.clear();
        seen.clear();
        QByteArray buffer(32, '\0');
        // Through the decoder's interface, as the decoder reads.
        ByteSource *source = &video;
        EXPECT_EQ(source->read(buffer.data(), 990, 32), 10);
        EXPECT_EQ(buffer.left(10), patternBytes(990, 10));
        EXPECT_EQ(seen, c.signalled);
        EXPECT_EQ(m_File.events, QStringList{QString("read %1 990 32").arg(handle)});
    }
}

// The whole chain the decoder reads through: URL, engine, file driver, real file, listener.
TEST(VideoOnFiles, ServesARealFileThroughTheFileDriver)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    RecordingListener listener;
    FileVideoDriver driver;
    driver.m_Listener = &listener;
    VideoEngine engine;
    engine.registerDriver("file", &driver);

    // Names outside Latin-1 must reach the file system intact.
    for (const QString &fileName : {QString("clip.bin"), QString::fromUtf8("кадр 映像.bin")}) {
        SCOPED_TRACE(fileName.toStdString());
        const QString path = dir.filePath(fileName);
        {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(patternBytes(0, 3000));
        }
        listener.events.clear();
        TestVideo video(&engine, "file://" + path);
        ASSERT_TRUE(video.isOpened());
        ByteSource *source = &video;
        EXPECT_EQ(source->sourceSize(), 3000);
        QByteArray buffer(4096, '\0');
        EXPECT_EQ(source->read(buffer.data(), 1000, 4096), 2000);
        EXPECT_EQ(buffer.left(2000), patternBytes(1000, 2000));
        EXPECT_EQ(source->read(buffer.data(), 3000, 4096), 0);
        EXPECT_EQ(listener.events, (QStringList{"opened 3000", "read 1000 4096", "read 3000 4096"}));
    }
}

} // namespace
