#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleRow.h"

#include "Platform/UI/Drawing.h"
#include "Platform/UI/FileDrag.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"
#include "Platform/UI/SheetOverlay.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeCardGlyphs.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeChopPanel.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeControls.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleChopSwitch.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleDeleteAlert.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleDrag.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleInfoLine.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleTitle.h"
#include "VellumtideBridge/Sources/Interface/Waveform/WaveformView.h"
#include "VellumtideBridge/Sources/Library/BridgeFormatters.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

using namespace vt::ui;
using bridgeui::glyphSize;
using bridgeui::makeViewButton;

struct BridgeSampleRow::State {
    State(BridgeViewModel& model, SampleItem item) : model(model), sample(std::move(item)) {}

    BridgeViewModel& model;
    SampleItem sample;
    bool isShowingDeleteConfirmation = false;
    bool wasPlaying = false;

    PaintedButton* playButton = nullptr;
    PaintedButton* favoriteButton = nullptr;
    PaintedButton* editButton = nullptr;
    BridgeSampleTitle* title = nullptr;
    ElidedLabel* dateText = nullptr;
    PaintedButton* deleteButton = nullptr;
    WaveformView* waveform = nullptr;
    BridgeSampleInfoLine* infoLine = nullptr;
    BridgeSampleChopSwitch* chops = nullptr;
    QPointer<SheetOverlay> deleteAlert;
    std::optional<QPoint> pressPosition;
};

BridgeSampleRow::BridgeSampleRow(BridgeViewModel& model, SampleItem sample, QWidget* parent)
    : QWidget(parent), state(std::make_unique<State>(model, std::move(sample))) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(10);
    state->chops = new BridgeSampleChopSwitch(model, state->sample, this);
    buildTopLine();
    layout->addWidget(state->chops->panel());
    connect(&model, &BridgeViewModel::changed, this, &BridgeSampleRow::modelChanged);
    refresh();
}

BridgeSampleRow::~BridgeSampleRow() {
    state->chops->cancelPendingChop();
    if (state->deleteAlert)
        state->deleteAlert->dismiss();
    disconnect(&state->model, nullptr, this, nullptr);
    // The children's drawing reads the state: they go first.
    qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
}

const SampleItem& BridgeSampleRow::sample() const {
    return state->sample;
}

void BridgeSampleRow::setSample(SampleItem sample) {
    state->sample = std::move(sample);
    state->title->setSample(state->sample);
    state->chops->setSample(state->sample);
    refresh();
}

// ---- Building ----

void BridgeSampleRow::buildTopLine() {
    auto* top = new QHBoxLayout;
    top->setSpacing(12);
    static_cast<QVBoxLayout*>(layout())->addLayout(top);

    state->playButton = makeViewButton(QSize(42, 42), [this](QPainter& painter, const QRectF& rect) {
        const bool playing = isPlaying();
        paintGlyphOnCircle(painter, rect, playing ? "stop.fill" : "play.fill", glyphSize(16),
                           playing ? QColor(Qt::black) : palette::cyan,
                           playing ? palette::cyan : white(0.08));
    });
    state->playButton->setObjectName("playButton");
    connect(state->playButton, &QAbstractButton::clicked, this, [this] {
        const SampleItem sample = state->sample;
        state->model.togglePreview(sample);
    });
    top->addWidget(state->playButton, 0, Qt::AlignVCenter);

    auto* column = new QVBoxLayout;
    column->setSpacing(6);
    column->addWidget(buildTitleLine());
    state->waveform = new WaveformView;
    state->waveform->setObjectName("waveform");
    column->addWidget(state->waveform);
    state->infoLine = new BridgeSampleInfoLine(state->model);
    column->addWidget(state->infoLine);
    top->addLayout(column, 1);
}

QWidget* BridgeSampleRow::buildTitleLine() {
    auto* line = new QWidget;
    auto* layout = makeRow(line, 8);

    state->favoriteButton = makeViewButton(QSize(20, 20), [this](QPainter& painter, const QRectF& rect) {
        const bool favorite = state->sample.isFavorite;
        paintGlyph(painter, rect, favorite ? "star.fill" : "star", glyphSize(13),
                   favorite ? palette::amber : white(0.34));
    });
    state->favoriteButton->setObjectName("favoriteButton");
    connect(state->favoriteButton, &QAbstractButton::clicked, this, [this] {
        const SampleItem sample = state->sample;
        state->model.toggleFavorite(sample);
    });

    state->editButton = makeViewButton(QSize(22, 20), [this](QPainter& painter, const QRectF& rect) {
        paintGlyph(painter, rect, "slider.horizontal.3", glyphSize(13),
                   isEditActive() ? palette::cyan : white(0.34));
    });
    state->editButton->setObjectName("editButton");
    state->editButton->setToolTip(QStringLiteral("Edit sample"));
    state->editButton->setAccessibleName(QStringLiteral("Edit sample"));
    connect(state->editButton, &QAbstractButton::clicked, this, [this] {
        const SampleItem sample = state->sample;
        state->model.editSample(sample);
    });

    state->title = new BridgeSampleTitle(state->model, state->sample);

    state->dateText = new ElidedLabel({}, systemFont(11, FontWeight::medium), white(0.42));
    state->dateText->setObjectName("dateText");

    state->deleteButton = makeViewButton(QSize(24, 22), [](QPainter& painter, const QRectF& rect) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(white(0.045));
        painter.drawRoundedRect(rect, 6, 6);
        paintGlyph(painter, rect, "trash", glyphSize(12), faded(palette::danger, 0.82));
    });
    state->deleteButton->setObjectName("deleteButton");
    state->deleteButton->setToolTip(QStringLiteral("Delete from Bridge"));
    state->deleteButton->setAccessibleName(QStringLiteral("Delete from Bridge"));
    connect(state->deleteButton, &QAbstractButton::clicked, this, &BridgeSampleRow::confirmDelete);

    layout->addWidget(state->favoriteButton);
    layout->addWidget(state->editButton);
    layout->addWidget(state->chops->toggle());
    layout->addWidget(state->title, 1);
    layout->addWidget(state->dateText);
    layout->addWidget(state->deleteButton);
    return line;
}

