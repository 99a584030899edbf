// The main() of the tests that drive the window with real keys: on the X server named by
// $DISPLAY when VT_TEST_X11 is set (scripts/test-services.sh starts a private Xvfb), otherwise
// offscreen, where those tests skip.

#include "Platform/UI/Fonts.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    const bool x11 = qEnvironmentVariableIsSet("VT_TEST_X11") && qEnvironmentVariableIsSet("DISPLAY");
    qputenv("QT_QPA_PLATFORM", x11 ? "xcb" : "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    vt::ui::installBundledFonts();
    return RUN_ALL_TESTS();
}
