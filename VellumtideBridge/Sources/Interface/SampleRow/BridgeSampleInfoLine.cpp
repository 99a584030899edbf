#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleInfoLine.h"

#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"
#include "Platform/UI/Widgets.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeBadges.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeCardGlyphs.h"
#include "VellumtideBridge/Sources/Library/BridgeFormatters.h"

#include <QHBoxLayout>
#include <cmath>

using namespace vt::ui;

namespace {

const QColor keyBadgeColor = QColor::fromRgbF(0.86f, 0.58f, 1.0f);

QString kilohertzText(double sampleRate) {
    if (!std::isfinite(sampleRate))
        return QStringLiteral("--");
    const double whole = std::trunc(sampleRate / 1000);
    if (!(whole < 9223372036854775808.0 && whole >= -9223372036854775808.0))
        return QStringLiteral("--");
    return QString::number(static_cast<qlonglong>(whole));
}

std::vector<BridgeSampleInfoLine::Badge> badgesOf(const SampleItem& sample, bool analyzing) {
    std::vector<BridgeSampleInfoLine::Badge> badges;
    if (sample.edit.isActive(sample.duration))
        badges.push_back({QStringLiteral("EDITED"), "scissors", palette::amber, true});
    if (!sample.chops.empty())
        badges.push_back(
            {QString::number(sample.chops.size()) + QStringLiteral(" CHOPS"), "scissors", palette::amber});
    if (analyzing)
        badges.push_back({QStringLiteral("ANALYZING"), "waveform.path.ecg", palette::cyan});
    if (auto label = sample.analysis.tempoLabel())
        badges.push_back({QString::fromStdString(*label), "metronome", palette::cyan});
    if (auto label = sample.analysis.rootLabel())
        badges.push_back({QString::fromStdString(*label), "music.note", palette::amber});
    if (auto label = sample.analysis.keyLabel())
        badges.push_back({QString::fromStdString(*label), "key.fill", keyBadgeColor});
    return badges;
}

} // namespace

BridgeSampleInfoLine::BridgeSampleInfoLine(BridgeViewModel& model, QWidget* parent)
    : QWidget(parent), model(model) {
    auto* layout = makeRow(this, 8);
    infoText = new ElidedLabel({}, monospacedFont(11, FontWeight::medium), white(0.46));
    infoText->setObjectName("infoText");
    layout->addWidget(infoText);

    auto* badgeStrip = new QWidget;
    badgeStrip->setObjectName("badges");
    badgeLayout = makeRow(badgeStrip, 8);
    layout->addWidget(badgeStrip);
    layout->addStretch(1);

    stateGlyph = new PaintedView(QSize(16, 18), [this](QPainter& painter, const QRectF& rect) {
        QColor color = white(0.26);
        if (playing)
            color = palette::cyan;
        else if (marked)
            color = faded(palette::amber, 0.8);
        paintGlyph(painter, rect, playing ? "speaker.wave.2.fill" : "waveform", bridgeui::glyphSize(11),
                   color);
    });
    stateGlyph->setObjectName("stateGlyph");
    layout->addWidget(stateGlyph);
}

void BridgeSampleInfoLine::refresh(const SampleItem& sample, bool isPlaying) {
    playing = isPlaying;
    marked = sample.edit.isActive(sample.duration) || !sample.chops.empty();
    stateGlyph->update();
    std::string info;
    if (playing) {
        info = BridgeFormatters::playback(model.previewCurrentTime(), model.previewDuration());
    } else if (sample.edit.isActive(sample.duration)) {
        const double kept = sample.edit.sanitized(sample.duration).editedDuration(sample.duration);
        info = BridgeFormatters::preciseTime(kept) + " selected  " +
               kilohertzText(sample.sampleRate).toStdString() + " kHz";
    } else {
        info = sample.subtitle();
    }
    infoText->setText(QString::fromStdString(info));
}

void BridgeSampleInfoLine::refreshBadges(const SampleItem& sample) {
    std::vector<Badge> current = badgesOf(sample, model.analyzingSampleIDs().count(sample.id) > 0);
    if (current == badges)
        return;
    while (QLayoutItem* item = badgeLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const Badge& badge : current) {
        if (badge.isEditedMark)
            badgeLayout->addWidget(new EditedBadge(badge.color));
        else
            badgeLayout->addWidget(new AnalysisBadge(badge.label, badge.symbol, badge.color));
    }
    badges = std::move(current);
}
