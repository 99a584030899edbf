// The app entry: the window on the one controller, shown or kept hidden, brought forward by the
// controller's URL entry, and the forced dark look.

#include "Platform/Desktop/QtWidgetsWindowActivator.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Palette.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Interface/Window/WindowFixture.h"
#include "VellumtideBridge/Sources/Interface/App/VellumtideBridgeApp.h"

#include <QApplication>

namespace vt::test {
namespace {

class App : public WindowTest {
protected:
    // The controller with the window activator the program itself uses.
    BridgeViewModel& startWithActivator() {
        settings->setValue(BridgeMainWindow::companionAppOnboardingKey, true);
        start();
        probe(*model).deps.windowActivator = activator;
        return *model;
    }
    std::shared_ptr<QtWidgetsWindowActivator> activator = std::make_shared<QtWidgetsWindowActivator>();
};

TEST_F(App, HiddenStartKeepsTheWindowUntilAUrlBringsItForward) {
    const SampleItem kick = makeSample("Kick", 10);
    seedLibrary({kick});
    BridgeViewModel& controller = startWithActivator();
    VellumtideBridgeApp entry(controller);
    EXPECT_EQ(activator->window(), &entry.window());
    entry.start(true);
    settleUI();
    EXPECT_FALSE(entry.window().isVisible());

    controller.handleOpenURL("vellumtide://open");
    settleUI();
    EXPECT_TRUE(entry.window().isVisible());
    EXPECT_EQ(browsers->made, 1);

    entry.window().showMinimized();
    controller.dependencies().windowActivator->activate();
    EXPECT_FALSE(entry.window().isMinimized());
    entry.window().hide();
    controller.dependencies().windowActivator->activate();
    EXPECT_TRUE(entry.window().isVisible());

    controller.handleOpenURL("vellumtide://edit/" + QString::fromStdString(kick.id.string()).toLower());
    settleUI();
    EXPECT_TRUE(entry.window().editSheet());
    EXPECT_EQ(QApplication::topLevelWidgets().count(&entry.window()), 1) << "one window, however many URLs";
}

TEST_F(App, NormalStartShowsTheWindowWhichStartsBrowsing) {
    VellumtideBridgeApp entry(startWithActivator());
    entry.start(false);
    settleUI();
    EXPECT_TRUE(entry.window().isVisible());
    EXPECT_EQ(browsers->made, 1);
}

TEST_F(App, LookIsDarkWhateverTheDesktopSays) {
    auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    ASSERT_TRUE(application);
    const QPalette before = QApplication::palette();
    const QFont beforeFont = QApplication::font();
    VellumtideBridgeApp::applyLook(*application);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), ui::palette::background);
    EXPECT_EQ(QApplication::palette().color(QPalette::WindowText), QColor(Qt::white));
    EXPECT_EQ(QApplication::font().family(), ui::systemFontFamily);
    QApplication::setPalette(before);
    QApplication::setFont(beforeFont);
}

} // namespace
} // namespace vt::test
