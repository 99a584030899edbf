// The window under a real X server, driven by real key presses and pointer clicks: the pairing
// sheet keeps Tab and typing to itself, and after a refused code's alert is closed with Return the
// code field takes digits and BackSpace again; overlays asked for together come one at a time,
// each with the keyboard, and the unlink dialog goes when its button does.

#include "Tests/Support/FakePhone/FakePhone.h"
#include "Tests/Support/Patience.h"
#include "Tests/Support/X11/XTestPointer.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Interface/Window/WindowFixture.h"
#include "Tests/VellumtideBridge/Interface/X11/RealKeyboard.h"
#include "VellumtideBridge/Sources/Interface/EditSheet/SampleEditSheet.h"
#include "VellumtideBridge/Sources/Interface/Sheets/BridgeAlertPanel.h"
#include "VellumtideBridge/Sources/Interface/Sheets/BridgePairingSheet.h"
#include "VellumtideBridge/Sources/Interface/Sheets/CompanionAppSheet.h"
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

    // Turns the event loop until done holds.
    template <typename Predicate> bool waitFor(Predicate done) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < patienceMilliseconds) {
            settleUI();
            QTest::qWait(10);
        }
        return done();
    }
    // A key press through the X server; the window handles it on a later turn of its loop.
    void press(const std::string& key, bool shift = false) {
        keyboard.press(key, shift);
        QTest::qWait(30);
        settleUI();
    }
    static bool isInside(const QWidget* widget, const QWidget* container) {
        return widget && container && (widget == container || container->isAncestorOf(widget));
    }
    // A click of the left button in the middle of widget, through the X server.
    void click(QWidget* widget) {
        ASSERT_TRUE(widget && widget->isVisible());
        // A sheet may still be sliding into place: aim once the control has stopped moving.
        QPoint at = widget->mapToGlobal(widget->rect().center());
        for (int look = 0; look < 50; ++look) {
            QTest::qWait(20);
            settleUI();
            const QPoint now = widget->mapToGlobal(widget->rect().center());
            if (now == at)
                break;
            at = now;
        }
        pointer.moveTo(at.x(), at.y());
        QTest::qWait(20);
        pointer.pressButton();
        pointer.releaseButton();
        QTest::qWait(30);
        settleUI();
    }
    // The browser reports what it reports without the DNS-SD daemon (applied on a later turn).
    void reportNoDaemon() {
        browsers->last->state(
            {net::DnsSdBrowserState::waiting, "The DNS-SD service (avahi-daemon) is not running."});
    }
    bool focusIsIn(const QWidget* panel) const { return isInside(QApplication::focusWidget(), panel); }

    RealKeyboard keyboard;
    XTestPointer pointer;
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
    EXPECT_TRUE(waitFor([&] { return sheet->code() == "123 4"; })) << sheet->code().toStdString();

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
    EXPECT_TRUE(waitFor([&] { return sheet->code() == "123 7"; })) << sheet->code().toStdString();
}

