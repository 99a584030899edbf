#pragma once
// The phone cards below the sidebar's "iPhone" heading: the connected-phone card (name, detail,
// whether it is paired, and the unlink button) while a phone is selected, and the waiting card
// with the button that shows the companion app otherwise.

#include "Platform/UI/Widgets.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

class BridgeConnectedDeviceCard final : public vt::ui::CardFrame {
    Q_OBJECT

public:
    explicit BridgeConnectedDeviceCard(BridgeViewModel& model, QWidget* parent = nullptr);

    const std::optional<VellumtideDevice>& device() const { return device_; }
    void setDevice(std::optional<VellumtideDevice> device);
    // Asks the controller again whether the phone is paired and redraws.
    void refresh();

    bool showsPaired() const { return paired; }
    QString pairingText() const { return pairingLabel->text(); }
    QString nameText() const { return nameLabel->text(); }
    QString detailText() const { return detailLabel->text(); }
    QAbstractButton* unlinkButton() const { return unlinkButton_; }

signals:
    void unlinkRequested(const VellumtideDevice& device);
    // The unlink button came or went, or now acts for another phone.
    void unlinkButtonChanged();

private:
    BridgeViewModel& model;
    std::optional<VellumtideDevice> device_;
    bool paired = false;
    vt::ui::ElidedLabel* nameLabel;
    vt::ui::ElidedLabel* detailLabel;
    vt::ui::GlyphView* pairingGlyph;
    QLabel* pairingLabel;
    vt::ui::PaintedButton* unlinkButton_;
};

class BridgeWaitingForPhoneCard final : public vt::ui::CardFrame {
    Q_OBJECT

public:
    explicit BridgeWaitingForPhoneCard(QWidget* parent = nullptr);

    QAbstractButton* appButton() const { return appButton_; }

signals:
    void companionAppRequested();

private:
    vt::ui::PaintedButton* appButton_;
};
