#include "VellumtideBridge/Sources/Interface/Sidebar/DeviceRow.h"

#include "Platform/UI/Drawing.h"
#include "Platform/UI/FocusRing.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"

#include <QPainter>

namespace {
using vt::ui::FontWeight;
constexpr int padding = 10;
constexpr int badgeSide = 30;
constexpr int spacing = 10;
} // namespace

DeviceRow::DeviceRow(VellumtideDevice device, bool isSelected, std::function<void()> action, QColor cyan,
                     QWidget* parent)
    : QAbstractButton(parent), device_(std::move(device)), selected(isSelected), action(std::move(action)),
      cyan(std::move(cyan)) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    vt::ui::showFocusRing(this, vt::ui::cardCornerRadius);
    vt::ui::activateOnReturn(this);
    setAccessibleName(QString::fromStdString(device_.name));
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (this->action)
            this->action();
    });
}

void DeviceRow::setSelected(bool isSelected) {
    selected = isSelected;
    update();
}

QSize DeviceRow::sizeHint() const {
    return {220, 2 * padding + badgeSide + 4};
}

QSize DeviceRow::minimumSizeHint() const {
    return {2 * padding + badgeSide + spacing + 30, sizeHint().height()};
}

void DeviceRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isDown())
        painter.setOpacity(0.75);
    const QRectF card(rect());
    vt::ui::paintRoundedBox(
        painter, card, selected ? vt::ui::white(0.11) : vt::ui::palette::surface, vt::ui::cardCornerRadius,
        vt::ui::Border{selected ? vt::ui::withOpacity(cyan, 0.5) : vt::ui::white(0.06), 1});

    const QRectF badge(padding, (height() - badgeSide) / 2.0, badgeSide, badgeSide);
    vt::ui::paintGlyphOnCircle(painter, badge, "iphone", 18, selected ? QColor(Qt::black) : cyan,
                               selected ? cyan : vt::ui::white(0.08));

    const double textX = padding + badgeSide + spacing;
    const int textWidth = std::max(0, int(width() - textX - padding));
    const QFont nameFont = vt::ui::systemFont(14, FontWeight::semibold);
    const QFont detailFont = vt::ui::systemFont(11, FontWeight::medium);
    const QFontMetrics nameMetrics(nameFont);
    const QFontMetrics detailMetrics(detailFont);
    const double top = (height() - nameMetrics.height() - 2 - detailMetrics.height()) / 2.0;
    painter.setFont(nameFont);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(textX, top, textWidth, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     nameMetrics.elidedText(QString::fromStdString(device_.name), Qt::ElideRight, textWidth));
    painter.setFont(detailFont);
    painter.setPen(vt::ui::white(0.42));
    painter.drawText(
        QRectF(textX, top + nameMetrics.height() + 2, textWidth, detailMetrics.height()),
        Qt::AlignLeft | Qt::AlignVCenter,
        detailMetrics.elidedText(QString::fromStdString(device_.detail), Qt::ElideRight, textWidth));
}
