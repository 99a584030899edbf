// The main() of widget test binaries: an offscreen QApplication with the bundled fonts, so
// widgets lay out and render the same on every machine without a display.

#include "Platform/UI/Fonts.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    vt::ui::installBundledFonts();
    return RUN_ALL_TESTS();
}
