#pragma once
// The Auto Chop panel under a sample card's top line: the chop sensitivity slider with its
// number, the Find / Update Chops button, a hint, and a grid of chop tiles. It shows what the
// card hands it and reports the user's actions; the card decides when to chop. The slider stays
// usable while a chop runs, and a value set meanwhile is reported as a release once it ends.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QWidget>
#include <vector>

class BridgeChopRow;
class QLabel;
namespace bridgeui {
class DoubleSlider;
class StyledButton;
} // namespace bridgeui
namespace vt::ui {
class ElidedLabel;
} // namespace vt::ui

class BridgeChopPanel : public QWidget {
    Q_OBJECT

public:
    explicit BridgeChopPanel(BridgeViewModel& model, QWidget* parent = nullptr);

    // Shows the sample's chops and the card's sensitivity; reads whether the sample is being chopped.
    void refresh(const SampleItem& sample, double sensitivity);

    bridgeui::DoubleSlider* sensitivitySlider() const { return slider; }
    bridgeui::StyledButton* chopButton() const { return button; }
    const std::vector<BridgeChopRow*>& chopRows() const { return rows; }
    // The sensitivity as the panel shows it: a whole number from 0 to 100.
    static QString sensitivityText(double sensitivity);

signals:
    void sensitivityEdited(double sensitivity);
    void sliderEditingStarted();
    void sliderEditingEnded();
    void chopRequested();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void buildHeader();
    void refreshChopArea(const SampleItem& sample);

    BridgeViewModel& model;
    bridgeui::DoubleSlider* slider;
    vt::ui::ElidedLabel* sensitivityLabel;
    bridgeui::StyledButton* button;
    vt::ui::ElidedLabel* hint;
    QWidget* grid;
    QLabel* emptyText;
    std::vector<BridgeChopRow*> rows;
    bool isChopping = false;
    // The sensitivity changed while a chop ran: chop again once it ends and the slider is let go.
    bool isChopAfterRunWanted = false;
};
