#include "VellumtideAU/Window/VellumtidePadRackView.h"

#include "Platform/UI/Drawing.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"
#include "VellumtideAU/Window/VellumtideWaveforms.h"
#include "VellumtideAU/Window/VellumtideWindowKit.h"

#include <QGridLayout>
#include <QPainter>
#include <QPainterPath>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <cmath>

using namespace VellumtideWindowKit;
using vt::ui::FontWeight;
namespace palette = vt::ui::palette;

namespace {

constexpr int sliderSteps = 1000; // slider positions per unit of value

QString twoDigits(std::int64_t number) {
    return QString::asprintf("%02lld", static_cast<long long>(number));
}

QSlider* makeSlider(double minimum, double maximum, const QColor& tint, QWidget* parent) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(int(std::lround(minimum * sliderSteps)), int(std::lround(maximum * sliderSteps)));
    slider->setFixedWidth(96);
    slider->setFocusPolicy(Qt::NoFocus);
    slider->setStyleSheet(
        QStringLiteral("QSlider::groove:horizontal { height: 4px; background: rgba(255,255,255,40);"
                       " border-radius: 2px; }"
                       "QSlider::sub-page:horizontal { background: %1; border-radius: 2px; }"
                       "QSlider::handle:horizontal { background: white; width: 12px; height: 12px;"
                       " margin: -4px 0; border-radius: 6px; }")
            .arg(tint.name()));
    return slider;
}

int sliderPosition(double value) {
    return int(std::lround(value * sliderSteps));
}

} // namespace

const std::array<const char*, 16> VellumtidePadRackView::noteLabels{
    "C1", "C#1", "D1", "D#1", "E1", "F1", "F#1", "G1", "G#1", "A1", "A#1", "B1", "C2", "C#2", "D2", "D#2"};

VellumtidePadButton::VellumtidePadButton(std::int64_t slot, QString noteLabel, QWidget* parent)
    : QAbstractButton(parent), slotIndex(slot), noteLabel(std::move(noteLabel)),
      waveform(new VellumtidePadTinyWaveform(this)) {
    setFixedHeight(52);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setContent(std::nullopt, false, false);
}

void VellumtidePadButton::setContent(std::optional<VellumtidePadAssignment> assignment, bool isSelected,
                                     bool isPlaying) {
    content = std::move(assignment);
    selected = isSelected;
    playing = isPlaying;
    QString help = content ? QStringLiteral("Preview ") + VellumtideWindowKit::text(content->title)
                           : QStringLiteral("Empty pad");
    setToolTip(help);
    setAccessibleName(help);
    QColor waveColor =
        !content ? vt::ui::white(0.14) : vt::ui::withOpacity(palette::cyan, playing ? 0.95 : 0.66);
    waveform->setContent(content ? content->peaks : std::vector<float>{}, waveColor);
    update();
}

QSize VellumtidePadButton::minimumSizeHint() const {
    const int note = QFontMetrics(vt::ui::monospacedFont(8, FontWeight::bold)).horizontalAdvance(noteLabel);
    const int number =
        QFontMetrics(vt::ui::monospacedFont(7, FontWeight::bold)).horizontalAdvance(twoDigits(slotIndex + 1));
    return {7 + note + 3 + std::max(number, 9) + 7, 52};
}

void VellumtidePadButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect()).adjusted(0.7, 0.7, -0.7, -0.7);
    QPainterPath shape;
    shape.addRoundedRect(card, 7, 7);
    if (playing) // the soft cyan glow of a sounding pad
        for (int ring = 1; ring <= 3; ++ring) {
            painter.setPen(QPen(vt::ui::withOpacity(palette::cyan, 0.06), ring * 2.0));
            painter.drawPath(shape);
        }
    painter.fillPath(shape, vt::ui::white(content ? 0.07 : 0.035));
    QPen outline = selected              ? QPen(vt::ui::withOpacity(palette::cyan, 0.85), 1.4)
                   : content.has_value() ? QPen(vt::ui::withOpacity(palette::amber, 0.22), 1)
                                         : QPen(vt::ui::white(0.06), 1);
    painter.setPen(outline);
    painter.drawPath(shape);

    const QRectF inner = QRectF(rect()).adjusted(7, 6, -7, -6);
    // Top line: note name, then the pad number (empty) or the play mark (assigned).
    QRectF topLine(inner.left(), inner.top(), inner.width(), 10);
    painter.setFont(vt::ui::monospacedFont(8, FontWeight::bold));
    painter.setPen(selected ? palette::cyan : vt::ui::white(0.4));
    painter.drawText(topLine, Qt::AlignLeft | Qt::AlignVCenter, noteLabel);
    if (content) {
        QRectF mark(topLine.right() - 9, topLine.top(), 9, topLine.height());
        vt::ui::paintGlyph(painter, mark, playing ? "stop.fill" : "play.fill", 7,
                           playing ? palette::amber : vt::ui::withOpacity(palette::cyan, 0.8));
    } else {
        painter.setFont(vt::ui::monospacedFont(7, FontWeight::bold));
        painter.setPen(vt::ui::white(0.25));
        painter.drawText(topLine, Qt::AlignRight | Qt::AlignVCenter, twoDigits(slotIndex + 1));
    }
    // Title line.
    QRectF titleLine(inner.left(), topLine.bottom() + 3, inner.width(), 10);
    QFont titleFont = vt::ui::systemFont(8, FontWeight::bold);
    painter.setFont(titleFont);
    painter.setPen(vt::ui::white(content ? 0.78 : 0.26));
    QString title = content ? VellumtideWindowKit::text(content->title) : QStringLiteral("Empty");
    painter.drawText(titleLine, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(titleFont).elidedText(title, Qt::ElideRight, int(titleLine.width())));
}

