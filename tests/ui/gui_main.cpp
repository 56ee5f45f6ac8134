// The entry of the window tests: one QApplication, offscreen unless a display is asked for,
// prepared as the program prepares it.
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/appearance.h"

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    kelvaston::ui::PrepareAppearance(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
