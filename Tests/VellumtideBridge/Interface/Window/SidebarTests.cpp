// The sidebar: live status texts for the controller's states, the phone cards, and the
// Advanced controls with their enabled states and bindings.

#include "Platform/UI/Palette.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Interface/Window/WindowFixture.h"
#include "VellumtideBridge/Sources/Interface/Sidebar/BridgeSidebar.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>

namespace vt::test {
namespace {

class Sidebar : public WindowTest {
protected:
    BridgeSidebar& open() {
        settings->setValue(BridgeMainWindow::companionAppOnboardingKey, true);
        openWindow();
        window->sidebar()->setShowingAdvanced(true);
        settleUI();
        return *window->sidebar();
    }
};

TEST_F(Sidebar, LiveStatusTextsFollowTheControllerState) {
    BridgeSidebar& sidebar = open();
    BridgeLiveStatusCard* card = sidebar.liveStatusCard();
    model->setIsBrowsing(false);
    model->setStatusMessage("Folder changed");
    model->setDiscoveryMessage("Browser not started");
    EXPECT_EQ(card->title(), "Folder changed");
    EXPECT_EQ(card->detail(), "Browser not started");
    EXPECT_EQ(card->dotColor(), ui::palette::amber);

    model->setWatchMessage("Live sync ready");
    model->setIsBrowsing(true);
    EXPECT_EQ(card->title(), "Listening for iPhone");
    EXPECT_EQ(card->detail(), "Live sync ready");
    EXPECT_EQ(card->dotColor(), ui::palette::cyan);

    showDevices({makeDevice("Studio")});
    for (const char* idle :
         {"No iPhone found", "Searching for Vellumtide", "Watch waiting for iPhone", "Waiting"}) {
        model->setStatusMessage(idle);
        EXPECT_EQ(card->title(), "Watching Studio") << idle;
    }
    for (const char* busy : {"waiting", "Waiting ", "Synced 3 samples"}) {
        model->setStatusMessage(busy);
        EXPECT_EQ(card->title(), busy) << "only the exact idle texts name the phone";
    }
    model->setWatchMessage("Waiting for iPhone");
    EXPECT_EQ(card->detail(), "Background sync on");
    model->setWatchMessage("Waiting for iPhone.");
    EXPECT_EQ(card->detail(), "Waiting for iPhone.");
}

TEST_F(Sidebar, PhoneCardSwitchesWithTheSelectionAndShowsPairing) {
    BridgeSidebar& sidebar = open();
    EXPECT_TRUE(sidebar.waitingForPhoneCard()->isVisible());
    EXPECT_FALSE(sidebar.connectedDeviceCard()->isVisible());
    EXPECT_TRUE(visibleTexts(sidebar.waitingForPhoneCard()).contains("Listening for iPhone"));

    VellumtideDevice typed;
    typed.id = "manual|127.0.0.1:51234";
    typed.name = "Manual iPhone";
    typed.endpoint = VellumtideEndpoint::hostPort("127.0.0.1", 51234);
    typed.detail = "127.0.0.1:51234";
    probe(*model).pairingStore.setToken("manual|127.0.0.1:51234", "stray");
    showDevices({typed});
    auto* card = sidebar.connectedDeviceCard();
    EXPECT_TRUE(card->isVisible());
    EXPECT_FALSE(sidebar.waitingForPhoneCard()->isVisible());
    EXPECT_EQ(card->nameText(), "Manual iPhone");
    EXPECT_EQ(card->detailText(), "127.0.0.1:51234");
    EXPECT_EQ(card->pairingText(), "Pair code required") << "a typed address has no pairing id";
    EXPECT_FALSE(card->unlinkButton()->isVisible());

    model->setDevices({});
    EXPECT_TRUE(sidebar.waitingForPhoneCard()->isVisible()) << "the phone went away";
    EXPECT_FALSE(card->isVisible());
}

TEST_F(Sidebar, PhoneListAppearsWithTwoPhonesAndSelects) {
    BridgeSidebar& sidebar = open();
    BridgeAdvancedControls* advanced = sidebar.advancedControls();
    EXPECT_FALSE(advanced->deviceList()->isVisible());
    showDevices({makeDevice("Alpha", "A")});
    EXPECT_FALSE(advanced->deviceList()->isVisible()) << "one phone needs no list";

    showDevices({makeDevice("Alpha", "A"), makeDevice("Beta", "B")});
    ASSERT_TRUE(advanced->deviceList()->isVisible());
    ASSERT_EQ(advanced->deviceRows().size(), 2u);
    EXPECT_TRUE(advanced->deviceRows()[0]->isSelected());
    EXPECT_FALSE(advanced->deviceRows()[1]->isSelected());
    click(advanced->deviceRows()[1]);
    settleUI();
    EXPECT_EQ(model->selectedDeviceID(), "phone|B");
    EXPECT_EQ(sidebar.connectedDeviceCard()->nameText(), "Beta");
    EXPECT_TRUE(advanced->deviceRows()[1]->isSelected());
    EXPECT_FALSE(advanced->deviceRows()[0]->isSelected());
    // Rows made after the rest of the window still come in Tab order where they stand.
    advanced->deviceRows()[0]->setFocus(Qt::TabFocusReason);
    QTest::keyClick(advanced->deviceRows()[0], Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), advanced->deviceRows()[1]);
    QTest::keyClick(advanced->deviceRows()[1], Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), advanced->rescanButton()) << "Tab goes from the list to Rescan";

