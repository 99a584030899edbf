#include "VellumtideBridge/Sources/Interface/Sidebar/BridgeSidebar.h"

#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"
#include "Platform/UI/ScrollColumn.h"
#include "Shared/Interface/VellumtideLogoMark.h"
#include "VellumtideBridge/Sources/Interface/Sidebar/BridgeManualLinkCard.h"
#include "VellumtideBridge/Sources/Interface/Window/BridgeWidgetKit.h"

#include <QPainter>

namespace {

using vt::ui::FontWeight;
using Field = BridgeViewModel::Field;
namespace palette = vt::ui::palette;

constexpr const char* byline = "by Kestrel";
constexpr int headerSpacing = 11;

} // namespace

BridgeSidebar::BridgeSidebar(BridgeViewModel& model, QWidget* parent) : QWidget(parent), model(model) {
    setObjectName(QStringLiteral("sidebar"));
    setFixedWidth(sidebarWidth);
    auto* column = vt::ui::makeColumn(this, 12);
    column->setContentsMargins(16, 16, 16, 16);
    column->addWidget(makeHeader());

    scroller = new vt::ui::ScrollColumn(makeCardColumn(), this); // the header never scrolls
    column->addWidget(scroller, 1);

    refreshPhoneCard();
    connect(&model, &BridgeViewModel::changed, this, [this](Field field) {
        if (field == Field::devices || field == Field::selectedDeviceID)
            refreshPhoneCard();
    });
}

QWidget* BridgeSidebar::makeHeader() {
    auto* header = new QWidget(this);
    auto* row = vt::ui::makeRow(header, 0);
    row->addWidget(new VellumtideLogoMark(38, palette::cyan, header), 0, Qt::AlignVCenter);
    row->addSpacing(headerSpacing);

    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    auto* wordmark = new QHBoxLayout;
    wordmark->setSpacing(7);
    wordmark->addWidget(vt::ui::makeText(QStringLiteral("VELLUMTIDE"),
                                         vt::ui::monospacedFont(11, FontWeight::bold), palette::cyan, false,
                                         header),
                        0, Qt::AlignBottom);
    wordmark->addWidget(vt::ui::makeText(QString::fromLatin1(byline),
                                         vt::ui::monospacedFont(8, FontWeight::bold), vt::ui::white(0.62),
                                         false, header),
                        0, Qt::AlignBottom);
    wordmark->addStretch(1);
    titles->addLayout(wordmark);
    // Set a little tighter than other large titles, so that it fits the column beside the
    // settings button with the header's spacing between them.
    QFont titleFont = bridge::titleFont(30);
    titleFont.setLetterSpacing(QFont::AbsoluteSpacing, -1.4);
    auto* title = vt::ui::makeText(QStringLiteral("Live Bridge"), titleFont, Qt::white, false, header);
    title->setObjectName(QStringLiteral("sidebarTitle"));
    titles->addWidget(title);
    row->addLayout(titles);
    row->addSpacing(headerSpacing); // the title never runs into the settings button
    row->addStretch(1);

    auto* button =
        vt::ui::makeGlyphButton("gearshape.fill", 13, vt::ui::white(0.58), QSize(30, 30), vt::ui::white(0.07),
                                QStringLiteral("Help, manual, and iPhone app"), header);
    button->setObjectName(QStringLiteral("settingsButton"));
    connect(button, &QAbstractButton::clicked, this, &BridgeSidebar::companionAppRequested);
    settings = button;
    row->addWidget(button, 0, Qt::AlignVCenter);
    return header;
}

QWidget* BridgeSidebar::makeCardColumn() {
    auto* content = new QWidget;
    content->setAutoFillBackground(false);
    auto* column = vt::ui::makeColumn(content, 12);
    column->setContentsMargins(0, 0, 0, 16);

    statusCard = new BridgeLiveStatusCard(model, content);
    column->addWidget(statusCard);
    column->addSpacing(2);
    column->addWidget(vt::ui::makeText(QStringLiteral("iPhone"), vt::ui::systemFont(13, FontWeight::semibold),
                                       vt::ui::white(0.55), false, content));

    connectedCard = new BridgeConnectedDeviceCard(model, content);
    waitingCard = new BridgeWaitingForPhoneCard(content);
    column->addWidget(connectedCard);
    column->addWidget(waitingCard);
    connect(connectedCard, &BridgeConnectedDeviceCard::unlinkRequested, this,
            &BridgeSidebar::unlinkRequested);
    connect(waitingCard, &BridgeWaitingForPhoneCard::companionAppRequested, this,
            &BridgeSidebar::companionAppRequested);

    column->addWidget(new BridgeManualLinkCard(model.dependencies().urlOpener, content));

    advancedDisclosure = makeDisclosureToggle(content);
    column->addWidget(advancedDisclosure, 0, Qt::AlignLeft);
    advancedContent = new QWidget(content);
    auto* advancedColumn = vt::ui::makeColumn(advancedContent, 0);
    advancedColumn->setContentsMargins(0, 6, 0, 0);
    advanced = new BridgeAdvancedControls(model, advancedContent);
    advancedColumn->addWidget(advanced);
    advancedContent->setVisible(false);
    column->addWidget(advancedContent);
    column->addStretch(1);
    return content;
}

QAbstractButton* BridgeSidebar::makeDisclosureToggle(QWidget* parent) {
    const QFont font = vt::ui::systemFont(12, FontWeight::semibold);
    const QString label = QStringLiteral("Advanced");
    const int width = 14 + 4 + 16 + 5 + QFontMetrics(font).horizontalAdvance(label) + 4;
    auto* toggle = new vt::ui::PaintedButton(
        QSize(width, 22),
        [this, font, label](QPainter& painter, const QRectF& rect) {
            vt::ui::paintGlyph(painter, QRectF(0, 0, 14, rect.height()),
                               showingAdvanced ? "chevron.down" : "chevron.right", 14, vt::ui::white(0.48));
            vt::ui::paintGlyph(painter, QRectF(18, 0, 16, rect.height()), "slider.horizontal.3", 13,
                               vt::ui::white(0.56));
            painter.setFont(font);
            painter.setPen(vt::ui::white(0.56));
            painter.drawText(QRectF(39, 0, rect.width() - 39, rect.height()),
                             Qt::AlignLeft | Qt::AlignVCenter, label);
        },
        parent);
    toggle->setObjectName(QStringLiteral("advancedToggle"));
    toggle->setText(label);
    toggle->setAccessibleName(label);
    connect(toggle, &QAbstractButton::clicked, this, [this] { setShowingAdvanced(!showingAdvanced); });
    return toggle;
}

void BridgeSidebar::setShowingAdvanced(bool showing) {
    showingAdvanced = showing;
    advancedContent->setVisible(showing);
    advancedDisclosure->update();
}

void BridgeSidebar::refreshPhoneCard() {
    const std::optional<VellumtideDevice> device = model.selectedDevice();
    connectedCard->setDevice(device);
    connectedCard->setVisible(device.has_value());
    waitingCard->setVisible(!device.has_value());
}

void BridgeSidebar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), vt::ui::black(0.14));
}
