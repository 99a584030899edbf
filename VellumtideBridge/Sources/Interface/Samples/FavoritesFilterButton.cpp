#include "VellumtideBridge/Sources/Interface/Samples/FavoritesFilterButton.h"

#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"
#include "Shared/Interface/VellumtideFavoritesGlow.h"

#include <QPainter>

namespace {

using Field = BridgeViewModel::Field;
namespace palette = vt::ui::palette;

} // namespace

FavoritesFilterButton::FavoritesFilterButton(BridgeViewModel& model, QWidget* parent)
    : QAbstractButton(parent), model(model) {
    setObjectName(QStringLiteral("favoritesFilterButton"));
    setText(QStringLiteral("Favorites"));
    setAccessibleName(QStringLiteral("Favorites"));
    setFixedSize(sizeHint());
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);

    pulse = std::make_unique<VellumtideFavoritesPulse>([this](double value) { setPhase(value); });

    connect(this, &QAbstractButton::clicked, this, [this] { this->model.toggleFavoriteFilter(); });
    connect(&model, &BridgeViewModel::changed, this, [this](Field field) {
        if (field == Field::samples || field == Field::showFavoritesOnly)
            refresh();
    });
    refresh();
}

bool FavoritesFilterButton::isFilterOn() const {
    return model.showFavoritesOnly();
}

VellumtideFavoritesFilterLook FavoritesFilterButton::look() const {
    return VellumtideFavoritesFilterLook::at(isFilterOn(), phase);
}

double FavoritesFilterButton::borderOpacity() const {
    return look().strokeOpacity;
}

double FavoritesFilterButton::glowOpacity() const {
    return look().glowOpacity;
}

double FavoritesFilterButton::glowRadius() const {
    return look().glowRadius;
}

bool FavoritesFilterButton::isPulseRunning() const {
    return pulse->isRunning();
}

void FavoritesFilterButton::refresh() {
    setEnabled(isFilterOn() || model.favoriteCount() > 0);
    setToolTip(isFilterOn() ? QStringLiteral("Show all samples") : QStringLiteral("Show favorite samples"));
    updatePulseRunning();
    setPhase(phase);
}

void FavoritesFilterButton::setPhase(double value) {
    phase = value;
    glow ? glow->refresh() : update();
}

// The pulse only moves something while the filter is on, so it runs only then (and while shown).
void FavoritesFilterButton::updatePulseRunning() {
    const bool wanted = pulseStarted && isFilterOn() && isVisible();
    if (wanted)
        pulse->start();
    else
        pulse->pause();
}

void FavoritesFilterButton::showEvent(QShowEvent* event) {
    QAbstractButton::showEvent(event);
    if (!glow)
        glow = new VellumtideFavoritesGlow(this, [this] { return look(); });
    pulseStarted = true;
    updatePulseRunning();
}

void FavoritesFilterButton::hideEvent(QHideEvent* event) {
    QAbstractButton::hideEvent(event);
    updatePulseRunning();
}

void FavoritesFilterButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.4);
    else if (isDown())
        painter.setOpacity(0.75);
    const bool on = isFilterOn();
    paintFavoritesCapsule(painter, QRectF(rect()).adjusted(0.7, 0.7, -0.7, -0.7), on, look());

    const QColor foreground = on ? vt::ui::black(0.84) : palette::amber;
    const QFont font = vt::ui::systemFont(11, vt::ui::FontWeight::bold);
    const int textWidth = QFontMetrics(font).horizontalAdvance(text());
    const double glyphSide = 13;
    const double gap = 5;
    const double x = (width() - glyphSide - gap - textWidth) / 2;
    vt::ui::paintGlyph(painter, QRectF(x, 0, glyphSide, height()), on ? "star.fill" : "star", glyphSide,
                       foreground);
    painter.setFont(font);
    painter.setPen(foreground);
    painter.drawText(QRectF(x + glyphSide + gap, 0, textWidth + 2, height()),
                     Qt::AlignLeft | Qt::AlignVCenter, text());
}
