// The window from the keyboard: overlays keep the focus inside the topmost one and give it back
// when they close, a stack of overlays dims once, alerts follow their text, and every control
// that Tab reaches shows that it has the focus.

#include "Platform/UI/FocusRing.h"
#include "Platform/UI/SheetOverlay.h"
#include "Shared/Interface/VellumtideExternalLinks.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Interface/Window/WindowFixture.h"
#include "VellumtideBridge/Sources/Interface/EditSheet/SampleEditSheet.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeChopRow.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeControls.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleRow.h"
#include "VellumtideBridge/Sources/Interface/Samples/BridgeSampleList.h"
#include "VellumtideBridge/Sources/Interface/Sheets/BridgeAlertPanel.h"
#include "VellumtideBridge/Sources/Interface/Sheets/BridgePairingSheet.h"
#include "VellumtideBridge/Sources/Interface/Sheets/CompanionAppSheet.h"
#include "VellumtideBridge/Sources/Interface/Sidebar/BridgeSidebar.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <set>

namespace vt::test {
namespace {

class Keyboard : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        settings->setValue(BridgeMainWindow::companionAppOnboardingKey, true);
    }

    // Opens the window on a small library (sample, then more) with a paired phone and the
    // Advanced controls open.
    void openFullWindow(std::vector<SampleItem> more = {}) {
        sample = makeSample("Kick Room", 1'700'000'000.0);
        sample.peaks = {0.1f, 0.6f, 0.9f, 0.4f};
        more.insert(more.begin(), sample);
        seedLibrary(more);
        start();
        phone = makeDevice("Studio iPhone", "S1");
        probe(*model).pairingStore.setToken("S1", "token");
        showDevices({phone});
        openWindow();
        window->sidebar()->setShowingAdvanced(true);
        settleUI();
    }

    static QWidget* focused() { return QApplication::focusWidget(); }

    // A key as the user presses it: delivered to the focused widget (or the window).
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(focused() ? focused() : window.get(), key, modifiers);
        settleUI();
    }

    static ui::SheetOverlay* overlayOf(QWidget* panel) {
        return qobject_cast<ui::SheetOverlay*>(panel->parentWidget());
    }

    static bool isInside(const QWidget* widget, const QWidget* container) {
        return widget && container && (widget == container || container->isAncestorOf(widget));
    }

    // Tab and Backtab visit every control of the panel, and nothing outside it.
    void expectTabStaysInside(QWidget* panel, const char* name) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(panel);
        auto* overlay = qobject_cast<ui::SheetOverlay*>(panel->parentWidget());
        ASSERT_TRUE(overlay);
        EXPECT_TRUE(overlay->isTopmost());
        EXPECT_TRUE(isInside(focused(), panel)) << "the overlay takes the focus when it opens";
        const int controls = int(overlay->tabChain().size());
        ASSERT_GT(controls, 0);
        for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
            std::set<QWidget*> visited;
            for (int step = 0; step < 2 * controls + 1; ++step) {
                press(key);
                ASSERT_TRUE(isInside(focused(), panel))
                    << "step " << step << " left the overlay for "
                    << (focused() ? focused()->metaObject()->className() : "nothing");
                visited.insert(focused());
            }
            EXPECT_EQ(int(visited.size()), controls) << "every control of the overlay is reached";
        }
        // Each of them shows that it has the focus, also where its fill is the ring's colour.
        for (QWidget* control : overlay->tabChain()) {
            control->setFocus(Qt::TabFocusReason);
            const QImage focusedLook = control->grab().toImage();
            control->clearFocus();
            EXPECT_NE(control->grab().toImage(), focusedLook)
                << "no visible focus on " << control->metaObject()->className() << " "
                << control->objectName().toStdString();
        }
        overlay->tabChain().front()->setFocus(Qt::TabFocusReason);
        // A control behind that asks for the focus does not get it.
        window->sidebar()->settingsButton()->setFocus(Qt::OtherFocusReason);
        settleUI();
        EXPECT_TRUE(isInside(focused(), panel));
    }

    SampleItem sample;
    VellumtideDevice phone;
};

TEST_F(Keyboard, TabStaysInsideEveryOverlayAndItsTopmostOne) {
    openFullWindow();

    model->setPairingRequest(BridgePairingRequest(phone, "S1", "Studio iPhone", phone.detail));
    settleUI();
    expectTabStaysInside(window->pairingSheet(), "pairing sheet");
    model->setPairingRequest(std::nullopt);
    settleUI();

    window->setShowingCompanionApp(true);
    settleUI();
    expectTabStaysInside(window->companionAppSheet(), "companion-app sheet");

    model->setErrorMessage("The folder could not be read.");
    settleUI();
    expectTabStaysInside(window->errorAlert(), "error alert over the companion-app sheet");
    model->setErrorMessage(std::nullopt);
    window->setShowingCompanionApp(false);
    settleUI();

    model->setEditingSample(sample);
    settleUI();
    expectTabStaysInside(window->editSheet(), "edit sheet");
    model->setEditingSample(std::nullopt);
    settleUI();

    window->confirmDeviceUnlink(phone);
    settleUI();
    expectTabStaysInside(window->unlinkConfirmation(), "unlink confirmation");
}

