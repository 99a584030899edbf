#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleChopSwitch.h"

#include "Platform/Async/Sleep.h"
#include "Platform/Async/Spawn.h"
#include "Platform/UI/Drawing.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeCardGlyphs.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeChopPanel.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeControls.h"

#include <QPainter>
#include <QVariantAnimation>

using namespace vt::ui;
using bridgeui::glyphSize;

namespace {

constexpr vt::Nanoseconds chopDebounceNanoseconds{320'000'000};
constexpr int chopAnimationMilliseconds = 180;

// The switch: a capsule with a chevron, scissors, "Chop" and the number of chops.
void paintChopToggle(QPainter& painter, const QRectF& rect, bool open, std::size_t chopCount) {
    paintCached(painter, rect, open ? QStringLiteral("chopToggle.open") : QStringLiteral("chopToggle"),
                [open](QPainter& shape, const QRectF& box) {
                    const QRectF capsule = box.adjusted(0.5, 0.5, -0.5, -0.5);
                    shape.setPen(QPen(faded(palette::amber, open ? 0.28 : 0.16), 1));
                    shape.setBrush(faded(palette::amber, open ? 0.16 : 0.09));
                    shape.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
                });

    const QFont word = monospacedFont(10, FontWeight::bold);
    const QFont number = monospacedFont(9, FontWeight::bold);
    const QString count = chopCount == 0 ? QString() : QString::number(chopCount);
    const double chevron = glyphSize(9), scissors = glyphSize(12), gap = 4;
    const double wordWidth = QFontMetricsF(word).horizontalAdvance(QStringLiteral("Chop"));
    const double countWidth = count.isEmpty() ? 0 : gap + QFontMetricsF(number).horizontalAdvance(count);
    double x = rect.center().x() - (chevron + gap + scissors + gap + wordWidth + countWidth) / 2;
    paintGlyph(painter, QRectF(x, rect.top(), chevron, rect.height()),
               open ? "chevron.down" : "chevron.right", chevron, palette::amber);
    x += chevron + gap;
    paintGlyph(painter, QRectF(x, rect.top(), scissors, rect.height()), "scissors", scissors, palette::amber);
    x += scissors + gap;
    painter.setPen(palette::amber);
    painter.setFont(word);
    painter.drawText(QRectF(x, rect.top(), wordWidth + 1, rect.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Chop"));
    if (!count.isEmpty()) {
        painter.setFont(number);
        painter.drawText(QRectF(x + wordWidth, rect.top(), countWidth + 1, rect.height()),
                         Qt::AlignRight | Qt::AlignVCenter, count);
    }
}

} // namespace

BridgeSampleChopSwitch::BridgeSampleChopSwitch(BridgeViewModel& model, const SampleItem& item, QWidget* card)
    : QObject(card), model(model), sample(item), card(card), chopSensitivity(item.chopSensitivity) {
    toggleButton = bridgeui::makeViewButton(QSize(86, 24), [this](QPainter& painter, const QRectF& rect) {
        paintChopToggle(painter, rect, isChopsExpanded, sample.chops.size());
    });
    toggleButton->setObjectName("chopToggle");
    toggleButton->setToolTip(QStringLiteral("Open Auto Chop"));
    toggleButton->setAccessibleName(QStringLiteral("Open Auto Chop"));
    connect(toggleButton, &QAbstractButton::clicked, this, [this] { setExpanded(!isChopsExpanded); });

    chopPanel = new BridgeChopPanel(model);
    chopPanel->setObjectName("chopPanel");
    chopPanel->hide();
    connect(chopPanel, &BridgeChopPanel::sensitivityEdited, this, &BridgeSampleChopSwitch::editSensitivity);
    connect(chopPanel, &BridgeChopPanel::sliderEditingStarted, this,
            [this] { startAutoChop(chopDebounceNanoseconds); });
    connect(chopPanel, &BridgeChopPanel::sliderEditingEnded, this, [this] { startAutoChop(std::nullopt); });
    connect(chopPanel, &BridgeChopPanel::chopRequested, this, [this] { startAutoChop(std::nullopt); });
}

BridgeSampleChopSwitch::~BridgeSampleChopSwitch() {
    cancelPendingChop();
}

void BridgeSampleChopSwitch::setSample(const SampleItem& current) {
    const SampleItem previous = std::exchange(sample, current);
    if (current.id != previous.id) {
        cancelPendingChop();
        chopSensitivity = current.chopSensitivity;
        isChopsExpanded = false;
        if (chopAnimation)
            chopAnimation->stop();
        chopPanel->hide();
    } else if (current.chopSensitivity != previous.chopSensitivity) {
        chopSensitivity = current.chopSensitivity;
    }
}

void BridgeSampleChopSwitch::refresh() {
    toggleButton->update();
    chopPanel->refresh(sample, chopSensitivity);
}

void BridgeSampleChopSwitch::setExpanded(bool expanded) {
    isChopsExpanded = expanded;
    toggleButton->update();
    if (chopAnimation)
        chopAnimation->stop();
    const int from = chopPanel->isVisible() ? chopPanel->height() : 0;
    int to = 0;
    if (expanded) {
        refresh();
        const int width = card->contentsRect().width();
        to = chopPanel->hasHeightForWidth() ? chopPanel->heightForWidth(width)
                                            : chopPanel->sizeHint().height();
        chopPanel->setMaximumHeight(from);
        chopPanel->show();
    }
    auto* animation = new QVariantAnimation(this);
    animation->setDuration(chopAnimationMilliseconds);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    animation->setStartValue(from);
    animation->setEndValue(to);
    BridgeChopPanel* panel = chopPanel;
    connect(animation, &QVariantAnimation::valueChanged, panel,
            [panel](const QVariant& value) { panel->setMaximumHeight(value.toInt()); });
    connect(animation, &QVariantAnimation::finished, panel, [this, panel] {
        panel->setMaximumHeight(QWIDGETSIZE_MAX);
        panel->setVisible(isChopsExpanded);
    });
    chopAnimation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void BridgeSampleChopSwitch::editSensitivity(double sensitivity) {
    chopSensitivity = sensitivity;
    refresh();
    startAutoChop(chopDebounceNanoseconds);
}

// Chops the card's sample at its sensitivity, after the delay unless a later start cancels it
// first; only a delayed chop is stored (a start now leaves the cancelled one stored).
void BridgeSampleChopSwitch::startAutoChop(std::optional<vt::Nanoseconds> delay) {
    if (!isChopsExpanded)
        return;
    cancelPendingChop();
    const vt::CancellationToken token;
    if (delay)
        chopDebounceTask = token;
    QPointer<BridgeViewModel> controller(&model);
    std::shared_ptr<vt::Scheduler> scheduler = model.dependencies().scheduler;
    const SampleItem chopped = sample;
    const double sensitivity = chopSensitivity;
    vt::spawn([controller, scheduler, token, delay, chopped, sensitivity]() -> QCoro::Task<> {
        if (delay) {
            const bool slept = co_await vt::sleepFor(*scheduler, *delay, token);
            if (!slept || token.isCancelled())
                co_return;
        }
        if (controller)
            co_await controller->autoChop(chopped, sensitivity);
    });
}

void BridgeSampleChopSwitch::cancelPendingChop() {
    // The cancelled task stays stored.
    if (chopDebounceTask)
        chopDebounceTask->cancel();
}
