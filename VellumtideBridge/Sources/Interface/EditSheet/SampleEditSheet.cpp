#include "VellumtideBridge/Sources/Interface/EditSheet/SampleEditSheet.h"

#include "Platform/Async/Spawn.h"
#include "Platform/UI/FocusRing.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"
#include "Platform/UI/ScrollColumn.h"
#include "VellumtideBridge/Sources/Controller/ScopeExit.h"
#include "VellumtideBridge/Sources/Interface/EditSheet/SampleEditPreview.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeControls.h"
#include "VellumtideBridge/Sources/Interface/Waveform/EditableWaveformView.h"
#include "VellumtideBridge/Sources/Library/BridgeFormatters.h"

#include <QHBoxLayout>
#include <QHideEvent>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>
#include <algorithm>

using namespace vt::ui;
using bridgeui::DoubleSlider;
using bridgeui::makeViewButton;
using bridgeui::StyledButton;
using bridgeui::SwitchToggle;

namespace {

constexpr int sheetWidth = 560;
// The shortest kept range a trim leaves, and the longest fade.
constexpr double minimumKeptLength = 0.05;
constexpr double maximumFade = 5;

QString preciseTime(double seconds) {
    return QString::fromStdString(BridgeFormatters::preciseTime(seconds));
}

// One slider of the panel with its title and value.
struct SliderBlock {
    QWidget* widget = nullptr;
    DoubleSlider* slider = nullptr;
    ElidedLabel* value = nullptr;

    void show(double lowest, double highest, double current) const {
        slider->setRange(lowest, highest);
        slider->setValue(current);
        value->setText(preciseTime(current));
    }
};

SliderBlock makeSliderBlock(const QString& title, const char* name) {
    SliderBlock block;
    block.widget = new QWidget;
    auto* layout = makeColumn(block.widget, 7);
    auto* heading = new QHBoxLayout;
    auto* titleLabel = new ElidedLabel(title, systemFont(12, FontWeight::semibold), white(0.62));
    block.value = new ElidedLabel({}, monospacedFont(11, FontWeight::medium), white(0.44));
    block.value->setObjectName(QString::fromLatin1(name) + "Value");
    heading->addWidget(titleLabel);
    heading->addStretch(1);
    heading->addWidget(block.value);
    layout->addLayout(heading);
    block.slider = new DoubleSlider(palette::cyan);
    block.slider->setObjectName(QString::fromLatin1(name) + "Slider");
    layout->addWidget(block.slider);
    return block;
}

} // namespace

struct SampleEditSheet::State {
    State(BridgeViewModel& model, SampleItem item)
        : model(model), sample(std::move(item)), edit(sample.edit.sanitized(sample.duration)) {}

    BridgeViewModel& model;
    const SampleItem sample;
    BridgeSampleEdit edit;
    bool isApplying = false;
    SampleEditPreview* preview = nullptr;

    ElidedLabel* selectedText = nullptr;
    EditableWaveformView* waveform = nullptr;
    StyledButton* previewButton = nullptr;
    ElidedLabel* previewStatus = nullptr;
    SliderBlock start;
    SliderBlock end;
    SliderBlock fadeIn;
    SliderBlock fadeOut;
    SwitchToggle* normalize = nullptr;
    SwitchToggle* denoise = nullptr;
    StyledButton* resetButton = nullptr;
    StyledButton* cancelButton = nullptr;
    StyledButton* applyButton = nullptr;
};