    click(advanced->rescanButton());
    settleUI();
    EXPECT_TRUE(model->devices().empty());
    EXPECT_FALSE(advanced->deviceList()->isVisible());
}

TEST_F(Sidebar, DiscoveryAndConnectButtonsFollowTheBusyFlags) {
    BridgeAdvancedControls* advanced = open().advancedControls();
    EXPECT_EQ(advanced->lanButton()->text(), "LAN");
    EXPECT_TRUE(advanced->lanButton()->isEnabled());
    model->setIsScanningLAN(true);
    EXPECT_EQ(advanced->lanButton()->text(), "Scanning");
    EXPECT_FALSE(advanced->lanButton()->isEnabled());
    model->setIsScanningLAN(false);
    // Connect pressed from the keyboard: while the sync runs, the focus moves to no other button
    // (a second Space would press it), and it is back on Connect afterwards.
    QApplication::setActiveWindow(window.get());
    advanced->connectButton()->setFocus(Qt::TabFocusReason);
    model->setIsSyncing(true);
    EXPECT_EQ(advanced->lanButton()->text(), "LAN");
    EXPECT_FALSE(advanced->lanButton()->isEnabled());
    EXPECT_FALSE(advanced->connectButton()->isEnabled());
    EXPECT_TRUE(advanced->rescanButton()->isEnabled());
    EXPECT_FALSE(qobject_cast<QAbstractButton*>(QApplication::focusWidget()));
    model->setIsSyncing(false);
    EXPECT_TRUE(advanced->connectButton()->isEnabled());
    EXPECT_TRUE(advanced->connectButton()->hasFocus());
}

TEST_F(Sidebar, TypedAddressIsBoundBothWaysAndReturnConnects) {
    BridgeAdvancedControls* advanced = open().advancedControls();
    QLineEdit* field = advanced->addressField();
    EXPECT_EQ(field->placeholderText(), "Manual address:port");
    field->setFocus();
    QTest::keyClicks(field, "not an address");
    EXPECT_EQ(model->manualAddress(), "not an address");
    model->setManualAddress("127.0.0.1:9");
    EXPECT_EQ(field->text(), "127.0.0.1:9");

    model->setManualAddress("");
    QTest::keyClick(field, Qt::Key_Return);
    settleUI();
    EXPECT_TRUE(model->errorMessage()) << "an empty address still starts the sync, which reports the problem";
}

TEST_F(Sidebar, FolderBoxShowsThePathAndResetOnlyForAnotherFolder) {
    BridgeAdvancedControls* advanced = open().advancedControls();
    EXPECT_EQ(advanced->folderPathLabel()->text(), QString::fromStdString(model->sampleFolderPath()));
    EXPECT_FALSE(advanced->resetButton()->isEnabled());

    const auto other = paths.home / "Elsewhere" / "A very long folder name that cannot fit" / "Library";
    std::filesystem::create_directories(other);
    chooser->answer = other;
    click(advanced->chooseButton());
    for (int turn = 0; turn < 20 && !advanced->resetButton()->isEnabled(); ++turn) {
        if (!alerts->pending.empty())
            alerts->answer(1); // "Use Empty"
        settleUI();
    }
    EXPECT_TRUE(advanced->resetButton()->isEnabled());
    const QString shown = advanced->folderPathLabel()->displayedText();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith("~/")) << "the start stays visible";
    EXPECT_TRUE(shown.endsWith("Library")) << "and so does the folder's own name";

    click(advanced->revealButton());
    ASSERT_EQ(desktop->revealed.size(), 1u);
    EXPECT_EQ(desktop->revealed[0], other);
}

TEST_F(Sidebar, AdvancedStartsCollapsedAndToggles) {
    settings->setValue(BridgeMainWindow::companionAppOnboardingKey, true);
    openWindow();
    BridgeSidebar* sidebar = window->sidebar();
    EXPECT_FALSE(sidebar->isShowingAdvanced());
    EXPECT_FALSE(sidebar->advancedControls()->isVisible());
    click(sidebar->advancedToggle());
    EXPECT_TRUE(sidebar->advancedControls()->isVisible());
    click(sidebar->advancedToggle());
    EXPECT_FALSE(sidebar->advancedControls()->isVisible());
}

} // namespace
} // namespace vt::test
