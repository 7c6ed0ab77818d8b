// The URL-to-driver path of a Video, over recording drivers.
#include "accessfakes.h"

#include "access/videoengine.h"

#include <gtest/gtest.h>

namespace {

class VideoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A second registration replaces the first, which the engine must not delete.
        m_Engine.registerDriver("file", &m_Mem);
        m_Engine.registerDriver("file", &m_File);
        m_Engine.registerDriver("mem", &m_Mem);
    }

    RecordingDriver m_File;
    RecordingDriver m_Mem;
    VideoEngine m_Engine;
};

// Only a video whose source opened talks to its driver, always with its own handle, and closes it
// once; a real driver would be handed a null file otherwise.
TEST_F(VideoTest, UrlSelectsTheDriverAndTheNameAndOnlyAnOpenSourceIsDriven)
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
        {"file", &m_File, "", true},               // no colon: the whole URL is the scheme
        {"file://missing", &m_File, "missing", false},
        {"mem:a:b", &m_Mem, "a:b", true},          // only the first colon ends the scheme
        // Names outside Latin-1 reach the driver intact (as UTF-8).
        {QString::fromUtf8("file://кадр 映像.mp4"), &m_File, QString::fromUtf8("кадр 映像.mp4"), true},
        {"FILE://x", nullptr, "", false},          // schemes are case-sensitive
        {"C:/a.mp4", nullptr, "", false},
        {"", nullptr, "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        m_File.reset();
        m_Mem.reset();
        qint64 handle = 0;
        {
            TestVideo video(&m_Engine, c.url);
            handle = video.handle();
            EXPECT_EQ(video.driver(), c.driver);
            EXPECT_EQ(video.name(), c.name);
            EXPECT_EQ(video.isOpened(), c.opened);
            EXPECT_EQ(handle != 0, c.opened);
            video.play();
            video.pause();
            char buffer[16] = {};
            EXPECT_EQ(video.read(buffer, 0, sizeof buffer), c.opened ? 16 : 0);
            EXPECT_EQ(video.sourceSize(), c.opened ? 1000 : 0);
            EXPECT_EQ(video.sourceState(), c.opened ? handle + 1 : 1);
        }
        for (RecordingDriver *d : {&m_File, &m_Mem}) {
            const bool driven = d == c.driver && c.opened;
            EXPECT_EQ(d->opened, d == c.driver ? QStringList{c.name} : QStringList{});
            const QStringList calls{QString("started %1").arg(handle), QString("paused %1").arg(handle),
                                    QString("read %1 0 16").arg(handle)};
            EXPECT_EQ(d->events, driven ? calls : QStringList{});
            // A vector: Qt 6.4 compares two empty QList<qint64> with memcmp on null, which UBSan reports.
            EXPECT_EQ(d->closed, driven ? std::vector<qint64>{handle} : std::vector<qint64>{});
        }
    }
    EXPECT_FALSE(TestVideo(nullptr, "file://C:/a.mp4").isOpened());
}

TEST_F(VideoTest, UnavailableRangeIsReportedInOrderAndStillRead)
{
    TestVideo video(&m_Engine, "file://C:/a.mp4");
    const qint64 handle = video.handle();
    QStringList seen;
    QObject::connect(&video, &Video::noInputData, [&](const QString &name, int offset, int preferred, int got) {
        seen << QString("noInputData %1 %2 %3 %4").arg(name).arg(offset).arg(preferred).arg(got);
    });
    QObject::connect(&video, &Video::dataFailure, [&](qint64 id, int offset, int preferred, int got) {
        seen << QString("dataFailure %1 %2 %3 %4").arg(id).arg(offset).arg(preferred).arg(got);
    });
    for (const bool available : {true, false}) {
        SCOPED_TRACE(available);
        m_File.available = available;
        m_File.events.clear();
        seen.clear();
        QByteArray buffer(32, '\0');
        ByteSource *source = &video;   // as the decoder reads
        EXPECT_EQ(source->read(buffer.data(), 990, 32), 10);
        EXPECT_EQ(buffer.left(10), patternBytes(990, 10));
        const QStringList signalled{"noInputData C:/a.mp4 990 32 0", QString("dataFailure %1 990 32 0").arg(handle)};
        EXPECT_EQ(seen, available ? QStringList{} : signalled);
        EXPECT_EQ(m_File.events, QStringList{QString("read %1 990 32").arg(handle)});
    }
}

} // namespace
