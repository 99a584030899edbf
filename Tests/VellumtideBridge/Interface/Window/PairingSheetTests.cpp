// The pairing sheet: the code field's rules, the Pair button's state, and pairing, refusal and
// cancelling against a phone on loopback.

#include "Tests/Support/FakePhone/FakePhone.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Interface/Window/WindowFixture.h"
#include "VellumtideBridge/Sources/Interface/Sheets/BridgeAlertPanel.h"
#include "VellumtideBridge/Sources/Interface/Sheets/BridgePairingSheet.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>

namespace vt::test {
namespace {

class PairingSheet : public WindowTest {
protected:
    // Opens the window with a pairing request for the fake phone.
    BridgePairingSheet& open() {
        settings->setValue(BridgeMainWindow::companionAppOnboardingKey, true);
        start();
        device = makeDevice("Studio Phone", "FAKE-PHONE-1");
        device.endpoint = phone.endpoint();
        model->setPairingRequest(BridgePairingRequest(device, "FAKE-PHONE-1", "Studio Phone", device.detail));
        openWindow();
        EXPECT_TRUE(window->pairingSheet());
        return *window->pairingSheet();
    }
    template <typename Predicate> bool waitUntil(Predicate done) {
        return turnLoopUntil(
            [&] {
                settleUI();
                return done();
            },
            patience);
    }

    FakePhone phone;
    VellumtideDevice device;
};

TEST_F(PairingSheet, CodeFieldKeepsSixNumericCharactersGroupedAfterTheThird) {
    EXPECT_EQ(BridgePairingSheet::formattedCode("12"), "12");
    EXPECT_EQ(BridgePairingSheet::formattedCode("123"), "123");
    EXPECT_EQ(BridgePairingSheet::formattedCode("1234"), "123 4");
    EXPECT_EQ(BridgePairingSheet::formattedCode("123-456"), "123 456");
    EXPECT_EQ(BridgePairingSheet::formattedCode("1 2 3"), "123");
    EXPECT_EQ(BridgePairingSheet::formattedCode("12345678"), "123 456");
    EXPECT_EQ(BridgePairingSheet::formattedCode(QString::fromUtf8("\u0661\u0662\u0663\u0664")),
              QString::fromUtf8("\u0661\u0662\u0663 \u0664"))
        << "digits of other scripts are numeric too";

    BridgePairingSheet& sheet = open();
    QLineEdit* field = sheet.codeField();
    EXPECT_EQ(field->placeholderText(), "000 000");
    EXPECT_TRUE(field->hasFocus()) << "the code field takes the focus when the sheet appears";
    QTest::keyClicks(field, "12a3");
    EXPECT_EQ(sheet.code(), "123");
    QTest::keyClicks(field, "456789");
    EXPECT_EQ(sheet.code(), "123 456");
    EXPECT_EQ(sheet.cleanCode(), "123456");
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(sheet.code(), "123") << "deleting back to three digits removes the space";
    field->clear();
    QTest::keyClicks(field, "x!.");
    EXPECT_EQ(sheet.code(), "");

    // Regrouping keeps the cursor after the digit it followed.
    QTest::keyClicks(field, "123");
    QTest::keyClick(field, Qt::Key_Left);
    QTest::keyClicks(field, "456");
    EXPECT_EQ(sheet.code(), "124 563");
    EXPECT_EQ(field->cursorPosition(), 6);
    field->setCursorPosition(4);
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(sheet.code(), "124 563") << "removing the grouping space changes no digit";
    EXPECT_EQ(field->cursorPosition(), 3);
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(sheet.code(), "125 63");
    EXPECT_EQ(field->cursorPosition(), 2);
    EXPECT_EQ(BridgePairingSheet::positionAfterDigits("123 456", 4), 5);
    EXPECT_EQ(BridgePairingSheet::positionAfterDigits("123 456", 0), 0);
}

TEST_F(PairingSheet, PairNeedsExactlySixDigits) {
    BridgePairingSheet& sheet = open();
    ASSERT_TRUE(waitUntil([&] { return phone.requestCount("/pairing/request") >= 1; }))
        << "showing the sheet asks the phone to show its code";

    QTest::keyClicks(sheet.codeField(), "12345");
    EXPECT_FALSE(sheet.pairButton()->isEnabled());
    QTest::keyClick(sheet.codeField(), Qt::Key_Return);
    settleUI();
    EXPECT_EQ(phone.requestCount("/pair"), 0u) << "Return with five digits does nothing";
    EXPECT_NE(model->statusMessage(), "Enter the 6-digit iPhone code");
    QTest::keyClicks(sheet.codeField(), "6");
    EXPECT_TRUE(sheet.pairButton()->isEnabled());
}

TEST_F(PairingSheet, SuccessfulPairingStoresTheTokenAndClosesTheSheet) {
    BridgePairingSheet& sheet = open();
    QTest::keyClicks(sheet.codeField(), "123456");
    click(sheet.pairButton());
    ASSERT_TRUE(waitUntil([&] { return !window->pairingSheet(); }));
    EXPECT_FALSE(model->pairingRequest());
    EXPECT_EQ(probe(*model).pairingStore.token("FAKE-PHONE-1"), "token-1");
    const auto pairs = phone.requests();
    const auto pairRequest = std::find_if(pairs.begin(), pairs.end(),
                                          [](const FakeRequest& request) { return request.path == "/pair"; });
    ASSERT_NE(pairRequest, pairs.end());
    EXPECT_EQ(pairRequest->header("X-Vellumtide-Pair-Code"), "123456");
}

TEST_F(PairingSheet, RefusedCodeKeepsTheSheetAndShowsTheError) {
    phone.setReply("/pair", FakeReply::status("HTTP/1.1 403 Forbidden", "wrong code"));
    BridgePairingSheet& sheet = open();
    QTest::keyClicks(sheet.codeField(), "999999");
    QTest::keyClick(sheet.codeField(), Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return window->isShowingError(); }));
    EXPECT_TRUE(window->errorAlert()->message().startsWith("Could not pair with "));
    EXPECT_EQ(window->pairingSheet(), &sheet);
    EXPECT_EQ(sheet.code(), "999 999");
    EXPECT_TRUE(model->pairingRequest());

    // OK (by Return, where the focus is) gives the focus back to the code field.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    settleUI();
    EXPECT_FALSE(window->isShowingError());
    EXPECT_TRUE(sheet.codeField()->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QTest::keyClicks(QApplication::focusWidget(), "8");
    EXPECT_EQ(sheet.code(), "999 998");
}

TEST_F(PairingSheet, CancelAndCloseClearTheRequestButEscapeDoesNot) {
    BridgePairingSheet& sheet = open();
    QTest::keyClick(sheet.codeField(), Qt::Key_Escape);
    settleUI();
    EXPECT_EQ(window->pairingSheet(), &sheet) << "Escape does not close the sheet";
    click(sheet.cancelButton());
    settleUI();
    EXPECT_FALSE(window->pairingSheet());
    EXPECT_FALSE(model->pairingRequest());
    EXPECT_EQ(model->statusMessage(), "Pairing cancelled");

    model->setPairingRequest(BridgePairingRequest(device, "FAKE-PHONE-1", "Studio Phone", device.detail));
    settleUI();
    BridgePairingSheet* second = window->pairingSheet();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->code(), "") << "a new request gets a fresh sheet";
    EXPECT_EQ(second->closeButton()->toolTip(), "Close");
    click(second->closeButton());
    settleUI();
    EXPECT_FALSE(window->pairingSheet());
    EXPECT_FALSE(model->pairingRequest());
}

} // namespace
} // namespace vt::test