TEST_F(Keyboard, EditSheetBodyScrollsToWhatTabFocusesInTheSmallestWindow) {
    openFullWindow();
    window->resize(BridgeMainWindow::minimumWindowSize);
    model->setEditingSample(sample);
    settleUI();
    SampleEditSheet* sheet = window->editSheet();
    ASSERT_TRUE(sheet);
    EXPECT_LE(sheet->geometry().bottom(), window->height()) << "the sheet fits the window";
    auto* body = sheet->findChild<QAbstractScrollArea*>("editSheetBody");
    ASSERT_TRUE(body);
    for (const char* name : {"denoiseSwitch", "startSlider"}) {
        QWidget* target = sheet->findChild<QWidget*>(name);
        ASSERT_TRUE(target);
        for (int step = 0; step < 30 && !isInside(focused(), target); ++step)
            press(Qt::Key_Tab);
        ASSERT_TRUE(isInside(focused(), target)) << name;
        const QRect shown(focused()->mapTo(body->viewport(), QPoint(0, 0)), focused()->size());
        EXPECT_TRUE(body->viewport()->rect().contains(shown)) << name << " is scrolled into view";
    }
}

TEST_F(Keyboard, KeysUnderAnOverlayReachNothingBehindIt) {
    openFullWindow();
    auto* address = window->sidebar()->findChild<QLineEdit*>();
    ASSERT_TRUE(address);

    model->setPairingRequest(BridgePairingRequest(phone, "S1", "Studio iPhone", phone.detail));
    settleUI();
    for (int step = 0; step < 12; ++step)
        press(Qt::Key_Tab);
    QTest::keyClicks(focused(), "12");
    EXPECT_EQ(address->text(), "") << "typing under the pairing sheet never lands in the address field";
    model->setPairingRequest(std::nullopt);
    settleUI();

    const bool looping = model->isPreviewLooping();
    window->setShowingCompanionApp(true);
    settleUI();
    for (int step = 0; step < 6; ++step)
        press(Qt::Key_Tab);
    press(Qt::Key_Space);
    EXPECT_EQ(model->isPreviewLooping(), looping) << "Space under the companion sheet presses nothing behind";
}

TEST_F(Keyboard, FocusReturnsWhereItWasWhenAnOverlayCloses) {
    openFullWindow();
    QAbstractButton* settingsButton = window->sidebar()->settingsButton();
    settingsButton->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Space);
    ASSERT_TRUE(window->companionAppSheet()) << "Space presses the settings button";
    CompanionAppSheet* sheet = window->companionAppSheet();

    // An alert over the sheet gives the focus back to the sheet's control it came from.
    sheet->manualButton()->setFocus(Qt::TabFocusReason);
    model->setErrorMessage("The folder could not be read.");
    settleUI();
    ASSERT_TRUE(window->errorAlert());
    EXPECT_EQ(focused(), window->errorAlert()->button(0)) << "the alert's default button has the focus";
    EXPECT_TRUE(ui::isShowingFocusRing(focused()));
    press(Qt::Key_Return);
    EXPECT_FALSE(window->isShowingError());
    EXPECT_EQ(focused(), sheet->manualButton());

    sheet->closeButton()->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Return);
    EXPECT_FALSE(window->isShowingCompanionApp()) << "Return presses the focused close button";
    EXPECT_EQ(focused(), settingsButton);
    EXPECT_TRUE(ui::isShowingFocusRing(settingsButton));
}

