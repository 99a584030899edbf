#include "VellumtideBridge/Sources/Interface/Sidebar/BridgeDeviceCards.h"

#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"

#include <QPainter>

namespace {

using vt::ui::FontWeight;
using Field = BridgeViewModel::Field;
namespace palette = vt::ui::palette;

bool affectsPairing(Field field) {
    switch (field) {
    case Field::playingSampleID:
    case Field::playingChopID:
    case Field::previewCurrentTime:
    case Field::previewDuration:
    case Field::previewProgress:
    case Field::previewLevel:
    case Field::isPreviewLooping:
        return false;
    default:
        return true;
    }
}

// The "Don't have the app?" capsule: a QR glyph and a monospaced caption in cyan.
vt::ui::PaintedButton* makeAppButton(QWidget* parent) {
    const QString caption = QStringLiteral("Don't have the app?");
    const QFont font = vt::ui::monospacedFont(10, FontWeight::bold);
    const int glyphSide = 12;
    const int textWidth = QFontMetrics(font).horizontalAdvance(caption);
    const QSize size(9 + glyphSide + 6 + textWidth + 9,
                     6 + std::max(glyphSide, QFontMetrics(font).height()) + 6);
    auto* button = new vt::ui::PaintedButton(
        size,
        [caption, font, glyphSide](QPainter& painter, const QRectF& rect) {
            const QRectF capsule = rect.adjusted(0.5, 0.5, -0.5, -0.5);
            vt::ui::paintRoundedBox(painter, capsule, vt::ui::white(0.06), capsule.height() / 2,
                                    vt::ui::Border{vt::ui::withOpacity(palette::cyan, 0.18), 1});
            vt::ui::paintGlyph(painter, QRectF(9, 0, glyphSide, rect.height()), "qrcode", 10, palette::cyan);
            painter.setFont(font);
            painter.setPen(palette::cyan);
            painter.drawText(QRectF(9 + glyphSide + 6, 0, rect.width(), rect.height()),
                             Qt::AlignLeft | Qt::AlignVCenter, caption);
        },
        parent);
    button->setText(caption);
    button->setHelp(QStringLiteral("Show QR code for the free iPhone app"));
    return button;
}

} // namespace

BridgeConnectedDeviceCard::BridgeConnectedDeviceCard(BridgeViewModel& model, QWidget* parent)
    : CardFrame(palette::surface, vt::ui::Border{vt::ui::withOpacity(palette::cyan, 0.2), 1}, parent),
      model(model) {
    setObjectName(QStringLiteral("connectedDeviceCard"));
    auto* column = vt::ui::makeColumn(this, 8);
    column->setContentsMargins(12, 12, 12, 12);

    auto* top = new QHBoxLayout;
    top->setSpacing(9);
    top->addWidget(new vt::ui::GlyphView("iphone", 16, Qt::black, QSize(32, 32), palette::cyan, this));
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    nameLabel =
        new vt::ui::ElidedLabel({}, vt::ui::systemFont(14, FontWeight::semibold), vt::ui::white(0.82));
    detailLabel =
        new vt::ui::ElidedLabel({}, vt::ui::systemFont(11, FontWeight::medium), vt::ui::white(0.42));
    names->addWidget(nameLabel);
    names->addWidget(detailLabel);
    top->addLayout(names, 1);
    unlinkButton_ = vt::ui::makeGlyphButton("link.badge.minus", 11, palette::amber, QSize(28, 28),
                                            vt::ui::white(0.06), QStringLiteral("Unlink this iPhone"), this);
    top->addWidget(unlinkButton_);
    column->addLayout(top);

    auto* pairingRow = new QHBoxLayout;
    pairingRow->setSpacing(6);
    pairingGlyph =
        new vt::ui::GlyphView("lock.circle.fill", 12, palette::amber, QSize(14, 14), std::nullopt, this);
    pairingLabel =
        vt::ui::makeText({}, vt::ui::systemFont(11, FontWeight::semibold), vt::ui::white(0.52), false, this);
    pairingRow->addWidget(pairingGlyph);
    pairingRow->addWidget(pairingLabel);
    pairingRow->addStretch(1);
    column->addLayout(pairingRow);

    connect(unlinkButton_, &QAbstractButton::clicked, this, [this] {
        if (device_)
            emit unlinkRequested(*device_);
    });
    connect(&model, &BridgeViewModel::changed, this, [this](Field field) {
        if (affectsPairing(field))
            refresh();
    });
}

void BridgeConnectedDeviceCard::setDevice(std::optional<VellumtideDevice> device) {
    const bool samePhone = device_ && device && device_->id == device->id;
    device_ = std::move(device);
    refresh();
    if (!samePhone)
        emit unlinkButtonChanged();
}

void BridgeConnectedDeviceCard::refresh() {
    if (!device_)
        return;
    const bool wasPaired = paired;
    paired = model.isPaired(*device_);
    nameLabel->setText(QString::fromStdString(device_->name));
    detailLabel->setText(QString::fromStdString(device_->detail));
    unlinkButton_->setVisible(paired);
    pairingGlyph->setSymbol(paired ? "bolt.horizontal.circle.fill" : "lock.circle.fill");
    pairingGlyph->setColor(paired ? palette::cyan : palette::amber);
    pairingLabel->setText(paired ? QStringLiteral("Live sync is automatic")
                                 : QStringLiteral("Pair code required"));
    if (paired != wasPaired)
        emit unlinkButtonChanged();
}

BridgeWaitingForPhoneCard::BridgeWaitingForPhoneCard(QWidget* parent)
    : CardFrame(palette::surface, std::nullopt, parent) {
    setObjectName(QStringLiteral("waitingForPhoneCard"));
    auto* column = vt::ui::makeColumn(this, 7);
    column->setContentsMargins(12, 12, 12, 12);
    column->addWidget(new vt::ui::GlyphView("iphone.radiowaves.left.and.right", 25, palette::cyan,
                                            QSize(30, 30), std::nullopt, this));
    column->addWidget(vt::ui::makeText(QStringLiteral("Listening for iPhone"),
                                       vt::ui::systemFont(14, FontWeight::semibold), vt::ui::white(0.72),
                                       false, this));
    column->addWidget(
        vt::ui::makeText(QStringLiteral("Open Vellumtide on the phone. Bridge will sync when it appears."),
                         vt::ui::systemFont(11, FontWeight::medium), vt::ui::white(0.42), true, this));
    column->addSpacing(3);
    appButton_ = makeAppButton(this);
    column->addWidget(appButton_, 0, Qt::AlignLeft);
    connect(appButton_, &QAbstractButton::clicked, this, &BridgeWaitingForPhoneCard::companionAppRequested);
}