SampleEditSheet::SampleEditSheet(BridgeViewModel& model, SampleItem sample, QWidget* parent)
    : QWidget(parent), state(std::make_unique<State>(model, std::move(sample))) {
    setObjectName("sampleEditSheet");
    setFixedWidth(sheetWidth);
    state->preview = new SampleEditPreview(model, state->sample, this);
    connect(state->preview, &SampleEditPreview::changed, this, &SampleEditSheet::refresh);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 22, 22, 22);
    layout->setSpacing(18);
    layout->addLayout(buildHeader());

    // The body scrolls between the header and the buttons when the window is too short for it.
    auto* body = new QWidget;
    auto* bodyLayout = makeColumn(body, 18);
    auto* waveformFrame = new QWidget;
    auto* waveformLayout = new QVBoxLayout(waveformFrame);
    waveformLayout->setContentsMargins(0, 8, 0, 8);
    state->waveform = new EditableWaveformView(state->sample.peaks, state->sample.duration, state->edit, 0,
                                               {palette::cyan, palette::amber, white(0.2)});
    state->waveform->setObjectName("editWaveform");
    connect(state->waveform, &EditableWaveformView::editChanged, this, &SampleEditSheet::setEdit);
    waveformLayout->addWidget(state->waveform);
    bodyLayout->addWidget(waveformFrame);
    bodyLayout->addWidget(buildPreviewRow());
    bodyLayout->addWidget(buildSliderPanel());
    auto* scroller = new ScrollColumn(body);
    scroller->setObjectName("editSheetBody");
    layout->addWidget(scroller, 1);
    layout->addLayout(buildButtonRow());

    connect(&model, &BridgeViewModel::changed, this, [this](BridgeViewModel::Field field) {
        if (field == BridgeViewModel::Field::renderingEditSampleID)
            refresh();
    });
    refresh();
}

SampleEditSheet::~SampleEditSheet() {
    disconnect(&state->model, nullptr, this, nullptr);
    // Stops the preview and deletes its file before the widgets it reports to go.
    delete state->preview;
    state->preview = nullptr;
    qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
}

// ---- Building ----

QLayout* SampleEditSheet::buildHeader() {
    auto* header = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    auto* title = new ElidedLabel(QString::fromStdString(state->sample.title),
                                  systemFont(22, FontWeight::bold), Qt::white);
    title->setObjectName("sheetTitle");
    title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    state->selectedText = new ElidedLabel({}, monospacedFont(12, FontWeight::medium), white(0.46));
    state->selectedText->setObjectName("selectedText");
    titles->addWidget(title);
    titles->addWidget(state->selectedText);
    header->addLayout(titles, 1);

    auto* close = makeViewButton(QSize(28, 28), [](QPainter& painter, const QRectF& rect) {
        paintGlyph(painter, rect, "xmark", 16, white(0.62));
    });
    close->setObjectName("closeButton");
    close->setHelp(QStringLiteral("Close"));
    connect(close, &QAbstractButton::clicked, this, &SampleEditSheet::dismiss);
    header->addWidget(close, 0, Qt::AlignTop);
    return header;
}

QWidget* SampleEditSheet::buildPreviewRow() {
    auto* row = new QWidget;
    auto* layout = makeRow(row, 10);
    state->previewButton = new StyledButton(StyledButton::Style::prominent, palette::cyan);
    state->previewButton->setObjectName("previewButton");
    connect(state->previewButton, &QAbstractButton::clicked, this, &SampleEditSheet::togglePreview);
    state->previewStatus = new ElidedLabel({}, monospacedFont(11, FontWeight::medium), white(0.46));
    state->previewStatus->setObjectName("previewStatus");
    layout->addWidget(state->previewButton);
    layout->addWidget(state->previewStatus);
    layout->addStretch(1);
    return row;
}

QWidget* SampleEditSheet::buildSliderPanel() {
    auto* panel = new CardFrame(palette::surface);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(14);

    state->start = makeSliderBlock(QStringLiteral("Start"), "start");
    state->end = makeSliderBlock(QStringLiteral("End"), "end");
    state->fadeIn = makeSliderBlock(QStringLiteral("Fade In"), "fadeIn");
    state->fadeOut = makeSliderBlock(QStringLiteral("Fade Out"), "fadeOut");
    connect(state->start.slider, &DoubleSlider::valueEdited, this, &SampleEditSheet::setStart);
    connect(state->end.slider, &DoubleSlider::valueEdited, this, &SampleEditSheet::setEnd);
    connect(state->fadeIn.slider, &DoubleSlider::valueEdited, this, &SampleEditSheet::setFadeIn);
    connect(state->fadeOut.slider, &DoubleSlider::valueEdited, this, &SampleEditSheet::setFadeOut);
    for (const SliderBlock* block : {&state->start, &state->end, &state->fadeIn, &state->fadeOut})
        layout->addWidget(block->widget);

    state->normalize =
        new SwitchToggle(QStringLiteral("Normalize"), "waveform.badge.magnifyingglass", palette::cyan);
    state->normalize->setObjectName("normalizeSwitch");
    state->denoise = new SwitchToggle(QStringLiteral("Denoise"), "wand.and.stars", palette::cyan);
    state->denoise->setObjectName("denoiseSwitch");
    connect(state->normalize, &QAbstractButton::toggled, this, &SampleEditSheet::setNormalize);
    connect(state->denoise, &QAbstractButton::toggled, this, &SampleEditSheet::setDenoise);
    layout->addWidget(state->normalize);
    layout->addWidget(state->denoise);
    return panel;
}