// The edit preview's failure alert gives the focus back to Preview; an alert that comes while
// Apply renders leaves Apply disabled, so the sheet's first control takes the focus. Either way
// with its ring, never a place that shows none.
TEST_F(Keyboard, AfterAnAlertTheFocusGoesToItsOpenerOrTheFirstControlBelow) {
    openFullWindow();
    makePlayable(sample);
    model->setEditingSample(sample);
    settleUI();
    SampleEditSheet* sheet = window->editSheet();
    ASSERT_TRUE(sheet);
    auto* preview = sheet->findChild<QAbstractButton*>("previewButton");
    auto* apply = sheet->findChild<QAbstractButton*>("applyButton");
    ASSERT_TRUE(preview && apply);

    players->setServerReachable(false);
    preview->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Space);
    ASSERT_TRUE(window->errorAlert());
    EXPECT_EQ(window->errorAlert()->message(), "The edit preview could not be played.");
    press(Qt::Key_Return);
    EXPECT_FALSE(window->isShowingError());
    EXPECT_EQ(focused(), preview);
    EXPECT_TRUE(ui::isShowingFocusRing(preview));
    players->setServerReachable(true);

    auto* startSlider = sheet->findChild<bridgeui::DoubleSlider*>("startSlider");
    ASSERT_TRUE(startSlider);
    startSlider->slider()->setValue(bridgeui::DoubleSlider::steps / 2); // an edit to apply
    settleUI();
    audio.renderGate = Completion<bool>();
    apply->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Space);
    ASSERT_FALSE(apply->isEnabled());
    ASSERT_FALSE(preview->isEnabled());
    model->setErrorMessage("The folder could not be read.");
    settleUI();
    ASSERT_TRUE(window->errorAlert());
    press(Qt::Key_Return);
    EXPECT_FALSE(window->isShowingError());
    EXPECT_EQ(focused(), overlayOf(sheet)->tabChain().front());
    EXPECT_TRUE(focused() && ui::isShowingFocusRing(focused()));
    audio.renderGate->resolve(true);
    audio.renderGate.reset();
    settleUI();
}

