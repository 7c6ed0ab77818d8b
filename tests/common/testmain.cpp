// One main for every test binary: Qt needs its application object for signals, timers and widgets.
// With a display (the test command runs under Xvfb) it is a QApplication so GL widgets can be made;
// without one (listing tests during a plain build) a QCoreApplication, since a GUI application
// aborts without a display.
#include <gtest/gtest.h>

#include "platform/sanitizerquirks.h"

#include <QApplication>
#include <QCoreApplication>
#include <QSurfaceFormat>

#include <memory>

int main(int argc, char **argv)
{
    keepGlDriverResident();
    ::testing::InitGoogleTest(&argc, argv);

    std::unique_ptr<QCoreApplication> app;
    if (qEnvironmentVariableIsSet("DISPLAY")) {
        // Same format as the programs: legacy GL calls need the compatibility profile, which is
        // Qt's default; it has to be set before the application object exists.
        QSurfaceFormat format;
        format.setDepthBufferSize(24);
        format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
        format.setSwapInterval(1);
        QSurfaceFormat::setDefaultFormat(format);
        app = std::make_unique<QApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    return RUN_ALL_TESTS();
}
