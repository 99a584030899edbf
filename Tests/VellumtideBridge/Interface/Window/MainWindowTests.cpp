// The main window: error alert, sheets that follow the controller, first-start onboarding,
// browsing on show, size limits, unlink confirmation and the end of text editing on a click.

#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Interface/Window/WindowFixture.h"
#include "VellumtideBridge/Sources/Interface/EditSheet/SampleEditSheet.h"
#include "VellumtideBridge/Sources/Interface/Samples/BridgeSamplesPane.h"
#include "VellumtideBridge/Sources/Interface/Sheets/BridgeAlertPanel.h"
#include "VellumtideBridge/Sources/Interface/Sheets/CompanionAppSheet.h"
#include "VellumtideBridge/Sources/Interface/Sidebar/BridgeSidebar.h"
#include "VellumtideBridge/Sources/Interface/Window/DismissTextEditingOnOutsideClick.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>

namespace vt::test {
namespace {

using namespace std::chrono_literals;

class MainWindow : public WindowTest {};

int overlayCount(const QWidget& window) {
    int count = 0;
    for (auto* overlay : window.findChildren<ui::SheetOverlay*>())
        count += overlay->isVisible();
    return count;
}

TEST_F(MainWindow, ErrorAlertFollowsChangesOfTheErrorTextOnly) {
    start();
    model->setErrorMessage("Left over from before");
    openWindow();
    EXPECT_FALSE(window->isShowingError()) << "a text already set when the window shows raises nothing";

    model->setErrorMessage("The folder could not be read.");
    settleUI();
    ASSERT_TRUE(window->errorAlert());
    EXPECT_EQ(window->errorAlert()->title(), "Vellumtide Bridge");
    EXPECT_EQ(window->errorAlert()->message(), "The folder could not be read.");

    model->setErrorMessage("The folder could not be read.");
    model->setErrorMessage("Second failure");
    settleUI();
    EXPECT_EQ(overlayCount(*window), 1);
    EXPECT_EQ(window->errorAlert()->message(), "Second failure");

    click(findButton(window->errorAlert(), "OK"));
    settleUI();
    EXPECT_FALSE(model->errorMessage());
    EXPECT_FALSE(window->isShowingError());
    EXPECT_EQ(overlayCount(*window), 0);

    model->setErrorMessage("Second failure");
    settleUI();
    ASSERT_TRUE(window->errorAlert()) << "after OK the same text raises the alert again";
    QTest::keyClick(window->errorAlert(), Qt::Key_Return);
    settleUI();
    EXPECT_FALSE(model->errorMessage());
}

TEST_F(MainWindow, EditSheetIsPresentedReplacedAndRemovedWithEditingSample) {
    const SampleItem first = makeSample("Kick", 10);
    const SampleItem second = makeSample("Snare", 20);
    seedLibrary({first, second});
    start();
    model->editSample(first);
    openWindow();
    SampleEditSheet* sheet = window->editSheet();
    ASSERT_TRUE(sheet) << "an editing sample set before the window exists is shown at once";

    model->editSample(first);
    settleUI();
    EXPECT_EQ(window->editSheet(), sheet) << "the same sample keeps its sheet";

    model->editSample(second);
    settleUI();
    ASSERT_TRUE(window->editSheet());
    EXPECT_NE(window->editSheet(), sheet);
    EXPECT_EQ(overlayCount(*window), 1);

    model->setEditingSample(std::nullopt);
    settleUI();
    EXPECT_FALSE(window->editSheet());
    EXPECT_EQ(overlayCount(*window), 0);

    model->editSample(second);
    settleUI();
    model->deleteSample(second); // closes the sample's sheet
    settleUI();
    EXPECT_FALSE(window->editSheet());
}

TEST_F(MainWindow, CompanionSheetShowsOnceOnTheFirstStartAfterTheDelay) {
    openWindow();
    const QString key = BridgeMainWindow::companionAppOnboardingKey;
    ASSERT_TRUE(settings->value(key));
    EXPECT_TRUE(settings->value(key)->toBool()) << "written when scheduled, not when shown";
    advance(540ms);
    EXPECT_FALSE(window->isShowingCompanionApp());
    advance(10ms);
    ASSERT_TRUE(window->isShowingCompanionApp());

    click(window->companionAppSheet()->closeButton());
    settleUI();
    EXPECT_FALSE(window->isShowingCompanionApp());
    window->hide();
    window->show();
    advance(2s);
    EXPECT_FALSE(window->isShowingCompanionApp()) << "showing the window again schedules nothing";

    window.reset();
    openWindow();
    advance(2s);
    EXPECT_FALSE(window->isShowingCompanionApp()) << "a later start does not show it";
}

TEST_F(MainWindow, QuittingBeforeTheDelayStillCountsAsShown) {
    openWindow();
    window.reset();
    advance(1s);
    openWindow();
    advance(1s);
    EXPECT_FALSE(window->isShowingCompanionApp());
}

TEST_F(MainWindow, CompanionSheetOpensFromTheSidebarEveryTimeAndLinksOut) {
    settings->setValue(BridgeMainWindow::companionAppOnboardingKey, true);
    openWindow();
    for (int round = 0; round < 2; ++round) {
        click(window->sidebar()->settingsButton());
        settleUI();
        ASSERT_TRUE(window->isShowingCompanionApp());
        EXPECT_EQ(window->companionAppSheet()->closeButton()->toolTip(), "Close");
        click(window->companionAppSheet()->closeButton());
        settleUI();
        EXPECT_FALSE(window->isShowingCompanionApp());
    }
    click(window->sidebar()->waitingForPhoneCard()->appButton());
    settleUI();
    ASSERT_TRUE(window->isShowingCompanionApp());
    CompanionAppSheet* sheet = window->companionAppSheet();
    EXPECT_TRUE(
        visibleTexts(sheet).contains("Scan this on your iPhone to get Vellumtide. It captures sounds and "
                                     "syncs them with Vellumtide Bridge on your computer."));
    click(sheet->appStoreButton());
    click(sheet->manualButton());
    ASSERT_EQ(desktop->opened.size(), 2u);
    EXPECT_EQ(desktop->opened[0], QUrl("https://vellumtide.app/iphone"));
    EXPECT_EQ(desktop->opened[1], QUrl("https://vellumtide.app/manual"));
    EXPECT_TRUE(window->isShowingCompanionApp()) << "following a link keeps the sheet open";
    EXPECT_EQ(sheet->appStoreButton()->width(), sheet->manualButton()->width());
}

TEST_F(MainWindow, ShowingStartsBrowsingAndTheWindowKeepsItsMinimumSize) {
    openWindow(false);
    EXPECT_EQ(browsers->made, 0) << "nothing browses before the window shows";
    window->show();
    settleUI();
    EXPECT_EQ(browsers->made, 1);
    ASSERT_TRUE(browsers->last);
    EXPECT_TRUE(browsers->last->started);
    window->hide();
    window->show();
    settleUI();
    EXPECT_EQ(browsers->made, 1) << "a running browser is not replaced";

    EXPECT_EQ(window->objectName(), "main");
    EXPECT_EQ(window->windowTitle(), "Vellumtide Bridge");
    window->resize(500, 300);
    EXPECT_EQ(window->size(), QSize(860, 560));
}

TEST_F(MainWindow, UnlinkConfirmationForgetsOnlyWhenConfirmed) {
    settings->setValue(BridgeMainWindow::companionAppOnboardingKey, true);
    openWindow();
    const VellumtideDevice studio = makeDevice("Studio");
    probe(*model).pairingStore.setToken("PAIR-1", "token-1");
    showDevices({studio});
    auto* card = window->sidebar()->connectedDeviceCard();
    ASSERT_TRUE(card->isVisible());
    EXPECT_EQ(card->pairingText(), "Live sync is automatic");
    ASSERT_TRUE(card->unlinkButton()->isVisible());
    EXPECT_EQ(card->unlinkButton()->toolTip(), "Unlink this iPhone");

    click(card->unlinkButton());
    settleUI();
    ASSERT_TRUE(window->unlinkConfirmation());
    EXPECT_EQ(window->unlinkConfirmation()->title(), "Unlink Studio?");
    EXPECT_EQ(
        window->unlinkConfirmation()->message(),
        "Bridge will forget this iPhone and the phone will need a fresh pair code before syncing again.");
    click(findButton(window->unlinkConfirmation(), "Cancel"));
    settleUI();
    EXPECT_FALSE(window->isConfirmingDeviceUnlink());
    EXPECT_EQ(probe(*model).pairingStore.token("PAIR-1"), "token-1");

    click(card->unlinkButton());
    settleUI();
    click(findButton(window->unlinkConfirmation(), "Unlink iPhone"));
    settleUI();
    EXPECT_FALSE(window->isConfirmingDeviceUnlink());
    EXPECT_FALSE(probe(*model).pairingStore.token("PAIR-1"));
    EXPECT_EQ(card->pairingText(), "Pair code required");
    EXPECT_FALSE(card->unlinkButton()->isVisible());
}

TEST_F(MainWindow, ClickOutsideATextFieldEndsEditing) {
    settings->setValue(BridgeMainWindow::companionAppOnboardingKey, true);
    openWindow();
    window->sidebar()->setShowingAdvanced(true);
    settleUI();
    QLineEdit* address = window->sidebar()->advancedControls()->addressField();
    address->setFocus();
    ASSERT_TRUE(address->hasFocus());

    auto* lineEditElsewhere = new QLineEdit(window->samplesPane());
    lineEditElsewhere->show();
    click(lineEditElsewhere);
    settleUI();
    EXPECT_TRUE(lineEditElsewhere->hasFocus()) << "a click into another field moves editing there";

    click(window->sidebar()->advancedControls()->pasteButton());
    settleUI();
    EXPECT_FALSE(lineEditElsewhere->hasFocus());
    EXPECT_FALSE(QApplication::focusWidget() &&
                 DismissTextEditingOnOutsideClick::isTextInput(QApplication::focusWidget()));

    address->setFocus();
    QTest::mouseClick(window->samplesPane(), Qt::RightButton);
    settleUI();
    EXPECT_TRUE(address->hasFocus()) << "a right click changes nothing";
}

} // namespace
} // namespace vt::test