// Tab goes from the chop button through the chop tiles before the next card; Space previews.
TEST_F(Keyboard, TabReachesEachChopTileAndSpacePreviewsIt) {
    audio.chopsToFind = {makeChop(0, 0.25, 1.0), makeChop(1, 1.0, 1.5)};
    openFullWindow({makeSample("Snare Room", 1'600'000'000.0)});
    ASSERT_EQ(model->samples().size(), 2u);
    const SampleItem chopped = model->samples().front();
    awaitVoid(model->autoChop(chopped, 0.5));
    settleUI();
    BridgeSampleRow* card = nullptr;
    for (auto* row : window->findChildren<BridgeSampleRow*>())
        card = row->sample().id == chopped.id ? row : card;
    ASSERT_TRUE(card);
    auto* toggle = card->findChild<QAbstractButton*>("chopToggle");
    ASSERT_TRUE(toggle);
    toggle->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Space);
    auto* chopButton = card->findChild<QWidget*>("chopButton");
    ASSERT_TRUE(chopButton && chopButton->isVisible());
    chopButton->setFocus(Qt::TabFocusReason);
    const std::vector<BridgeSampleChop> chops = model->samples().front().chops;
    ASSERT_EQ(chops.size(), 2u);
    for (const BridgeSampleChop& chop : chops) {
        press(Qt::Key_Tab);
        auto* tile = qobject_cast<BridgeChopRow*>(focused());
        ASSERT_TRUE(tile) << "Tab reached " << (focused() ? focused()->metaObject()->className() : "nothing");
        EXPECT_EQ(tile->chop().id, chop.id);
        EXPECT_TRUE(ui::isShowingFocusRing(tile));
    }
    press(Qt::Key_Space);
    EXPECT_EQ(model->playingChopID(), chops.back().id);
}

// Whatever Tab or Shift+Tab focuses in the sample list is scrolled into view, also when the focus
// comes in from outside the list while the list is scrolled away from where it lands.
TEST_F(Keyboard, TabAndShiftTabScrollWhatTheyFocusIntoTheSampleList) {
    std::vector<SampleItem> more;
    for (int index = 0; index < 12; ++index)
        more.push_back(makeSample("Take " + std::to_string(index), 1'600'000'000.0 - index));
    openFullWindow(more);
    window->resize(1100, 700);
    settleUI();
    auto* list = window->findChild<BridgeSampleList*>("sampleList");
    ASSERT_TRUE(list);
    QScrollBar* bar = list->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0) << "the list scrolls";
    for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
        SCOPED_TRACE(key == Qt::Key_Tab ? "Tab" : "Shift+Tab");
        window->sidebar()->settingsButton()->setFocus(Qt::TabFocusReason);
        int entries = 0;
        for (int step = 0; step < 80; ++step) {
            const bool wasInside = isInside(focused(), list);
            if (!wasInside) // away from the end of the list where the focus comes in
                bar->setValue(key == Qt::Key_Tab ? bar->maximum() : 0);
            press(key);
            if (!isInside(focused(), list))
                continue;
            entries += !wasInside;
            const QRect shown(focused()->mapTo(list->viewport(), QPoint(0, 0)), focused()->size());
            EXPECT_TRUE(list->viewport()->rect().contains(shown))
                << "step " << step << ": " << focused()->metaObject()->className() << " "
                << focused()->objectName().toStdString() << " at " << shown.y() << " is out of view";
        }
        EXPECT_GE(entries, 1) << "the focus came into the list";
    }
}

// A sample that arrives later shows at the top of the list, and Tab goes on from its card to the
// card below it, not back to the sidebar.
TEST_F(Keyboard, TabGoesFromANewTopCardToTheCardBelow) {
    openFullWindow();
    const SampleItem newer = makeSample("Snare Room", 1'800'000'000.0);
    std::vector<SampleItem> samples = model->samples();
    samples.insert(samples.begin(), newer);
    model->setSamples(samples);
    settleUI();
    BridgeSampleRow* top = nullptr;
    BridgeSampleRow* below = nullptr;
    for (auto* row : window->findChildren<BridgeSampleRow*>())
        (row->sample().id == newer.id ? top : below) = row;
    ASSERT_TRUE(top && below);
    ASSERT_LT(top->y(), below->y());
    auto* favorite = top->findChild<QAbstractButton*>("favoriteButton");
    ASSERT_TRUE(favorite);
    favorite->setFocus(Qt::TabFocusReason);
    for (int presses = 0; presses < 20 && isInside(focused(), top); ++presses)
        press(Qt::Key_Tab);
    EXPECT_TRUE(isInside(focused(), below))
        << "Tab reached " << (focused() ? focused()->metaObject()->className() : "nothing");
}

TEST_F(Keyboard, AlertIsLaidOutAgainWhenItsTextIsReplaced) {
    openWindow();
    model->setErrorMessage("Searching for Vellumtide");
    settleUI();
    BridgeAlertPanel* alert = window->errorAlert();
    ASSERT_TRUE(alert);
    const int shortHeight = alert->height();
    model->setErrorMessage("No iPhone answered within 10 seconds. Check that Vellumtide is open on the "
                           "iPhone and that both devices are on the same network.");
    settleUI();
    ASSERT_EQ(window->errorAlert(), alert);
    EXPECT_GT(alert->height(), shortHeight);
    auto* message = alert->findChildren<QLabel*>().at(1);
    EXPECT_EQ(message->text(), alert->message());
    EXPECT_GE(message->height(), message->heightForWidth(message->width())) << "the new text is not cut";
    EXPECT_TRUE(alert->rect().contains(message->geometry()));
    EXPECT_TRUE(alert->rect().contains(alert->button(0)->geometry()));
}

TEST_F(Keyboard, StackedOverlaysDimOnce) {
    openWindow();
    const QPoint corner(window->width() - 4, window->height() - 4); // outside every panel
    const QRgb bare = window->grab().toImage().pixel(corner);
    window->setShowingCompanionApp(true);
    settleUI();
    const QRgb oneSheet = window->grab().toImage().pixel(corner);
    model->setErrorMessage("The folder could not be read.");
    settleUI();
    const QRgb sheetAndAlert = window->grab().toImage().pixel(corner);
    EXPECT_LT(qGray(oneSheet), qGray(bare)) << "an overlay dims the window";
    EXPECT_EQ(oneSheet, sheetAndAlert) << "a second overlay adds no second dim layer";
    int dimming = 0;
    for (auto* overlay : window->findChildren<ui::SheetOverlay*>())
        dimming += overlay->isVisible() && overlay->isTopmost();
    EXPECT_EQ(dimming, 1);
}

// Every Tab press moves a visible focus ring; the manual link card is reached and opened by Space.
TEST_F(Keyboard, EveryControlTabReachesShowsItsFocusAndTheManualCardOpens) {
    openFullWindow();
    window->activateWindow();
    QImage before = window->grab().toImage();
    std::set<QWidget*> visited;
    bool reachedManual = false;
    for (int step = 0; step < 40; ++step) {
        press(Qt::Key_Tab);
        QWidget* now = focused();
        ASSERT_TRUE(now);
        if (visited.count(now))
            break; // once round
        visited.insert(now);
        EXPECT_FALSE(qobject_cast<QAbstractScrollArea*>(now)) << "a scroll area takes no invisible focus";
        const bool ring = ui::isShowingFocusRing(now) || qobject_cast<QLineEdit*>(now);
        EXPECT_TRUE(ring) << "no focus ring on " << now->metaObject()->className() << " "
                          << now->objectName().toStdString();
        const QImage after = window->grab().toImage();
        EXPECT_NE(after, before) << "Tab changed no pixel at " << now->metaObject()->className();
        before = after;
        if (now->objectName() == "manualLinkCard") {
            reachedManual = true;
            press(Qt::Key_Space);
        }
    }
    EXPECT_GT(visited.size(), 10u);
    EXPECT_TRUE(reachedManual);
    ASSERT_FALSE(desktop->opened.empty());
    EXPECT_EQ(desktop->opened.back(), QUrl(QString::fromLatin1(VellumtideExternalLinks::manual)));
}

} // namespace
} // namespace vt::test