TEST_F(RealKeys, OverlaysComeOneAtATimeInOrderAndTheUnlinkDialogGoesWithItsButton) {
    ASSERT_TRUE(pointer.valid());
    const SampleItem take = makeSample("Kick Room", 1'700'000'000.0);
    seedLibrary({take});
    start();
    openWindow(); // a first start: the companion sheet is offered after 0.55 s
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    keyboard.focusWindow(window->winId());
    ASSERT_TRUE(waitFor([&] { return QApplication::activeWindow() == window.get(); }));

    // Without the daemon: its alert first, the companion sheet once the alert is closed.
    reportNoDaemon();
    advance(std::chrono::milliseconds(600));
    ASSERT_TRUE(waitFor([&] { return window->errorAlert() && focusIsIn(window->errorAlert()); }));
    EXPECT_FALSE(window->companionAppSheet()) << "the offered sheet waits behind the alert";
    click(window->errorAlert()->button(0));
    ASSERT_TRUE(
        waitFor([&] { return window->companionAppSheet() && focusIsIn(window->companionAppSheet()); }));
    EXPECT_FALSE(window->isShowingError());
    click(window->companionAppSheet()->closeButton());
    ASSERT_TRUE(waitFor([&] { return !window->isShowingCompanionApp(); }));

    // A URL asks for the edit sheet while the alert comes again and another phone asks to pair:
    // the alert, then the edit sheet, then the pairing sheet.
    const VellumtideDevice other = makeDevice("Kitchen iPhone", "K1");
    model->handleOpenURL(QStringLiteral("vellumtide://edit/") + QString::fromStdString(take.id.string()));
    reportNoDaemon();
    model->setPairingRequest(BridgePairingRequest(other, "K1", "Kitchen iPhone", other.detail));
    ASSERT_TRUE(waitFor([&] { return window->errorAlert() && window->errorAlert()->button(0)->hasFocus(); }));
    EXPECT_FALSE(window->editSheet());
    EXPECT_FALSE(window->pairingSheet());
    press("Return");
    ASSERT_TRUE(waitFor([&] { return window->editSheet() && focusIsIn(window->editSheet()); }));
    EXPECT_FALSE(window->pairingSheet()) << "the sheet the program offers waits for the one asked for";
    click(window->editSheet()->findChild<QWidget*>("closeButton"));
    ASSERT_TRUE(
        waitFor([&] { return window->pairingSheet() && window->pairingSheet()->codeField()->hasFocus(); }));
    for (const char* digit : {"4", "5", "6"})
        press(digit);
    EXPECT_TRUE(waitFor([&] { return window->pairingSheet()->code() == "456"; }));
    click(window->pairingSheet()->cancelButton());
    ASSERT_TRUE(waitFor([&] { return !window->pairingSheet(); }));

    // The unlink dialog is up when the phone's token is refused by a sync: the button goes, so
    // does the dialog, and the pairing sheet that follows has the keyboard.
    FakePhone phone;
    const VellumtideDevice studio{"phone|FAKE-PHONE-1", "Studio Phone", phone.endpoint(), "local. via lo",
                                  "FAKE-PHONE-1"};
    probe(*model).pairingStore.setToken("FAKE-PHONE-1", "token-1");
    showDevices({studio, other});
    BridgeConnectedDeviceCard* card = window->sidebar()->connectedDeviceCard();
    click(card->unlinkButton());
    ASSERT_TRUE(waitFor([&] { return window->unlinkConfirmation() != nullptr; }));
    EXPECT_EQ(window->unlinkConfirmation()->title(), "Unlink Studio Phone?");
    phone.setReply("/library.json", FakeReply::status("HTTP/1.1 401 Unauthorized"));
    awaitVoid(model->sync(studio, BridgeViewModel::SyncMode::automatic));
    ASSERT_TRUE(
        waitFor([&] { return window->pairingSheet() && window->pairingSheet()->codeField()->hasFocus(); }));
    EXPECT_FALSE(window->isConfirmingDeviceUnlink());
    EXPECT_EQ(card->pairingText(), "Pair code required");
    press("7");
    EXPECT_TRUE(waitFor([&] { return window->pairingSheet()->code() == "7"; }));
    click(window->pairingSheet()->cancelButton());
    ASSERT_TRUE(waitFor([&] { return !window->pairingSheet(); }));

    // The dialog acts for the phone it was opened for: when the card shows another, it goes.
    probe(*model).pairingStore.setToken("FAKE-PHONE-1", "token-1");
    probe(*model).pairingStore.setToken("K1", "token-2");
    model->setSelectedDeviceID(studio.id);
    settleUI();
    click(card->unlinkButton());
    ASSERT_TRUE(waitFor([&] { return window->unlinkConfirmation() != nullptr; }));
    model->setSelectedDeviceID(other.id);
    ASSERT_TRUE(waitFor([&] { return !window->isConfirmingDeviceUnlink(); }));
    EXPECT_EQ(probe(*model).pairingStore.token("FAKE-PHONE-1"), "token-1");
    EXPECT_EQ(probe(*model).pairingStore.token("K1"), "token-2");
}

} // namespace
} // namespace vt::test
