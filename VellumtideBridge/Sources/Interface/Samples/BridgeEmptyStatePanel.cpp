#include "VellumtideBridge/Sources/Interface/Samples/BridgeEmptyStatePanel.h"

#include "Platform/UI/Fonts.h"
#include "Platform/UI/Palette.h"

BridgeEmptyStatePanel::BridgeEmptyStatePanel(std::string_view symbol, QColor symbolColor,
                                             const QString& title, const QString& message, QWidget* parent)
    : CardFrame(vt::ui::withOpacity(vt::ui::palette::surface, 0.58), std::nullopt, parent) {
    using vt::ui::FontWeight;
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* column = vt::ui::makeColumn(this, 10);
    column->setContentsMargins(24, 24, 24, 24);
    column->addStretch(1);
    column->addWidget(new vt::ui::GlyphView(symbol, 34, symbolColor, QSize(44, 44), std::nullopt, this), 0,
                      Qt::AlignHCenter);
    titleLabel = vt::ui::makeText(title, vt::ui::systemFont(16, FontWeight::semibold), vt::ui::white(0.74),
                                  false, this);
    column->addWidget(titleLabel, 0, Qt::AlignHCenter);
    messageLabel = vt::ui::makeText(message, vt::ui::systemFont(12, FontWeight::medium), vt::ui::white(0.42),
                                    true, this);
    messageLabel->setAlignment(Qt::AlignHCenter);
    messageLabel->setMaximumHeight(2 * messageLabel->fontMetrics().lineSpacing() + 2);
    column->addWidget(messageLabel);
    column->addStretch(1);
}

void BridgeEmptyStatePanel::addButton(QAbstractButton* button) {
    auto* column = static_cast<QVBoxLayout*>(layout());
    column->insertWidget(column->count() - 1, button, 0, Qt::AlignHCenter);
}
