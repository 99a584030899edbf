#pragma once
// The sidebar card that opens the product's online manual in the web browser.

#include "Platform/Desktop/DesktopServices.h"
#include "Platform/UI/Widgets.h"

#include <memory>

class BridgeManualLinkCard final : public vt::ui::CardFrame {
public:
    explicit BridgeManualLinkCard(std::shared_ptr<vt::UrlOpener> urlOpener, QWidget* parent = nullptr);
};