// Below the two text lines: 6 + 10 + 3 + 10 + 3 points from the top.
void VellumtidePadButton::resizeEvent(QResizeEvent*) {
    waveform->setGeometry(7, 32, std::max(width() - 14, 0), 13);
}

VellumtidePadRackView::VellumtidePadRackView(VellumtidePadKitController* controller,
                                             std::function<void(std::int64_t)> previewAction, QWidget* parent)
    : QWidget(parent), controller(controller), previewAction(std::move(previewAction)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(9);
    column->addWidget(makeHeader());
    column->addWidget(makePadGrid());
    column->addWidget(makeSelectedPadControls());
    connect(controller, &VellumtidePadKitController::stateChanged, this, &VellumtidePadRackView::refresh);
    connect(controller, &VellumtidePadKitController::selectedSlotChanged, this,
            &VellumtidePadRackView::refresh);
    refresh();
}

QWidget* VellumtidePadRackView::makeHeader() {
    auto* header = new QWidget(this);
    auto* row = vt::ui::makeRow(header, 8);
    row->addWidget(glyphLabel("square.grid.2x2.fill", 11, palette::cyan));
    row->addWidget(wholeTextLabel(QStringLiteral("VELLUMTIDE PADS"),
                                  vt::ui::monospacedFont(10, FontWeight::bold), palette::cyan));
    row->addWidget(wholeTextLabel(QStringLiteral("C1-D#2"), vt::ui::monospacedFont(9, FontWeight::bold),
                                  vt::ui::white(0.35)));
    row->addStretch(1);
    return header;
}

// Two rows of eight pads, 46 points wide or more where the rack has the room; in a narrower
// window the pads narrow down to what their top line needs, so all sixteen stay in view.
QWidget* VellumtidePadRackView::makePadGrid() {
    grid = new QWidget(this);
    auto* cells = new QGridLayout(grid);
    cells->setContentsMargins(0, 0, 0, 0);
    cells->setHorizontalSpacing(6);
    cells->setVerticalSpacing(6);
    for (std::int64_t slot = 0; slot < VellumtidePadKitState::slotCount; ++slot) {
        auto* pad = new VellumtidePadButton(slot, QString::fromLatin1(noteLabels[std::size_t(slot)]), grid);
        connect(pad, &QAbstractButton::clicked, this, [this, slot] { tap(slot); });
        pads[std::size_t(slot)] = pad;
        cells->addWidget(pad, int(slot / 8), int(slot % 8));
    }
    for (int column = 0; column < 8; ++column)
        cells->setColumnStretch(column, 1);
    return grid;
}

