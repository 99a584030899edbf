#pragma once
// The sample card's Auto Chop switch and the chop panel it opens: the capsule switch with the
// number of chops, the panel's opening and closing animation, and the chopping the panel asks
// for (0.32 s after the slider last moved, or at once on its release or on "Chop").

#include "Platform/Async/CancellationToken.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QObject>
#include <QPointer>
#include <optional>

class BridgeChopPanel;
class QVariantAnimation;
namespace vt::ui {
class PaintedButton;
}

class BridgeSampleChopSwitch final : public QObject {
public:
    // card is where the panel opens (the card places the switch and the panel).
    BridgeSampleChopSwitch(BridgeViewModel& model, const SampleItem& sample, QWidget* card);
    ~BridgeSampleChopSwitch() override;

    vt::ui::PaintedButton* toggle() const { return toggleButton; }
    BridgeChopPanel* panel() const { return chopPanel; }

    // The card's fresh copy of its sample: another sample closes the panel and drops a pending
    // chop; a new stored sensitivity shows.
    void setSample(const SampleItem& sample);
    void refresh();
    // Drops a chop still waiting for the slider to settle.
    void cancelPendingChop();

private:
    void setExpanded(bool expanded);
    void editSensitivity(double sensitivity);
    void startAutoChop(std::optional<vt::Nanoseconds> delay);

    BridgeViewModel& model;
    SampleItem sample;
    QWidget* card;
    bool isChopsExpanded = false;
    double chopSensitivity;
    std::optional<vt::CancellationToken> chopDebounceTask;
    vt::ui::PaintedButton* toggleButton;
    BridgeChopPanel* chopPanel;
    QPointer<QVariantAnimation> chopAnimation;
};
