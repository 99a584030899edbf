#include "Shared/Interface/VellumtideFavoritesGlow.h"

#include "Platform/UI/Palette.h"

#include <QEasingCurve>
#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>
#include <vector>

namespace {

namespace palette = vt::ui::palette;

constexpr double widestRadius = 15; // the look's glow radius at the bright end of the pulse

// One pass of a box blur of the given radius along rows (or columns) of a premultiplied image.
void boxBlur(QImage& image, int radius, bool alongRows) {
    const int lines = alongRows ? image.height() : image.width();
    const int length = alongRows ? image.width() : image.height();
    const int window = 2 * radius + 1;
    std::vector<QRgb> line(static_cast<std::size_t>(length));
    auto pixel = [&](int lineIndex, int position) -> QRgb& {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(alongRows ? lineIndex : position));
        return row[alongRows ? position : lineIndex];
    };
    for (int index = 0; index < lines; ++index) {
        for (int position = 0; position < length; ++position)
            line[std::size_t(position)] = pixel(index, position);
        int sums[4] = {0, 0, 0, 0};
        auto add = [&](int position, int sign) {
            if (position < 0 || position >= length)
                return;
            const QRgb value = line[std::size_t(position)];
            sums[0] += sign * qRed(value);
            sums[1] += sign * qGreen(value);
            sums[2] += sign * qBlue(value);
            sums[3] += sign * qAlpha(value);
        };
        for (int position = -radius; position < radius; ++position)
            add(position, 1);
        for (int position = 0; position < length; ++position) {
            add(position + radius, 1);
            pixel(index, position) =
                qRgba(sums[0] / window, sums[1] / window, sums[2] / window, sums[3] / window);
            add(position - radius, -1);
        }
    }
}

// The halo of a capsule of the given size at the widest glow: the opaque amber capsule blurred
// (three box passes each way, close to a Gaussian of deviation radius / 2), with reach around it.
QPixmap makeHalo(QSize capsule, qreal pixelRatio) {
    const QSize logical =
        capsule + QSize(2 * VellumtideFavoritesGlow::reach, 2 * VellumtideFavoritesGlow::reach);
    QImage image(logical * pixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(pixelRatio, pixelRatio);
        const QRectF shape(VellumtideFavoritesGlow::reach, VellumtideFavoritesGlow::reach, capsule.width(),
                           capsule.height());
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette::amber);
        painter.drawRoundedRect(shape, shape.height() / 2, shape.height() / 2);
    }
    // Three box passes of width w blur like a Gaussian of variance (w² − 1) / 4.
    const double deviation = widestRadius / 2 * pixelRatio;
    const int passRadius = std::max(1, int(std::lround((std::sqrt(4 * deviation * deviation + 1) - 1) / 2)));
    for (int pass = 0; pass < 3; ++pass) {
        boxBlur(image, passRadius, true);
        boxBlur(image, passRadius, false);
    }
    QPixmap halo = QPixmap::fromImage(image);
    halo.setDevicePixelRatio(pixelRatio);
    return halo;
}

// Reach steps of the glow between none and the widest; each has its halo drawn once.
constexpr int reachSteps = 16;

// Draws the part of the halo from source into target, both in logical pixels.
void drawPiece(QPainter& painter, const QPixmap& halo, const QRectF& target, const QRectF& source) {
    if (target.width() <= 0 || target.height() <= 0)
        return;
    const qreal ratio = halo.devicePixelRatio();
    painter.drawPixmap(target, halo, QRectF(source.topLeft() * ratio, source.size() * ratio));
}

// The widest halo cut into its two rounded ends and its straight middle; the ends are scaled so
// the glow reaches step / reachSteps of the way out, the middle is only stretched outwards.
QPixmap makeNarrowerHalo(const QPixmap& widest, QSize capsule, int step) {
    const double reach = VellumtideFavoritesGlow::reach;
    const double shown = reach * step / reachSteps;
    const double end = capsule.height() / 2.0;
    const double middle = std::max(0.0, capsule.width() - 2 * end);
    const double sourceHeight = capsule.height() + 2 * reach;
    const double sourceEnd = reach + end;
    const double targetEnd = shown + end;
    QPixmap halo(widest.size());
    halo.setDevicePixelRatio(widest.devicePixelRatio());
    halo.fill(Qt::transparent);
    QPainter painter(&halo);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF target =
        QRectF(reach, reach, capsule.width(), capsule.height()).adjusted(-shown, -shown, shown, shown);
    drawPiece(painter, widest, QRectF(target.left(), target.top(), targetEnd, target.height()),
              QRectF(0, 0, sourceEnd, sourceHeight));
    drawPiece(painter, widest, QRectF(target.left() + targetEnd, target.top(), middle, target.height()),
              QRectF(sourceEnd, 0, middle, sourceHeight));
    drawPiece(painter, widest, QRectF(target.right() - targetEnd, target.top(), targetEnd, target.height()),
              QRectF(sourceEnd + middle, 0, sourceEnd, sourceHeight));
    return halo;
}

// The halo of a capsule size at a reach step, made on first use and kept.
const QPixmap& cachedHalo(QSize capsule, qreal pixelRatio, int step) {
    static std::map<std::tuple<int, int, int, int>, QPixmap> halos;
    const int ratioKey = int(std::lround(pixelRatio * 100));
    const auto key = std::make_tuple(capsule.width(), capsule.height(), ratioKey, step);
    auto found = halos.find(key);
    if (found != halos.end())
        return found->second;
    const auto widestKey = std::make_tuple(capsule.width(), capsule.height(), ratioKey, reachSteps);
    auto widest = halos.find(widestKey);
    if (widest == halos.end())
        widest = halos.emplace(widestKey, makeHalo(capsule, pixelRatio)).first;
    if (step == reachSteps)
        return widest->second;
    return halos.emplace(key, makeNarrowerHalo(widest->second, capsule, step)).first->second;
}

} // namespace

