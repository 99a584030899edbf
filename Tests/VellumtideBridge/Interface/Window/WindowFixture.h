#pragma once
// The main window on a controller whose outside world is faked (temporary home, in-memory
// settings, virtual clock, fake browser), with helpers to let the window settle and to find
// what the user sees.

#include "Tests/VellumtideBridge/Controller/ControllerFixture.h"
#include "VellumtideBridge/Sources/Interface/Window/BridgeMainWindow.h"

#include <QAbstractButton>
#include <QStringList>
#include <chrono>

namespace vt::test {

class WindowTest : public ControllerTest {
protected:
    ~WindowTest() override;

    // Starts the controller when needed, builds the window and (unless told not to) shows it.
    BridgeMainWindow& openWindow(bool show = true);
    // Runs posted work, timers due now and pending deletions until the window is quiet.
    void settleUI();
    // Moves the virtual clock on and settles.
    void advance(std::chrono::milliseconds delta);

    // A phone with a pairing id, reachable (and refusing) on loopback.
    static VellumtideDevice makeDevice(const std::string& name, const std::string& pairingID = "PAIR-1");
    // Publishes the phones and selects the first.
    void showDevices(const std::vector<VellumtideDevice>& devices);

    std::unique_ptr<BridgeMainWindow> window;
};

// Every visible text in the widget tree: labels, elided labels and button titles.
QStringList visibleTexts(const QWidget* root);
// The visible button whose title or accessible name is text; nothing when there is none.
QAbstractButton* findButton(const QWidget* root, const QString& text);
// Clicks a widget in its middle with the left button.
void click(QWidget* widget);

} // namespace vt::test
