#include "VellumtideBridge/Sources/Interface/Samples/FavoritesFilterButton.h"

#include "Platform/UI/Drawing.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"
#include "Shared/Interface/VellumtideFavoritesFilterLook.h"

#include <QGraphicsDropShadowEffect>
#include <QPainter>
#include <QSequentialAnimationGroup>
#include <QVariantAnimation>

namespace {

using Field = BridgeViewModel::Field;
namespace palette = vt::ui::palette;

constexpr int pulseMilliseconds = 1150;

QVariantAnimation* makeSwing(double from, double to, QObject* parent) {
    auto* swing = new QVariantAnimation(parent);
    swing->setStartValue(from);
    swing->setEndValue(to);
    swing->setDuration(pulseMilliseconds);
    swing->setEasingCurve(QEasingCurve::InOutSine);
    return swing;
}

} // namespace

FavoritesFilterButton::FavoritesFilterButton(BridgeViewModel& model, QWidget* parent)
    : QAbstractButton(parent), model(model) {
    setObjectName(QStringLiteral("favoritesFilterButton"));
    setText(QStringLiteral("Favorites"));
    setAccessibleName(QStringLiteral("Favorites"));
    setFixedSize(sizeHint());
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);

    glow = new QGraphicsDropShadowEffect(this);
    glow->setOffset(0, 0);
    setGraphicsEffect(glow);

    pulse = new QSequentialAnimationGroup(this);
    for (auto [from, to] : {std::pair{0.0, 1.0}, std::pair{1.0, 0.0}}) {
        auto* swing = makeSwing(from, to, pulse);
        connect(swing, &QVariantAnimation::valueChanged, this,
                [this](const QVariant& value) { setPhase(value.toDouble()); });
        pulse->addAnimation(swing);
    }
    pulse->setLoopCount(-1);

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

double FavoritesFilterButton::borderOpacity() const {
    return VellumtideFavoritesFilterLook::at(isFilterOn(), phase).strokeOpacity;
}

double FavoritesFilterButton::glowOpacity() const {
    return VellumtideFavoritesFilterLook::at(isFilterOn(), phase).glowOpacity;
}

double FavoritesFilterButton::glowRadius() const {
    return VellumtideFavoritesFilterLook::at(isFilterOn(), phase).glowRadius;
}

bool FavoritesFilterButton::isPulseRunning() const {
    return pulse->state() == QAbstractAnimation::Running;
}

void FavoritesFilterButton::refresh() {
    setEnabled(isFilterOn() || model.favoriteCount() > 0);
    setToolTip(isFilterOn() ? QStringLiteral("Show all samples") : QStringLiteral("Show favorite samples"));
    updatePulseRunning();
    setPhase(phase);
}

void FavoritesFilterButton::setPhase(double value) {
    phase = value;
    glow->setEnabled(isFilterOn());
    glow->setColor(vt::ui::withOpacity(palette::amber, glowOpacity()));
    glow->setBlurRadius(2 * glowRadius());
    update();
}

// The pulse only moves something while the filter is on, so it runs only then (and while shown).
void FavoritesFilterButton::updatePulseRunning() {
    const bool wanted = pulseStarted && isFilterOn() && isVisible();
    if (wanted && pulse->state() != QAbstractAnimation::Running)
        pulse->state() == QAbstractAnimation::Paused ? pulse->resume() : pulse->start();
    else if (!wanted && pulse->state() == QAbstractAnimation::Running)
        pulse->pause();
}

void FavoritesFilterButton::showEvent(QShowEvent* event) {
    QAbstractButton::showEvent(event);
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
    const double lineWidth = on ? 1.4 : 1.0;
    const QRectF capsule = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    vt::ui::paintRoundedBox(painter, capsule, on ? palette::amber : vt::ui::white(0.08), capsule.height() / 2,
                            vt::ui::Border{vt::ui::withOpacity(palette::amber, borderOpacity()), lineWidth});

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
