#pragma once
// The left column of the main window: a fixed header with the logo, the program's name and the
// settings button (which shows the companion app), and below it a scrolling column of cards:
// live status, the phone card, the manual link and the Advanced disclosure.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "VellumtideBridge/Sources/Interface/Sidebar/BridgeAdvancedControls.h"
#include "VellumtideBridge/Sources/Interface/Sidebar/BridgeDeviceCards.h"
#include "VellumtideBridge/Sources/Interface/Sidebar/BridgeLiveStatusCard.h"

class QScrollArea;

class BridgeSidebar final : public QWidget {
    Q_OBJECT

public:
    static constexpr int sidebarWidth = 270;

    explicit BridgeSidebar(BridgeViewModel& model, QWidget* parent = nullptr);

    BridgeLiveStatusCard* liveStatusCard() const { return statusCard; }
    BridgeConnectedDeviceCard* connectedDeviceCard() const { return connectedCard; }
    BridgeWaitingForPhoneCard* waitingForPhoneCard() const { return waitingCard; }
    BridgeAdvancedControls* advancedControls() const { return advanced; }
    QAbstractButton* settingsButton() const { return settings; }
    QAbstractButton* advancedToggle() const { return advancedDisclosure; }
    QScrollArea* cardScroller() const { return scroller; }

    bool isShowingAdvanced() const { return showingAdvanced; }
    void setShowingAdvanced(bool showing);

signals:
    void companionAppRequested();
    void unlinkRequested(const VellumtideDevice& device);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeCardColumn();
    QAbstractButton* makeDisclosureToggle(QWidget* parent);
    void refreshPhoneCard();

    BridgeViewModel& model;
    BridgeLiveStatusCard* statusCard = nullptr;
    BridgeConnectedDeviceCard* connectedCard = nullptr;
    BridgeWaitingForPhoneCard* waitingCard = nullptr;
    BridgeAdvancedControls* advanced = nullptr;
    QWidget* advancedContent = nullptr;
    QAbstractButton* settings = nullptr;
    QAbstractButton* advancedDisclosure = nullptr;
    QScrollArea* scroller = nullptr;
    bool showingAdvanced = false;
};
