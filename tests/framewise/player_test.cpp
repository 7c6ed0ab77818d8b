// framewise's window in this process: a clip that cannot be opened ends it with one message that
// names it. (Playing, pairing and the controls are driven end to end in program_test.cpp; why a
// file cannot be opened is the decoder's business.)
#include "framewise/player.h"

#include "tests/common/testclips.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace {

TEST(FramewisePlayer, ClipThatCannotBeOpenedEndsWithAMessage)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        GTEST_SKIP() << "needs a display (run under Xvfb with QT_QPA_PLATFORM=xcb)";
    const QString good = testsupport::clipPath("h264_aac.mp4");
    const QString missing1 = QStringLiteral("/nonexistent/missing-one.mkv");
    const QString missing2 = QStringLiteral("/nonexistent/missing-two.mkv");
    struct Row {
        QString first, second, named;
    };
    const Row rows[] = {
        {good, missing2, missing2},
        {missing1, good, missing1},
        {missing1, missing2, missing2},   // the second clip is checked first
        {good, QString(), QString()},     // a cancelled dialog
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.named.toStdString());
        QStringList boxes;   // every message box that opens, answered
        QTimer answerer;
        QObject::connect(&answerer, &QTimer::timeout, [&boxes] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                    boxes << box->windowTitle() + " / " + box->text() + " / " + QString::number(box->buttons().size());
                    box->accept();
                }
            }
        });
        answerer.start(50);
        Player player(Player::Clips{row.first, row.second});
        EXPECT_TRUE(player.openFailed());
        EXPECT_FALSE(player.isRendering());
        EXPECT_EQ(boxes, QStringList{QStringLiteral("Cannot open file / The file %1 cannot be opened / 1").arg(row.named)});
    }
}

} // namespace