QLayout* SampleEditSheet::buildButtonRow() {
    auto* row = new QHBoxLayout;
    state->resetButton = new StyledButton(StyledButton::Style::bordered, palette::cyan);
    state->resetButton->setContent(QStringLiteral("Reset"), "arrow.counterclockwise");
    state->resetButton->setObjectName("resetButton");
    state->cancelButton = new StyledButton(StyledButton::Style::bordered, palette::cyan);
    state->cancelButton->setContent(QStringLiteral("Cancel"));
    state->cancelButton->setObjectName("cancelButton");
    state->applyButton = new StyledButton(StyledButton::Style::prominent, palette::cyan);
    state->applyButton->setObjectName("applyButton");
    connect(state->resetButton, &QAbstractButton::clicked, this, &SampleEditSheet::reset);
    connect(state->cancelButton, &QAbstractButton::clicked, this, &SampleEditSheet::dismiss);
    connect(state->applyButton, &QAbstractButton::clicked, this, &SampleEditSheet::apply);
    row->addWidget(state->resetButton);
    row->addStretch(1);
    row->addWidget(state->cancelButton);
    row->addWidget(state->applyButton);
    return row;
}

// ---- The working edit ----

bool SampleEditSheet::isBusy() const {
    return state->isApplying || state->preview->isPreviewRendering() ||
           state->model.renderingEditSampleID() == state->sample.id;
}

BridgeSampleEdit SampleEditSheet::sanitizedEdit() const {
    return state->edit.sanitized(state->sample.duration);
}

void SampleEditSheet::setEdit(const BridgeSampleEdit& edit) {
    if (edit == state->edit) {
        refresh();
        return;
    }
    state->edit = edit;
    state->preview->stopEditPreview(true);
    refresh();
}

void SampleEditSheet::setStart(double value) {
    const double duration = state->sample.duration;
    const double upper = std::max(0.0, sanitizedEdit().effectiveEnd(duration) - minimumKeptLength);
    BridgeSampleEdit changed = state->edit;
    changed.startTime = std::min(std::max(0.0, value), upper);
    setEdit(changed.sanitized(duration));
}

void SampleEditSheet::setEnd(double value) {
    const double duration = state->sample.duration;
    BridgeSampleEdit changed = state->edit;
    changed.endTime = value >= duration - 0.001 ? std::nullopt : std::optional<double>(value);
    setEdit(changed.sanitized(duration));
}

void SampleEditSheet::setFadeIn(double value) {
    BridgeSampleEdit changed = state->edit;
    changed.fadeIn = value;
    setEdit(changed.sanitized(state->sample.duration));
}

void SampleEditSheet::setFadeOut(double value) {
    BridgeSampleEdit changed = state->edit;
    changed.fadeOut = value;
    setEdit(changed.sanitized(state->sample.duration));
}

void SampleEditSheet::setNormalize(bool on) {
    BridgeSampleEdit changed = state->edit;
    changed.normalize = on;
    setEdit(changed);
}

void SampleEditSheet::setDenoise(bool on) {
    BridgeSampleEdit changed = state->edit;
    changed.denoise = on;
    setEdit(changed);
}

// ---- Showing the state ----

