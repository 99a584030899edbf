#pragma once
// The first card of the sidebar: a dot (cyan while the browse runs, amber otherwise) and two
// lines that summarise discovery, sync and the last operation.

#include "Platform/UI/Widgets.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

struct LiveStatusText {
    QString title;
    QString detail;
};

// The status texts for which the title names the watched phone instead.
bool isIdleStatusText(const std::string& status);
// The two lines of the card for the controller's current state.
LiveStatusText liveStatusText(const BridgeViewModel& model);

class BridgeLiveStatusCard final : public vt::ui::CardFrame {
public:
    explicit BridgeLiveStatusCard(BridgeViewModel& model, QWidget* parent = nullptr);

    QString title() const { return titleLabel->text(); }
    QString detail() const { return detailLabel->text(); }
    QColor dotColor() const;
    void refresh();

private:
    BridgeViewModel& model;
    vt::ui::GlyphView* dot;
    vt::ui::ElidedLabel* titleLabel;
    vt::ui::ElidedLabel* detailLabel;
};