// ---- Showing the state ----

bool BridgeSampleRow::isPlaying() const {
    return state->model.playingSampleID() == state->sample.id;
}

bool BridgeSampleRow::isEditActive() const {
    return state->sample.edit.isActive(state->sample.duration);
}

void BridgeSampleRow::modelChanged(BridgeViewModel::Field field) {
    using Field = BridgeViewModel::Field;
    switch (field) {
    case Field::playingSampleID:
    case Field::previewProgress:
    case Field::previewCurrentTime:
    case Field::previewDuration:
        // Every card hears each 40 ms tick; only the playing one and the one that stopped redraw.
        if (isPlaying() || state->wasPlaying)
            refreshPlayback();
        break;
    case Field::analyzingSampleIDs:
        state->infoLine->refreshBadges(state->sample);
        break;
    case Field::choppingSampleIDs:
        state->chops->refresh();
        break;
    default:
        break;
    }
}

void BridgeSampleRow::refresh() {
    const SampleItem& sample = state->sample;
    const QString favoriteHelp =
        sample.isFavorite ? QStringLiteral("Remove favorite") : QStringLiteral("Favorite");
    state->favoriteButton->setToolTip(favoriteHelp);
    state->favoriteButton->setAccessibleName(favoriteHelp);
    state->favoriteButton->update();
    state->editButton->update();
    state->dateText->setText(QString::fromStdString(BridgeFormatters::sampleDate().format(sample.createdAt)));

    WaveformView::Input input;
    input.peaks = sample.peaks;
    input.duration = sample.duration;
    input.edit = sample.edit;
    input.progress = isPlaying() ? state->model.previewProgress() : 0.0;
    state->waveform->setInput(std::move(input));

    refreshPlayback();
    state->infoLine->refreshBadges(sample);
    state->chops->refresh();
    update();
}

void BridgeSampleRow::refreshPlayback() {
    const bool playing = isPlaying();
    state->wasPlaying = playing;
    const QString help = playing ? QStringLiteral("Stop preview") : QStringLiteral("Preview");
    state->playButton->setToolTip(help);
    state->playButton->setAccessibleName(help);
    state->playButton->update();
    state->waveform->setProgress(playing ? state->model.previewProgress() : 0.0);
    state->infoLine->refresh(state->sample, playing);
}

void BridgeSampleRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const bool edited = isEditActive();
    paintCached(painter, QRectF(rect()),
                edited ? QStringLiteral("sampleCard.edited") : QStringLiteral("sampleCard"),
                [edited](QPainter& card, const QRectF& box) {
                    card.setRenderHint(QPainter::Antialiasing);
                    card.setPen(QPen(edited ? faded(palette::amber, 0.24) : white(0.06), 1));
                    card.setBrush(palette::surface);
                    card.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
                });
}

void BridgeSampleRow::hideEvent(QHideEvent* event) {
    if (!event->spontaneous())
        state->chops->cancelPendingChop();
    QWidget::hideEvent(event);
}

// ---- Delete ----

void BridgeSampleRow::confirmDelete() {
    if (state->deleteAlert)
        return;
    state->isShowingDeleteConfirmation = true;
    QPointer<BridgeSampleRow> self(this);
    const SampleItem shown = state->sample;
    state->deleteAlert = confirmSampleDeletion(this, state->model, QString::fromStdString(shown.title),
                                               [self, shown] { return self ? self->state->sample : shown; });
    connect(state->deleteAlert, &SheetOverlay::dismissed, this,
            [this] { state->isShowingDeleteConfirmation = false; });
}

// ---- Drag-out ----

void BridgeSampleRow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    // A click on the card ends a rename, as a click anywhere outside the field does.
    state->title->leaveField();
    state->pressPosition = event->position().toPoint();
}

void BridgeSampleRow::mouseMoveEvent(QMouseEvent* event) {
    if (!state->pressPosition || !(event->buttons() & Qt::LeftButton))
        return;
    if ((event->position().toPoint() - *state->pressPosition).manhattanLength() <
        QApplication::startDragDistance())
        return;
    state->pressPosition.reset();
    startFileDrag(this, sampleDragData(state->model, state->sample),
                  sampleDragChip(state->sample, devicePixelRatioF()));
}

void BridgeSampleRow::mouseReleaseEvent(QMouseEvent* event) {
    state->pressPosition.reset();
    QWidget::mouseReleaseEvent(event);
}
