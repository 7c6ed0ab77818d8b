// A clip whose file changes under the player: cut short (a download or capture restarted, a disk
// cleaned up) or removed while it plays. Playback ends as at the end of the input, the driver
// tells its listener and the log which read came back short, and the file access view says so.
#include "hostilesupport.h"

#include "access/ffmpegvideo.h"
#include "access/ifileaccess.h"
#include "seekmark/player.h"
#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <vector>

namespace {

// Records the short reads the driver reports, from whichever thread reads; under m_Mutex.
class FailureListener : public IFileAccess {
public:
    struct Failure {
        qint64 offset;
        qint64 size;
        qint64 got;
    };
    void readBlock(qint64, qint64) override {}
    void fileOpened(qint64) override {}
    void readFailed(qint64 offset, qint64 size, qint64 got) override
    {
        QMutexLocker lock(&m_Mutex);
        m_Failures.push_back({offset, size, got});
    }
    std::vector<Failure> failures()
    {
        QMutexLocker lock(&m_Mutex);
        return m_Failures;
    }

private:
    QMutex m_Mutex;
    std::vector<Failure> m_Failures;
};

// h264_long.mp4: 40 s, 1000 pictures.
constexpr int kAllPictures = 1000;

class FileFault : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_Dir.isValid());
        m_Path = m_Dir.filePath(QStringLiteral("playing.mp4"));
        copyClip();
        m_Size = QFileInfo(m_Path).size();
    }
    void copyClip() { ASSERT_TRUE(QFile::copy(testsupport::clipPath(QStringLiteral("h264_long.mp4")), m_Path)); }

    QTemporaryDir m_Dir;
    QString m_Path;
    qint64 m_Size = 0;
};

TEST_F(FileFault, PlaybackEndsAsAtTheEndAndTheShortReadIsReported)
{
    struct Case {
        const char *name;
        std::function<void(const QString &path, qint64 size)> fault;
        bool reported;   // a short read must be reported
        int fewestPictures;
        int mostPictures;
    };
    const Case cases[] = {
        {"cut to half its size", [](const QString &p, qint64 s) { ASSERT_TRUE(QFile::resize(p, s / 2)); },
         true, 100, kAllPictures - 100},
        {"cut to nothing", [](const QString &p, qint64) { ASSERT_TRUE(QFile::resize(p, 0)); }, true, 0, 200},
        // Linux keeps a removed file readable while it is open: the clip plays to its real end.
        {"removed", [](const QString &p, qint64) { ASSERT_TRUE(QFile::remove(p)); }, false, kAllPictures - 10,
         kAllPictures},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (!QFile::exists(m_Path))
            copyClip();
        hostile::MessageLog log;
        FailureListener listener;
        hostile::SeekmarkRun run;
        run.listener = &listener;
        // The fault comes while the worker waits on full queues with the rest of the file unread.
        run.waitForFullQueue = true;
        run.duringPlay = [&] { c.fault(m_Path, m_Size); };
        const hostile::PlayResult r = hostile::playSeekmarkForm(m_Path, 60000, run);

        ASSERT_TRUE(r.opened) << r.error.toStdString();
        EXPECT_FALSE(r.timedOut);
        EXPECT_TRUE(r.ended) << "no videoEnd after the fault";
        EXPECT_GE(r.pictures, c.fewestPictures);
        EXPECT_LE(r.pictures, c.mostPictures);
        const std::vector<FailureListener::Failure> failures = listener.failures();
        if (c.reported) {
            ASSERT_FALSE(failures.empty()) << "the short read was not reported";
            EXPECT_LT(failures.front().got, failures.front().size);
            EXPECT_LE(failures.front().offset + qMax<qint64>(failures.front().got, 0), m_Size / 2);
            EXPECT_GE(log.count(QStringLiteral("short read at offset")), 1) << "no WARN line";
        } else {
            EXPECT_TRUE(failures.empty()) << "a read was reported short at " << failures.front().offset;
            EXPECT_EQ(log.count(QStringLiteral("short read")), 0);
        }
        QFile::remove(m_Path);
    }
}

TEST_F(FileFault, FramewiseStopsReceivingPicturesAndStopsCleanly)
{
    const hostile::PlayResult r = hostile::playFramewiseForm(
        m_Path, 60000, 0, 1500, [&] { ASSERT_TRUE(QFile::resize(m_Path, m_Size / 2)); });
    ASSERT_TRUE(r.opened) << r.error.toStdString();
    EXPECT_FALSE(r.timedOut);
    EXPECT_GT(r.pictures, 0);
    EXPECT_LT(r.pictures, kAllPictures);
}

bool hasRed(const QImage &image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x) {
            const QColor c = rgb.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 60 && c.blue() < 60)
                return true;
        }
    return false;
}

TEST_F(FileFault, TheAccessViewSaysThatTheFileWasCutShort)
{
    if (!hostile::hasDisplay())
        GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    hostile::MessageLog log;
    const std::unique_ptr<Player> player = hostile::showPlayer(m_Path, m_Dir.filePath(QStringLiteral("report.txt")));
    ASSERT_TRUE(hostile::waitFor([&] { return player->picturesShown() > 0; }, 20000));
    EXPECT_TRUE(player->accessView().book().snapshot().failureText().isEmpty());

    ASSERT_TRUE(QFile::resize(m_Path, 0));
    auto *video = qobject_cast<FFMpegVideo *>(player->video());
    ASSERT_TRUE(video && video->agent());
    // What was read before plays out; then the decoder stops as at the end of the clip.
    EXPECT_TRUE(hostile::waitFor([&] { return video->agent()->isStopped(); }, 30000))
        << "playback did not end after the file was cut";
    const QString failure = player->accessView().book().snapshot().failureText();
    EXPECT_TRUE(failure.startsWith(QStringLiteral("READ FAILED ")) && failure.contains(QStringLiteral(" of ")))
        << failure.toStdString();
    EXPECT_GE(log.count(QStringLiteral("short read at offset")), 1);
    QTest::qWait(100);   // the queued repaint
    EXPECT_TRUE(hasRed(player->accessView().grab().toImage())) << "the view does not show the failure";
}

} // namespace