QWidget* VellumtidePadRackView::makeSelectedPadControls() {
    auto* line = new QWidget(this);
    selectedPadLines = new QVBoxLayout(line);
    selectedPadLines->setContentsMargins(0, 0, 0, 0);
    selectedPadLines->setSpacing(6);
    auto* top = new QWidget(line);
    top->setFixedHeight(24);
    selectedPadRow = vt::ui::makeRow(top, 9);
    padNumber = textLabel({}, vt::ui::monospacedFont(9, FontWeight::bold), palette::cyan, top);
    padNumber->setFixedWidth(48);
    padTitle = textLabel({}, vt::ui::systemFont(10, FontWeight::bold), vt::ui::white(0.76), top);
    padTitle->setMinimumWidth(80);
    padTitle->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    selectedPadRow->addWidget(padNumber);
    selectedPadRow->addWidget(padTitle, 1);
    selectedPadLines->addWidget(top);

    // The captions and sliders; below the title line when the line is too narrow for all.
    tuning = new QWidget(line);
    tuning->setFixedHeight(24);
    auto* row = vt::ui::makeRow(tuning, 9);
    auto* volumeCaption = wholeTextLabel(QStringLiteral("VOL"), vt::ui::monospacedFont(8, FontWeight::bold),
                                         vt::ui::white(0.34), tuning);
    volume = makeSlider(0, volumeSliderMaximum, palette::cyan, tuning);
    volume->setAccessibleName(QStringLiteral("Volume"));
    auto* pitchCaption = wholeTextLabel(QStringLiteral("PITCH"), vt::ui::monospacedFont(8, FontWeight::bold),
                                        vt::ui::white(0.34), tuning);
    pitch = makeSlider(-pitchSliderRange, pitchSliderRange, palette::amber, tuning);
    pitch->setAccessibleName(QStringLiteral("Pitch"));
    pitchValue = textLabel({}, vt::ui::monospacedFont(8, FontWeight::bold), palette::amber, tuning);
    pitchValue->setFixedWidth(38);
    pitchValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (QWidget* widget : {static_cast<QWidget*>(volumeCaption), static_cast<QWidget*>(volume),
                            static_cast<QWidget*>(pitchCaption), static_cast<QWidget*>(pitch),
                            static_cast<QWidget*>(pitchValue)})
        row->addWidget(widget);
    row->addStretch(1);
    selectedPadRow->addWidget(tuning);
    // The line asks only for the number and the title's least width: a narrow rack stacks the
    // sliders (see arrangeTuning) instead of growing past the window.
    line->setMinimumWidth(padNumber->width() + 9 + padTitle->minimumWidth());

    connect(volume, &QSlider::valueChanged, this, [this](int position) {
        if (controller)
            controller->setVolume(double(position) / sliderSteps, controller->selectedSlot());
    });
    connect(pitch, &QSlider::valueChanged, this, [this](int position) {
        if (controller)
            controller->setPitch(double(position) / sliderSteps, controller->selectedSlot());
    });
    return line;
}

void VellumtidePadRackView::setPlayingSlot(std::optional<std::int64_t> slot) {
    playing = slot;
    refresh();
}

void VellumtidePadRackView::tap(std::int64_t slot) {
    if (!controller)
        return;
    controller->setSelectedSlot(std::clamp<std::int64_t>(slot, 0, VellumtidePadKitState::slotCount - 1));
    if (controller->state().assignment(slot) && previewAction)
        previewAction(slot);
}

void VellumtidePadRackView::refresh() {
    if (!controller)
        return;
    const auto& kit = controller->state();
    for (std::int64_t slot = 0; slot < VellumtidePadKitState::slotCount; ++slot)
        pads[std::size_t(slot)]->setContent(kit.assignment(slot), controller->selectedSlot() == slot,
                                            playing && *playing == slot);
    refreshSelectedPadControls();
}

// Updated in place (never rebuilt), so a slider being dragged keeps its grab.
void VellumtidePadRackView::refreshSelectedPadControls() {
    const std::int64_t slot = controller->selectedSlot();
    const auto assignment = controller->state().assignment(slot);
    padNumber->setText(QStringLiteral("PAD ") + twoDigits(slot + 1));
    padTitle->setText(assignment ? text(assignment->title) : QStringLiteral("Empty"));
    padTitle->setColor(vt::ui::white(assignment ? 0.76 : 0.34));
    tuning->setVisible(assignment.has_value());
    if (!assignment)
        return;
    QSignalBlocker volumeBlocker(volume), pitchBlocker(pitch);
    if (!volume->isSliderDown())
        volume->setValue(sliderPosition(double(assignment->volume)));
    if (!pitch->isSliderDown())
        pitch->setValue(sliderPosition(assignment->pitchSemitones));
    pitchValue->setText(formattedPitch(assignment->pitchSemitones));
}

QString VellumtidePadRackView::selectedPadTitle() const {
    return padTitle->text();
}

QString VellumtidePadRackView::selectedPadNumber() const {
    return padNumber->text();
}

QString VellumtidePadRackView::pitchText() const {
    return pitchValue->text();
}

QString VellumtidePadRackView::formattedPitch(double semitones) {
    return QString::asprintf("%+.1f", semitones);
}

void VellumtidePadRackView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    arrangeTuning();
}

// Side by side with the title when the line holds the number, the title's least width and the
// sliders; stacked under it otherwise.
void VellumtidePadRackView::arrangeTuning() {
    const int inline_ =
        padNumber->width() + 9 + padTitle->minimumWidth() + 9 + tuning->minimumSizeHint().width();
    const int available = contentsRect().width() - 20;
    const bool stack = inline_ > available;
    if (stack == tuningStacked)
        return;
    tuningStacked = stack;
    if (stack) {
        selectedPadRow->removeWidget(tuning);
        selectedPadLines->addWidget(tuning);
    } else {
        selectedPadLines->removeWidget(tuning);
        selectedPadRow->addWidget(tuning);
    }
}

void VellumtidePadRackView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    vt::ui::paintRoundedBox(painter, QRectF(rect()), palette::surface, 8,
                            vt::ui::Border{vt::ui::white(0.07), 1});
}