void paintFavoritesCapsule(QPainter& painter, const QRectF& capsule, bool isOn,
                           const VellumtideFavoritesFilterLook& look) {
    QPainterPath shape;
    shape.addRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
    painter.fillPath(shape, isOn ? palette::amber : vt::ui::white(0.08));
    painter.setPen(QPen(vt::ui::withOpacity(palette::amber, look.strokeOpacity), isOn ? 1.4 : 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shape);
}

// The cached halo of the nearest reach step, drawn unscaled at the look's opacity.
void paintFavoritesGlow(QPainter& painter, const QRectF& capsule, const VellumtideFavoritesFilterLook& look) {
    if (look.glowOpacity <= 0 || look.glowRadius <= 0)
        return;
    const QSize size(int(std::lround(capsule.width())), int(std::lround(capsule.height())));
    const int step = int(std::lround(reachSteps * std::clamp(look.glowRadius / widestRadius, 0.0, 1.0)));
    const qreal pixelRatio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QPixmap& halo = cachedHalo(size, pixelRatio, step);
    painter.save();
    painter.setOpacity(painter.opacity() * std::clamp(look.glowOpacity, 0.0, 1.0));
    const double reach = VellumtideFavoritesGlow::reach;
    painter.drawPixmap(capsule.topLeft() - QPointF(reach, reach), halo);
    painter.restore();
}

VellumtideFavoritesGlow::VellumtideFavoritesGlow(QWidget* buttonWidget,
                                                 std::function<VellumtideFavoritesFilterLook()> lookNow)
    : button(buttonWidget), look(std::move(lookNow)) {
    setObjectName(QStringLiteral("favoritesGlow"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    // The row holding the button, and the row's parent as this layer's parent.
    QWidget* holder = buttonWidget->parentWidget();
    row = holder && holder->parentWidget() ? holder : buttonWidget;
    setParent(row->parentWidget());
    connect(buttonWidget, &QObject::destroyed, this, &QObject::deleteLater);
    for (QWidget* watched = buttonWidget; watched && watched != parentWidget();
         watched = watched->parentWidget())
        watched->installEventFilter(this);
    place();
}

// The capsule's place in this layer widened by the reach of the look's glow (nothing when off).
QRect VellumtideFavoritesGlow::glowRect(const VellumtideFavoritesFilterLook& glowLook) const {
    if (glowLook.glowOpacity <= 0 || glowLook.glowRadius <= 0)
        return {};
    const int shown = int(std::ceil(reach * std::clamp(glowLook.glowRadius / widestRadius, 0.0, 1.0))) + 1;
    return rect().adjusted(reach - shown, reach - shown, shown - reach, shown - reach);
}

// A repaint of the layer's part under the button repaints the button too; with no glow to paint,
// the button is asked itself.
void VellumtideFavoritesGlow::refresh() {
    const QRect dirty = look ? glowRect(look()).united(painted) : QRect();
    if (!dirty.isEmpty() && isVisible())
        update(dirty);
    else if (button)
        button->update();
}

bool VellumtideFavoritesGlow::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        place();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

// Over the button's place widened by the reach, just under the row, shown while the button is.
void VellumtideFavoritesGlow::place() {
    if (!button || !row || !parentWidget())
        return;
    const QPoint origin = button->mapTo(parentWidget(), QPoint(0, 0));
    setGeometry(QRect(origin, button->size()).adjusted(-reach, -reach, reach, reach));
    stackUnder(row);
    setVisible(button->isVisibleTo(parentWidget()));
}

void VellumtideFavoritesGlow::paintEvent(QPaintEvent*) {
    if (!look || !button)
        return;
    const VellumtideFavoritesFilterLook now = look();
    painted = glowRect(now);
    QPainter painter(this);
    paintFavoritesGlow(painter, QRectF(reach, reach, width() - 2 * reach, height() - 2 * reach), now);
}

VellumtideFavoritesPulse::VellumtideFavoritesPulse(std::function<void(double)> onPhaseChange)
    : onPhase(std::move(onPhaseChange)) {
    timer.setInterval(50);
    QObject::connect(&timer, &QTimer::timeout, [this] { step(); });
}

void VellumtideFavoritesPulse::start() {
    if (timer.isActive())
        return;
    clock.start();
    timer.start();
}

void VellumtideFavoritesPulse::pause() {
    if (!timer.isActive())
        return;
    runBefore += clock.elapsed();
    timer.stop();
}

void VellumtideFavoritesPulse::stop() {
    timer.stop();
    runBefore = 0;
    current = 0;
}

double VellumtideFavoritesPulse::phaseAt(qint64 milliseconds) {
    static const QEasingCurve easing(QEasingCurve::InOutSine);
    const qint64 withinCycle = milliseconds % (2 * swingMilliseconds);
    const double forward = double(std::min<qint64>(withinCycle, swingMilliseconds)) / swingMilliseconds;
    const double back = double(std::max<qint64>(withinCycle - swingMilliseconds, 0)) / swingMilliseconds;
    return easing.valueForProgress(withinCycle <= swingMilliseconds ? forward : 1 - back);
}

void VellumtideFavoritesPulse::step() {
    const double next = phaseAt(runBefore + clock.elapsed());
    // Steps of under 4 % of the swing (about 1 % in opacity) are not worth a repaint: near the
    // turns, where the swing is slow, the pulse waits until it has moved that far.
    if (std::abs(next - current) < 0.04 && next != 0 && next != 1)
        return;
    current = next;
    if (onPhase)
        onPhase(current);
}
