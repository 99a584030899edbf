#include "VellumtideBridge/Sources/Interface/Samples/BridgePreviewControls.h"

#include "Platform/UI/FocusRing.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"

#include <QPainter>
#include <QSlider>
#include <cmath>

namespace {

using Field = BridgeViewModel::Field;
namespace palette = vt::ui::palette;

constexpr int controlHeight = 32;

QString sliderStyle() {
    return QStringLiteral("QSlider::groove:horizontal { height: 3px; background: rgba(255,255,255,46);"
                          " border-radius: 1px; }"
                          " QSlider::sub-page:horizontal { background: rgb(82,219,204); border-radius: 1px; }"
                          " QSlider::handle:horizontal { background: white; width: 10px; height: 10px;"
                          " margin: -4px 0; border-radius: 5px; }");
}

} // namespace

std::string_view BridgePreviewControls::levelSymbol(double level) {
    return level > 0.02 ? "speaker.wave.2.fill" : "speaker.slash.fill";
}

BridgePreviewControls::BridgePreviewControls(BridgeViewModel& model, QWidget* parent)
    : QWidget(parent), model(model) {
    setObjectName(QStringLiteral("previewControls"));
    setFixedHeight(controlHeight);
    auto* row = vt::ui::makeRow(this, 8);
    row->setContentsMargins(10, 0, 8, 0);

    speaker = new vt::ui::GlyphView(levelSymbol(model.previewLevel()), 11, palette::cyan, QSize(16, 16),
                                    std::nullopt, this);
    row->addWidget(speaker, 0, Qt::AlignVCenter);

    slider = new QSlider(Qt::Horizontal, this);
    slider->setRange(0, sliderSteps);
    slider->setFixedWidth(92);
    slider->setStyleSheet(sliderStyle());
    slider->setToolTip(QStringLiteral("Preview level"));
    slider->setAccessibleName(QStringLiteral("Preview level"));
    vt::ui::showFocusRing(slider, vt::ui::capsuleRadius);
    row->addWidget(slider, 0, Qt::AlignVCenter);

    loop = new vt::ui::PaintedButton(
        QSize(30, 26),
        [this](QPainter& painter, const QRectF& rect) {
            const bool looping = this->model.isPreviewLooping();
            const QRectF capsule = rect.adjusted(0.5, 0.5, -0.5, -0.5);
            vt::ui::paintRoundedBox(
                painter, capsule, looping ? palette::cyan : vt::ui::white(0.07), capsule.height() / 2,
                vt::ui::Border{vt::ui::withOpacity(palette::cyan, looping ? 0.34 : 0.18), 1});
            vt::ui::paintGlyph(painter, rect, looping ? "repeat.circle.fill" : "arrow.right.circle.fill", 15,
                               looping ? vt::ui::black(0.84) : palette::cyan);
        },
        this);
    loop->setObjectName(QStringLiteral("loopButton"));
    row->addWidget(loop, 0, Qt::AlignVCenter);

    refreshLevel();
    refreshLooping();
    connect(slider, &QSlider::valueChanged, this, [this](int value) {
        if (!isShowingLevel)
            this->model.setPreviewLevel(double(value) / sliderSteps);
    });
    connect(loop, &QAbstractButton::clicked, this, [this] { this->model.togglePreviewLooping(); });
    connect(&model, &BridgeViewModel::changed, this, [this](Field field) {
        if (field == Field::previewLevel)
            refreshLevel();
        else if (field == Field::isPreviewLooping)
            refreshLooping();
    });
}

QSize BridgePreviewControls::sizeHint() const {
    return {10 + 16 + 8 + 92 + 8 + 30 + 8, controlHeight};
}

void BridgePreviewControls::refreshLevel() {
    const double level = model.previewLevel();
    const double shown = std::isnan(level) ? 0 : std::clamp(level, 0.0, 1.0);
    isShowingLevel = true;
    slider->setValue(int(std::lround(shown * sliderSteps)));
    isShowingLevel = false;
    speaker->setSymbol(levelSymbol(level));
}

void BridgePreviewControls::refreshLooping() {
    const QString help = model.isPreviewLooping() ? QStringLiteral("Preview loops until stopped")
                                                  : QStringLiteral("Preview plays once");
    loop->setHelp(help);
    loop->update();
}

void BridgePreviewControls::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF capsule = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    vt::ui::paintRoundedBox(painter, capsule, vt::ui::white(0.06), capsule.height() / 2,
                            vt::ui::Border{vt::ui::white(0.08), 1});
}
