#pragma once
// The desktop program's one window ("main"): the sidebar and the samples pane side by side on
// the dark background, at least 860 by 560. When shown it starts browsing for phones and, on
// the user's very first start, schedules the companion-app sheet. It shows the controller's
// error text as an alert, and presents the edit, companion-app and pairing sheets and the unlink
// confirmation as in-window sheets that follow the controller's state both ways.

#include "Platform/Async/Scheduler.h"
#include "Platform/UI/SheetOverlay.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QPointer>
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

    // Presentation state.
    bool isShowingError() const { return errorOverlay != nullptr; }
    bool isShowingCompanionApp() const { return companionOverlay != nullptr; }
    bool isConfirmingDeviceUnlink() const { return unlinkOverlay != nullptr; }
    void setShowingCompanionApp(bool showing);
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
    void followErrorMessage();
    void setShowingError(bool showing);
    void syncEditSheet();
    void syncPairingSheet();
    vt::ui::SheetOverlay* presentSheet(QWidget* panel);
    void raiseAlerts();
    static void dismiss(QPointer<vt::ui::SheetOverlay>& overlay);

    BridgeViewModel& model;
    BridgeSidebar* sidebar_;
    BridgeSamplesPane* samplesPane_;

    bool didScheduleCompanionAppOnboarding = false;
    bool isFollowingErrors = false;
    std::optional<std::string> observedErrorMessage;

    QPointer<vt::ui::SheetOverlay> errorOverlay;
    QPointer<vt::ui::SheetOverlay> unlinkOverlay;
    QPointer<vt::ui::SheetOverlay> editOverlay;
    QPointer<vt::ui::SheetOverlay> pairingOverlay;
    QPointer<vt::ui::SheetOverlay> companionOverlay;
    std::optional<vt::Uuid> presentedEditSampleID;
    std::optional<vt::Uuid> presentedPairingRequestID;
};
