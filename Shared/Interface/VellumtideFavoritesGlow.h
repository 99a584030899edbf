#pragma once
// The favourites filter capsule as both windows draw it, and its glow. The glow is a soft amber
// halo made once per capsule size (a blurred image, cached) and drawn each frame at the pulse's
// opacity and reach. A layer behind the button, in an ancestor with room around it, paints it, so
// the halo fades out past the button's and its row's edges instead of ending at a hard rectangle.

#include "Shared/Interface/VellumtideFavoritesFilterLook.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

class QPainter;

// The capsule's fill (amber when on) and its outline at the look's opacity.
void paintFavoritesCapsule(QPainter& painter, const QRectF& capsule, bool isOn,
                           const VellumtideFavoritesFilterLook& look);

// Draws the glow of a capsule from the cached halo: the look's opacity, reaching out in
// proportion to the look's radius.
void paintFavoritesGlow(QPainter& painter, const QRectF& capsule, const VellumtideFavoritesFilterLook& look);

class VellumtideFavoritesGlow final : public QWidget {
public:
    // How far past the capsule the widest glow reaches (three deviations of its blur).
    static constexpr int reach = 24;

    // A layer under button's row in the row's parent; it follows the button's place and
    // visibility and asks look() at each paint.
    VellumtideFavoritesGlow(QWidget* button, std::function<VellumtideFavoritesFilterLook()> look);

    // Repaints what the glow covers now or covered at the last paint, and the button above it
    // (each step of the pulse).
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void place();
    QRect glowRect(const VellumtideFavoritesFilterLook& look) const;

    QPointer<QWidget> button;
    QPointer<QWidget> row; // the child of this layer's parent that holds the button
    std::function<VellumtideFavoritesFilterLook()> look;
    QRect painted; // what the last paint covered
};

// The breathing of the active filter: a phase from 0 to 1 and back, 1.15 s each way, eased in
// and out. It steps 20 times a second, which reads as smooth for so slow a swing, and reports
// only steps a person could see, so each costs one small repaint.
class VellumtideFavoritesPulse final {
public:
    static constexpr int swingMilliseconds = 1150;

    explicit VellumtideFavoritesPulse(std::function<void(double)> onPhase);

    // Runs on from where a pause left it (from 0 the first time).
    void start();
    void pause();
    // Back to phase 0, not running.
    void stop();
    bool isRunning() const { return timer.isActive(); }
    double phase() const { return current; }
    // The phase after the given time of running.
    static double phaseAt(qint64 milliseconds);

private:
    void step();

    std::function<void(double)> onPhase;
    QTimer timer;
    QElapsedTimer clock;
    qint64 runBefore = 0; // milliseconds run before the latest start
    double current = 0;
};