void SampleEditSheet::refresh() {
    const BridgeSampleEdit sanitized = sanitizedEdit();
    const double duration = state->sample.duration;
    const SampleEditPreview& preview = *state->preview;
    state->selectedText->setText(preciseTime(sanitized.editedDuration(duration)) +
                                 QStringLiteral(" selected"));
    state->waveform->setEdit(state->edit);
    state->waveform->setPreviewProgress(preview.editPreviewProgress());

    const bool playing = preview.isPreviewPlaying();
    const bool rendering = preview.isPreviewRendering();
    state->previewButton->setContent(rendering ? QStringLiteral("Rendering")
                                     : playing ? QStringLiteral("Stop Preview")
                                               : QStringLiteral("Preview"),
                                     playing ? "stop.fill" : "play.fill");
    setEnabledKeepingFocus(state->previewButton, !state->isApplying && !rendering);
    state->previewStatus->setText(playing || preview.editPreviewProgress() > 0
                                      ? preciseTime(preview.editPreviewTime()) + QStringLiteral(" / ") +
                                            preciseTime(preview.editPreviewDuration())
                                      : QStringLiteral("Preview current edit"));

    refreshSliders(sanitized);
    const QSignalBlocker normalizeBlocker(state->normalize);
    const QSignalBlocker denoiseBlocker(state->denoise);
    state->normalize->setChecked(sanitized.normalize);
    state->denoise->setChecked(sanitized.denoise);

    const bool busy = isBusy();
    setEnabledKeepingFocus(state->resetButton, !busy);
    setEnabledKeepingFocus(state->cancelButton, !busy);
    state->applyButton->setContent(busy ? QStringLiteral("Applying") : QStringLiteral("Apply"), "checkmark");
    setEnabledKeepingFocus(state->applyButton, !busy);
}

void SampleEditSheet::refreshSliders(const BridgeSampleEdit& sanitized) {
    const double duration = state->sample.duration;
    const double end = sanitized.effectiveEnd(duration);
    const double start = sanitized.startTime;
    const double longestFade = std::min(std::max(0.5 * sanitized.editedDuration(duration), 0.0), maximumFade);
    state->start.show(0, std::max(0.0, end - minimumKeptLength), start);
    state->end.show(std::min(start + minimumKeptLength, duration),
                    std::max(duration, start + minimumKeptLength), end);
    state->fadeIn.show(0, longestFade, sanitized.fadeIn);
    state->fadeOut.show(0, longestFade, sanitized.fadeOut);
}

void SampleEditSheet::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(white(0.08), 1));
    painter.setBrush(palette::background);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
}

// ---- Actions ----

void SampleEditSheet::togglePreview() {
    QPointer<SampleEditSheet> self(this);
    vt::spawn([self]() -> QCoro::Task<> {
        if (!self)
            co_return;
        QPointer<SampleEditPreview> preview(self->state->preview);
        if (preview->isPreviewPlaying())
            preview->stopEditPreview(true);
        else
            co_await preview->playEditPreview(self->state->edit);
    });
}

void SampleEditSheet::reset() {
    setEdit(BridgeSampleEdit::neutral());
}

void SampleEditSheet::apply() {
    state->preview->stopEditPreview(true);
    state->isApplying = true;
    refresh();
    QPointer<SampleEditSheet> self(this);
    QPointer<BridgeViewModel> model(&state->model);
    const BridgeSampleEdit edit = state->edit;
    const SampleItem sample = state->sample;
    vt::spawn([self, model, edit, sample]() -> QCoro::Task<> {
        bool applied = false;
        {
            ScopeExit clearBusy([self] {
                if (!self)
                    return;
                self->state->isApplying = false;
                self->refresh();
            });
            if (model)
                applied = co_await model->applyEdit(edit, sample);
        }
        // On failure the sheet stays open; the controller's texts say why.
        if (applied && self)
            self->dismiss();
    });
}

void SampleEditSheet::dismiss() {
    const auto& editing = state->model.editingSample();
    if (editing && editing->id == state->sample.id)
        state->model.setEditingSample(std::nullopt);
}

void SampleEditSheet::hideEvent(QHideEvent* event) {
    if (!event->spontaneous())
        state->preview->stopEditPreview(true);
    QWidget::hideEvent(event);
}
