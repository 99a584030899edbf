#include "VellumtideBridge/Sources/Interface/Sheets/BridgeSheetPanel.h"

#include "Platform/UI/Fonts.h"
#include "Platform/UI/Palette.h"
#include "VellumtideBridge/Sources/Interface/Window/BridgeWidgetKit.h"

#include <QPainter>

namespace {
constexpr double sheetCornerRadius = 10;
}

BridgeSheetPanel::BridgeSheetPanel(int width, int padding, int spacing, QWidget* parent) : QWidget(parent) {
    setFixedWidth(width);
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(padding, padding, padding, padding);
    column_->setSpacing(spacing);
    setAutoFillBackground(false);
}

QSize BridgeSheetPanel::sizeHint() const {
    const int height =
        column_->hasHeightForWidth() ? column_->heightForWidth(width()) : column_->sizeHint().height();
    return {width(), std::max(height, column_->minimumSize().height())};
}

void BridgeSheetPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    vt::ui::paintRoundedBox(painter, QRectF(rect()), vt::ui::palette::background, sheetCornerRadius,
                            vt::ui::Border{vt::ui::white(0.1), 1});
}

QWidget* makeSheetHeader(const QString& title, const QString& subtitle, vt::ui::PaintedButton** closeButton,
                         QWidget* parent) {
    using vt::ui::FontWeight;
    auto* header = new QWidget(parent);
    auto* row = vt::ui::makeRow(header, 8);
    auto* titles = new QWidget(header);
    auto* titleColumn = vt::ui::makeColumn(titles, 5);
    titleColumn->addWidget(vt::ui::makeText(title, bridge::titleFont(24), Qt::white));
    titleColumn->addWidget(
        vt::ui::makeText(subtitle, vt::ui::monospacedFont(12, FontWeight::bold), vt::ui::palette::cyan));
    row->addWidget(titles, 0, Qt::AlignTop);
    row->addStretch(1);
    auto* close = vt::ui::makeGlyphButton("xmark", 15, vt::ui::white(0.72), QSize(28, 28), std::nullopt,
                                          QStringLiteral("Close"), header);
    close->setObjectName(QStringLiteral("closeButton"));
    row->addWidget(close, 0, Qt::AlignTop);
    if (closeButton)
        *closeButton = close;
    return header;
}
