#pragma once
// The content of the sidebar's Advanced disclosure: the list of discovered phones (only when
// there are two or more), Rescan and LAN, the typed-address box with Paste and Connect, and the
// sample-folder box with the folder path, Choose, Reveal and Reset to Default.

#include "Platform/UI/Widgets.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "VellumtideBridge/Sources/Interface/Sidebar/DeviceRow.h"
#include "VellumtideBridge/Sources/Interface/Window/BridgeWidgetKit.h"

#include <vector>

class QLineEdit;

class BridgeAdvancedControls final : public QWidget {
public:
    explicit BridgeAdvancedControls(BridgeViewModel& model, QWidget* parent = nullptr);

    QWidget* deviceList() const { return deviceList_; }
    const std::vector<DeviceRow*>& deviceRows() const { return rows; }
    bridge::LabeledButton* rescanButton() const { return rescan; }
    bridge::LabeledButton* lanButton() const { return lan; }
    QLineEdit* addressField() const { return address; }
    bridge::LabeledButton* pasteButton() const { return paste; }
    bridge::LabeledButton* connectButton() const { return connectButton_; }
    vt::ui::ElidedLabel* folderPathLabel() const { return folderPath; }
    bridge::LabeledButton* chooseButton() const { return choose; }
    bridge::LabeledButton* revealButton() const { return reveal; }
    bridge::LabeledButton* resetButton() const { return reset; }

private:
    QWidget* makeDiscoveryRow();
    QWidget* makeAddressBox();
    QWidget* makeFolderBox();
    void rebuildDeviceList();
    void placeRowsInTabOrder();
    void refreshBusyStates();
    void refreshAddress();
    void refreshFolder();

    BridgeViewModel& model;
    QWidget* deviceList_ = nullptr;
    std::vector<DeviceRow*> rows;
    bridge::LabeledButton* rescan = nullptr;
    bridge::LabeledButton* lan = nullptr;
    QLineEdit* address = nullptr;
    bridge::LabeledButton* paste = nullptr;
    bridge::LabeledButton* connectButton_ = nullptr;
    vt::ui::ElidedLabel* folderPath = nullptr;
    bridge::LabeledButton* choose = nullptr;
    bridge::LabeledButton* reveal = nullptr;
    bridge::LabeledButton* reset = nullptr;
};
