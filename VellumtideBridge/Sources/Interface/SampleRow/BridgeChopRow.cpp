#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeChopRow.h"

#include "Platform/UI/FileDrag.h"
#include "Platform/UI/FocusRing.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"
#include "VellumtideBridge/Sources/Library/BridgeFormatters.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

using namespace vt::ui;

namespace {
constexpr double padding = 8;
constexpr double spacing = 8;
constexpr double playDiameter = 22;
constexpr double lineSpacing = 6;
constexpr double columnSpacing = 4;
constexpr double waveformFrameHeight = 22;
constexpr double dragGlyphWidth = 10;
constexpr double cornerRadius = 7;

QFont nameFont() {
    return systemFont(11, FontWeight::bold);
}
QFont captionFont() {
    return monospacedFont(9, FontWeight::medium);
}
} // namespace

BridgeChopRow::BridgeChopRow(BridgeViewModel& model, SampleItem sample, BridgeSampleChop chop, QColor cyan,
                             QColor amber, double clockWidth, QWidget* parent)
    : QWidget(parent), model(model), owner(std::move(sample)), slice(std::move(chop)), cyan(std::move(cyan)),
      amber(std::move(amber)), clockWidth(clockWidth) {
    setToolTip(QStringLiteral("Click to preview. Drag this chop into your DAW."));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(QString::fromStdString(slice.displayTitle()));
    setFocusPolicy(Qt::TabFocus); // Space and Return preview, as a click does
    showFocusRing(this, cornerRadius);
    connect(&model, &BridgeViewModel::changed, this, &BridgeChopRow::modelChanged);
}

void BridgeChopRow::setSample(SampleItem sample, BridgeSampleChop chop) {
    owner = std::move(sample);
    slice = std::move(chop);
    setAccessibleName(QString::fromStdString(slice.displayTitle()));
    update();
}

void BridgeChopRow::modelChanged(BridgeViewModel::Field field) {
    using Field = BridgeViewModel::Field;
    if (field == Field::playingChopID ||
        (isPlaying() && (field == Field::previewProgress || field == Field::previewCurrentTime ||
                         field == Field::previewDuration)))
        update();
}

bool BridgeChopRow::isPlaying() const {
    return model.playingChopID() == slice.id;
}

QString BridgeChopRow::timeRangeText() const {
    return QString::fromStdString(BridgeFormatters::preciseTime(slice.startTime) + "-" +
                                  BridgeFormatters::preciseTime(slice.endTime));
}

QString BridgeChopRow::clockText() const {
    if (!isPlaying())
        return QStringLiteral("0.0s / 0.0s");
    return QString::fromStdString(
        BridgeFormatters::playback(model.previewCurrentTime(), model.previewDuration()));
}

QString BridgeChopRow::shownTimeRangeText() const {
    return shownTimeRangeText(textLine(geometry().textLine));
}

QString BridgeChopRow::shownTimeRangeText(const TextLine& parts) const {
    const double width = parts.range.width();
    return width > 4 ? QFontMetricsF(captionFont()).elidedText(timeRangeText(), Qt::ElideRight, width)
                     : QString();
}

WaveformView::Input BridgeChopRow::waveformInput() const {
    WaveformView::Input input;
    input.peaks = owner.peaks;
    input.duration = owner.duration;
    input.edit = slice.edit(0);
    input.progress = isPlaying() ? model.previewProgress() : 0.0;
    input.activeColor = cyan;
    input.idleColor = white(0.14);
    input.fadeColor = amber;
    return input;
}

QString BridgeChopRow::suggestedFileName() const {
    return vt::dragFileNameKeepingEnding(QString::fromStdString(owner.title),
                                         QString::fromStdString("-" + slice.displayTitle() + ".wav"));
}

std::unique_ptr<QMimeData> BridgeChopRow::dragData() const {
    return fileDragData(vt::dragStagingFolder(model.dependencies().paths),
                        {model.chopURL(owner, slice), owner.id, slice.id}, suggestedFileName());
}

double BridgeChopRow::textLineHeight() {
    return std::ceil(std::max(QFontMetricsF(nameFont()).height(), QFontMetricsF(captionFont()).height()));
}

QSize BridgeChopRow::sizeHint() const {
    const double content = std::max(playDiameter, textLineHeight() + columnSpacing + waveformFrameHeight);
    return QSize(260, static_cast<int>(std::ceil(content + 2 * padding)));
}

QSize BridgeChopRow::minimumSizeHint() const {
    return QSize(static_cast<int>(2 * padding + playDiameter + spacing + clockWidth + 40),
                 sizeHint().height());
}

