#pragma once
// The favourites filter pill of the samples pane. Off: an amber outline with "Favorites" and an
// empty star. On: filled amber with a filled star, its border and glow pulsing slowly without end
// once the pill has been shown. Disabled while there is no favourite and the filter is off.

#include "Shared/Interface/VellumtideFavoritesGlow.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QAbstractButton>
#include <QPointer>

class FavoritesFilterButton final : public QAbstractButton {
public:
    explicit FavoritesFilterButton(BridgeViewModel& model, QWidget* parent = nullptr);

    bool isFilterOn() const;
    // True once the pill has been shown; from then on the pulse runs.
    bool favoriteFilterPulse() const { return pulseStarted; }
    // 0 (rest) to 1 (full swing) of the running pulse.
    double pulsePhase() const { return phase; }
    // The capsule's look at this moment of the pulse.
    VellumtideFavoritesFilterLook look() const;
    double borderOpacity() const;
    double glowOpacity() const;
    double glowRadius() const;
    bool isPulseRunning() const;

    QSize sizeHint() const override { return {112, 32}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();
    void updatePulseRunning();
    void setPhase(double value);

    BridgeViewModel& model;
    QPointer<VellumtideFavoritesGlow> glow; // the glow layer behind the pill, made when first shown
    std::unique_ptr<VellumtideFavoritesPulse> pulse;
    bool pulseStarted = false;
    double phase = 0;
};
