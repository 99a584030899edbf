#pragma once
// The preview controls in the samples pane's header: a speaker glyph, the preview level slider
// (0 to 1, written to the controller as it moves) and the loop button, on a faint capsule.

#include "Platform/UI/Widgets.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

class QSlider;

class BridgePreviewControls final : public QWidget {
public:
    static constexpr int sliderSteps = 1000;

    explicit BridgePreviewControls(BridgeViewModel& model, QWidget* parent = nullptr);

    // The speaker glyph for a level: muted at 0.02 and below, and for a level that is not a number.
    static std::string_view levelSymbol(double level);

    QSlider* levelSlider() const { return slider; }
    QAbstractButton* loopButton() const { return loop; }
    const std::string& shownLevelSymbol() const { return speaker->symbol(); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refreshLevel();
    void refreshLooping();

    BridgeViewModel& model;
    vt::ui::GlyphView* speaker;
    QSlider* slider;
    vt::ui::PaintedButton* loop;
    bool isShowingLevel = false;
};
