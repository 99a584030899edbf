#pragma once
// The sample card's information line: the playback clock, the kept length of an edit or the
// sample's format, its badges (edited, chops, analysing, tempo, root, key) and a state glyph.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QWidget>
#include <vector>

namespace vt::ui {
class ElidedLabel;
class PaintedView;
} // namespace vt::ui
class QHBoxLayout;

class BridgeSampleInfoLine final : public QWidget {
public:
    explicit BridgeSampleInfoLine(BridgeViewModel& model, QWidget* parent = nullptr);

    // The text and glyph for the sample, playing (with the controller's clock) or not.
    void refresh(const SampleItem& sample, bool playing);
    // The badges; rebuilt only when they change.
    void refreshBadges(const SampleItem& sample);

    // An analysis mark or the edited mark as the card shows it.
    struct Badge {
        QString label;
        std::string symbol;
        QColor color;
        bool isEditedMark = false;
        bool operator==(const Badge&) const = default;
    };

private:
    BridgeViewModel& model;
    vt::ui::ElidedLabel* infoText;
    QHBoxLayout* badgeLayout;
    vt::ui::PaintedView* stateGlyph;
    std::vector<Badge> badges;
    bool playing = false;
    bool marked = false; // edited or chopped: the glyph is amber
};
