#pragma once
// The desktop program's one window ("main"): the sidebar and the samples pane side by side on
// the dark background, at least 860 by 560. When shown it starts browsing for phones and, on
// the user's very first start, schedules the companion-app sheet. It shows the controller's
// error text as an alert, and presents the edit, companion-app and pairing sheets and the unlink
// confirmation as in-window sheets that follow the controller's state both ways, one at a time:
// alerts first, then the sheet the user asked for, then the sheets the program offers.

#include "Platform/Async/Scheduler.h"
#include "Platform/UI/SheetQueue.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QWidget>
#include <optional>

class BridgeAlertPanel;
class BridgePairingSheet;
class BridgeSamplesPane;
class BridgeSidebar;
class CompanionAppSheet;
class SampleEditSheet;

class BridgeMainWindow final : public QWidget {
public:
    static constexpr const char* companionAppOnboardingKey =
        "VellumtideBridge.didShowCompanionAppOnFirstStartup";
    static constexpr vt::Nanoseconds companionAppOnboardingDelay{550'000'000};
    static constexpr QSize minimumWindowSize{860, 560};

    explicit BridgeMainWindow(BridgeViewModel& model, QWidget* parent = nullptr);
    ~BridgeMainWindow() override;

    BridgeSidebar* sidebar() const { return sidebar_; }
    BridgeSamplesPane* samplesPane() const { return samplesPane_; }

    // Presentation state: what is up now (a request may wait behind what is up).
    bool isShowingError() const { return errorAlert() != nullptr; }
    bool isShowingCompanionApp() const { return companionAppSheet() != nullptr; }
    bool isConfirmingDeviceUnlink() const { return unlinkConfirmation() != nullptr; }
    // The user asks for the companion-app sheet (the first start offers it instead).
    void setShowingCompanionApp(bool showing);
    // The unlink button asks to confirm unlinking device; the dialog acts on that phone only and
    // goes with the button (when the phone is no longer paired or the card shows another one).
    void confirmDeviceUnlink(const VellumtideDevice& device);

    // The sheets now presented (nothing when closed).
    BridgeAlertPanel* errorAlert() const;
    BridgeAlertPanel* unlinkConfirmation() const;
    SampleEditSheet* editSheet() const;
    BridgePairingSheet* pairingSheet() const;
    CompanionAppSheet* companionAppSheet() const;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void showCompanionAppOnFirstStartupIfNeeded();
    void requestCompanionApp(vt::ui::SheetQueue::Kind kind);
    void followErrorMessage();
    void setShowingError(bool showing);
    void followUnlinkButton();
    void syncEditSheet();
    void syncPairingSheet();
    template <typename Panel> Panel* panelUp(const QString& key) const;

    BridgeViewModel& model;
    BridgeSidebar* sidebar_;
    BridgeSamplesPane* samplesPane_;

    bool didScheduleCompanionAppOnboarding = false;
    bool isFollowingErrors = false;
    std::optional<std::string> observedErrorMessage;

    vt::ui::SheetQueue sheets;
    std::optional<VellumtideDevice> unlinkDevice; // the phone of the confirmation, up or waiting
    std::optional<vt::Uuid> presentedEditSampleID;
    std::optional<vt::Uuid> presentedPairingRequestID;
};
