// The main() of the real drag-and-drop test binaries: a QApplication on the X server of
// scripts/test-services.sh, with the bundled fonts, so windows are real X windows that other
// processes drop into. Without that server it runs offscreen and the tests skip themselves.

#include "Platform/UI/Fonts.h"
#include "Tests/Support/DropTarget/DragDropDriver.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", vt::test::missingX11Reason().isEmpty() ? "xcb" : "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    vt::ui::installBundledFonts();
    return RUN_ALL_TESTS();
}
