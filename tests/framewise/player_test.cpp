// framewise's window in this process: a clip that cannot be opened ends it with one message.
// (Playing, pairing and the controls are driven end to end in program_test.cpp.)
#include "framewise/player.h"

#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

namespace {

using namespace testsupport;

// Answers every message box that opens while it lives, remembering what each one said.
class BoxAnswerer {
public:
    BoxAnswerer()
    {
        QObject::connect(&m_Timer, &QTimer::timeout, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(w);
                if (!box || !box->isVisible())
                    continue;
                boxes << box->windowTitle() + " / " + box->text() + " / " + QString::number(box->buttons().size());
                if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                    ok->click();
                else
                    box->reject();
            }
        });
        m_Timer.start(50);
    }
    QStringList boxes;

private:
    QTimer m_Timer;
};

TEST(FramewisePlayer, ClipThatCannotBeOpenedEndsWithAMessage)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString notVideo = dir.filePath("notes.mp4");
    QFile f(notVideo);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("these are not the pictures you are looking for\n");
    f.close();
    const QString good = clipPath("h264_aac.mp4");
    const QString missing1 = dir.filePath("missing-one.mkv");
    const QString missing2 = dir.filePath("missing-two.mkv");
    const QString audioOnly = clipPath("audio_only.m4a");

    struct Row {
        const char *name;
        QString first, second, named;
    };
    const Row rows[] = {
        {"second clip missing", good, missing2, missing2},
        {"first clip missing", missing1, good, missing1},
        {"both missing: the second is checked first", missing1, missing2, missing2},
        {"a cancelled dialog gives an empty name", good, QString(), QString()},
        {"not a media file", good, notVideo, notVideo},
        {"no video stream", audioOnly, good, audioOnly},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        BoxAnswerer answerer;
        Player player(Player::Clips{row.first, row.second});
        EXPECT_TRUE(player.openFailed());
        EXPECT_FALSE(player.isRendering());
        EXPECT_EQ(answerer.boxes, QStringList{QStringLiteral("Cannot open file / The file %1 cannot be opened / 1").arg(row.named)});
    }
}

} // namespace
