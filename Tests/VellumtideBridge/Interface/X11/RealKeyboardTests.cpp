// The window under a real X server, driven by real key presses: the pairing sheet keeps Tab and
// typing to itself, and after a refused code's alert is closed with Return the code field takes
// digits and BackSpace again.

#include "Tests/VellumtideBridge/Interface/Window/WindowFixture.h"
#include "Tests/VellumtideBridge/Interface/X11/RealKeyboard.h"
#include "VellumtideBridge/Sources/Interface/Sheets/BridgeAlertPanel.h"
#include "VellumtideBridge/Sources/Interface/Sheets/BridgePairingSheet.h"
#include "VellumtideBridge/Sources/Interface/Sidebar/BridgeSidebar.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTest>

namespace vt::test {
namespace {

class RealKeys : public WindowTest {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP()
                << "no private X server (VT_TEST_X11 and DISPLAY; scripts/test-services.sh starts Xvfb)";
        ASSERT_TRUE(keyboard.valid()) << "the X server lacks the XTest extension";
        WindowTest::SetUp();
    }

    // Turns the event loop until done holds or two seconds pass.
    template <typename Predicate> bool waitFor(Predicate done) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 2000) {
            settleUI();
            QTest::qWait(10);
        }
        return done();
    }
    // A key press through the X server; returns once the window has had time to handle it.
    void press(const std::string& key, bool shift = false) {
        keyboard.press(key, shift);
        QTest::qWait(30);
        settleUI();
    }
    static bool isInside(const QWidget* widget, const QWidget* container) {
        return widget && container && (widget == container || container->isAncestorOf(widget));
    }

    RealKeyboard keyboard;
};

TEST_F(RealKeys, PairingSheetKeepsTheKeysAndTheCodeFieldWorksAfterTheAlert) {
    settings->setValue(BridgeMainWindow::companionAppOnboardingKey, true);
    start();
    const VellumtideDevice phone = makeDevice("Studio iPhone", "S1");
    openWindow();
    window->sidebar()->setShowingAdvanced(true);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    keyboard.focusWindow(window->winId());
    ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == window.get(); }));

    model->setPairingRequest(BridgePairingRequest(phone, "S1", "Studio iPhone", phone.detail));
    ASSERT_TRUE(
        waitFor([&] { return window->pairingSheet() && window->pairingSheet()->codeField()->hasFocus(); }));
    BridgePairingSheet* sheet = window->pairingSheet();
    for (const char* digit : {"1", "2", "3", "4"})
        press(digit);
    EXPECT_EQ(sheet->code(), "123 4");

    auto* address = window->sidebar()->findChild<QLineEdit*>();
    ASSERT_TRUE(address);
    for (int step = 0; step < 10; ++step) {
        press("Tab", step % 3 == 2);
        ASSERT_TRUE(isInside(QApplication::focusWidget(), sheet))
            << "Tab left the pairing sheet at step " << step;
    }
    press("9");
    EXPECT_EQ(address->text(), "") << "typing under the sheet never reaches the address field";

    sheet->codeField()->setFocus(Qt::TabFocusReason);
    model->setErrorMessage("Could not pair with Studio iPhone: wrong code");
    ASSERT_TRUE(waitFor([&] { return window->errorAlert() && window->errorAlert()->button(0)->hasFocus(); }));
    press("Return");
    ASSERT_TRUE(waitFor([&] { return !window->isShowingError(); }));
    EXPECT_TRUE(sheet->codeField()->hasFocus()) << "the code field has the focus again";
    press("BackSpace");
    press("7");
    EXPECT_EQ(sheet->code(), "123 7");
}

} // namespace
} // namespace vt::test
