#include "VellumtideBridge/Sources/Interface/Sidebar/BridgeLiveStatusCard.h"

#include "Platform/UI/Fonts.h"
#include "Platform/UI/Palette.h"

#include <array>

namespace {

using vt::ui::FontWeight;
using Field = BridgeViewModel::Field;

constexpr std::array<std::string_view, 4> idleStatusTexts{"No iPhone found", "Searching for Vellumtide",
                                                          "Watch waiting for iPhone", "Waiting"};

QString text(const std::string& value) {
    return QString::fromStdString(value);
}

} // namespace

bool isIdleStatusText(const std::string& status) {
    for (std::string_view idle : idleStatusTexts)
        if (status == idle)
            return true;
    return false;
}

LiveStatusText liveStatusText(const BridgeViewModel& model) {
    if (const auto device = model.selectedDevice()) {
        const bool idle = isIdleStatusText(model.statusMessage());
        const bool waiting = model.watchMessage() == "Waiting for iPhone";
        return {idle ? QStringLiteral("Watching ") + text(device->name) : text(model.statusMessage()),
                waiting ? QStringLiteral("Background sync on") : text(model.watchMessage())};
    }
    if (model.isBrowsing())
        return {QStringLiteral("Listening for iPhone"), text(model.watchMessage())};
    return {text(model.statusMessage()), text(model.discoveryMessage())};
}

BridgeLiveStatusCard::BridgeLiveStatusCard(BridgeViewModel& model, QWidget* parent)
    : CardFrame(vt::ui::palette::surface2, std::nullopt, parent), model(model) {
    setObjectName(QStringLiteral("liveStatusCard"));
    auto* row = vt::ui::makeRow(this, 8);
    row->setContentsMargins(10, 10, 10, 10);
    dot = new vt::ui::GlyphView({}, 0, Qt::transparent, QSize(9, 9), vt::ui::palette::amber, this);
    row->addWidget(dot, 0, Qt::AlignVCenter);
    auto* lines = new QVBoxLayout;
    lines->setSpacing(2);
    titleLabel =
        new vt::ui::ElidedLabel({}, vt::ui::systemFont(12, FontWeight::semibold), vt::ui::white(0.7));
    detailLabel =
        new vt::ui::ElidedLabel({}, vt::ui::systemFont(10, FontWeight::medium), vt::ui::white(0.38));
    lines->addWidget(titleLabel);
    lines->addWidget(detailLabel);
    row->addLayout(lines, 1);
    refresh();
    connect(&model, &BridgeViewModel::changed, this, [this](Field field) {
        switch (field) {
        case Field::devices:
        case Field::selectedDeviceID:
        case Field::isBrowsing:
        case Field::statusMessage:
        case Field::watchMessage:
        case Field::discoveryMessage:
            refresh();
            break;
        default:
            break;
        }
    });
}

QColor BridgeLiveStatusCard::dotColor() const {
    return model.isBrowsing() ? vt::ui::palette::cyan : vt::ui::palette::amber;
}

void BridgeLiveStatusCard::refresh() {
    const LiveStatusText status = liveStatusText(model);
    titleLabel->setText(status.title);
    detailLabel->setText(status.detail);
    dot->setCircleFill(dotColor());
}