BridgeChopRow::Geometry BridgeChopRow::geometry() const {
    const QRectF content = QRectF(rect()).adjusted(padding, padding, -padding, -padding);
    const double columnHeight = textLineHeight() + columnSpacing + waveformFrameHeight;
    Geometry result;
    result.playCircle =
        QRectF(content.left(), content.center().y() - playDiameter / 2, playDiameter, playDiameter);
    const double columnLeft = result.playCircle.right() + spacing;
    const double columnTop = content.center().y() - columnHeight / 2;
    const double columnWidth = std::max(content.right() - columnLeft, 0.0);
    result.textLine = QRectF(columnLeft, columnTop, columnWidth, textLineHeight());
    // The strip keeps its own height, centred on its smaller frame.
    const double frameCentre = result.textLine.bottom() + columnSpacing + waveformFrameHeight / 2;
    result.waveformStrip = QRectF(columnLeft, frameCentre - WaveformView::stripHeight / 2.0, columnWidth,
                                  WaveformView::stripHeight);
    return result;
}

void BridgeChopRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF tile = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(faded(amber, 0.14), 1));
    painter.setBrush(white(0.045));
    painter.drawRoundedRect(tile, cornerRadius, cornerRadius);

    const Geometry parts = geometry();
    const bool playing = isPlaying();
    paintGlyphOnCircle(painter, parts.playCircle, playing ? "stop.fill" : "play.fill", 12,
                       playing ? QColor(Qt::black) : amber, playing ? amber : white(0.07));

    paintTextLine(painter, parts.textLine);
    WaveformView::paint(painter, parts.waveformStrip, waveformInput());
}

BridgeChopRow::TextLine BridgeChopRow::textLine(const QRectF& line) const {
    const double nameWidth =
        QFontMetricsF(nameFont()).horizontalAdvance(QString::fromStdString(slice.displayTitle()));
    const double rangeWidth = QFontMetricsF(captionFont()).horizontalAdvance(timeRangeText());
    TextLine parts;
    parts.dragGlyph = QRectF(line.right() - dragGlyphWidth, line.top(), dragGlyphWidth, line.height());
    const double beforeGlyph = parts.dragGlyph.left() - lineSpacing;
    parts.clock = QRectF(beforeGlyph - clockWidth, line.top(), clockWidth, line.height());
    // The name and the range share what the clock leaves; the range gives way first.
    const double available = std::max(parts.clock.left() - lineSpacing - line.left(), 0.0);
    const double shownNameWidth = std::min(nameWidth, available);
    parts.name = QRectF(line.left(), line.top(), shownNameWidth, line.height());
    const double rangeLeft = parts.name.right() + lineSpacing;
    parts.range =
        QRectF(rangeLeft, line.top(), std::clamp(available - shownNameWidth - lineSpacing, 0.0, rangeWidth),
               line.height());
    return parts;
}

void BridgeChopRow::paintTextLine(QPainter& painter, const QRectF& line) const {
    const TextLine parts = textLine(line);
    paintGlyph(painter, parts.dragGlyph, "arrow.up.doc", 10, faded(amber, 0.68));

    // The clock keeps its place while hidden.
    if (isPlaying()) {
        painter.setFont(captionFont());
        painter.setPen(faded(amber, 0.84));
        painter.drawText(
            parts.clock, Qt::AlignRight | Qt::AlignVCenter,
            QFontMetricsF(captionFont()).elidedText(clockText(), Qt::ElideLeft, parts.clock.width()));
    }

    const QString name = QString::fromStdString(slice.displayTitle());
    painter.setFont(nameFont());
    painter.setPen(white(0.82));
    painter.drawText(parts.name.adjusted(0, 0, 1, 0), Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(nameFont()).elidedText(name, Qt::ElideRight, parts.name.width() + 1));
    const QString range = shownTimeRangeText(parts);
    if (!range.isEmpty()) {
        painter.setFont(captionFont());
        painter.setPen(white(0.4));
        painter.drawText(parts.range.adjusted(0, 0, 1, 0), Qt::AlignLeft | Qt::AlignVCenter, range);
    }
}

bool BridgeChopRow::hitsTile(QPointF point) const {
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    return shape.contains(point);
}

void BridgeChopRow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !hitsTile(event->position())) {
        event->ignore();
        return;
    }
    pressPosition = event->position().toPoint();
}

void BridgeChopRow::mouseMoveEvent(QMouseEvent* event) {
    if (!pressPosition || !(event->buttons() & Qt::LeftButton))
        return;
    if ((event->position().toPoint() - *pressPosition).manhattanLength() < QApplication::startDragDistance())
        return;
    pressPosition.reset();
    startFileDrag(this, dragData(),
                  fileDragChip("scissors", suggestedFileName(), amber, devicePixelRatioF()));
}

void BridgeChopRow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressPosition)
        return;
    pressPosition.reset();
    if (!hitsTile(event->position()))
        return;
    // Copies: the call may rebuild the list this tile belongs to.
    const SampleItem sample = owner;
    const BridgeSampleChop chop = slice;
    model.toggleChopPreview(sample, chop);
}

void BridgeChopRow::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key != Qt::Key_Space && key != Qt::Key_Return && key != Qt::Key_Enter)
        return QWidget::keyPressEvent(event);
    if (event->isAutoRepeat())
        return;
    const SampleItem sample = owner;
    const BridgeSampleChop chop = slice;
    model.toggleChopPreview(sample, chop);
}
