#include "VellumtideAU/Window/VellumtideRows.h"

#include "Platform/Core/Paths.h"
#include "Platform/Desktop/DragStaging.h"
#include "Platform/UI/Drawing.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"
#include "Platform/UI/XdndDragSource.h"
#include "VellumtideAU/Window/VellumtideWaveforms.h"
#include "VellumtideAU/Window/VellumtideWindowKit.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <cmath>

using namespace VellumtideWindowKit;
using vt::ui::FontWeight;
using vt::ui::PaintedButton;

namespace {

int activeDrags = 0;

void call(const std::function<void()>& action) {
    if (action)
        action();
}

} // namespace

namespace VellumtideDragOut {

std::optional<Item> item(bool isAvailable, const std::filesystem::path& audioURL, const vt::Uuid& sampleID,
                         const std::optional<vt::Uuid>& chopID) {
    if (!isAvailable)
        return std::nullopt;
    // The file's own name: its stem, with the extension of the audio type it is offered as.
    return Item{audioURL, QString::fromStdString(audioURL.filename().string()), sampleID, chopID};
}

bool isDragging() {
    return activeDrags > 0;
}

} // namespace VellumtideDragOut

void VellumtideDraggableRow::mousePressEvent(QMouseEvent* event) {
    pressed = event->button() == Qt::LeftButton;
    pressPosition = event->position().toPoint();
}

void VellumtideDraggableRow::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed || !(event->buttons() & Qt::LeftButton))
        return;
    if ((event->position().toPoint() - pressPosition).manhattanLength() < QApplication::startDragDistance())
        return;
    pressed = false;
    startDrag();
}

void VellumtideDraggableRow::startDrag() {
    // No loop of its own inside a host's idle call: the host's loop goes on during the drag, and
    // a file not staged before is copied on another thread while the drag runs.
    const auto offered = dragProvider();
    auto staged = offered
                      ? vt::stageFileForDragInBackground(vt::dragStagingFolder(vt::Paths::fromEnvironment()),
                                                         {offered->file, offered->sampleID, offered->chopID},
                                                         offered->suggestedName)
                      : std::nullopt;
    if (!staged)
        return; // a missing file is never offered
    ++activeDrags;
    if (!vt::ui::startFileDragOut(this, std::move(*staged), [] { --activeDrags; }))
        --activeDrags;
}

void VellumtideDraggableRow::clearContent() {
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        child->hide();
        child->deleteLater(); // a button of the old content may be delivering its click
    }
    delete layout();
}

PaintedButton* makeLoadToPadButton(double glyphSize, bool isAvailable, const QColor& cyan,
                                   const QString& help, std::function<void()> action, QWidget* parent) {
    auto* button = windowButton(vt::ui::makeGlyphButton("square.grid.2x2.fill", glyphSize,
                                                        vt::ui::withOpacity(cyan, isAvailable ? 0.78 : 0.25),
                                                        QSize(20, 20), vt::ui::white(0.055), help, parent));
    button->setEnabled(isAvailable);
    QObject::connect(button, &QAbstractButton::clicked, button,
                     [action = std::move(action)] { call(action); });
    return button;
}

VellumtideAUSampleRow::VellumtideAUSampleRow(VellumtidePluginSample sample, bool isPlaying, bool isExpanded,
                                             Actions actions, QColor cyan, QColor amber, QWidget* parent)
    : VellumtideDraggableRow(parent), item(std::move(sample)), isPlaying(isPlaying), isExpanded(isExpanded),
      actions(std::move(actions)), cyan(cyan), amber(amber) {
    setToolTip(QStringLiteral("Drag the WAV into your DAW timeline or sampler"));
    setFixedHeight(rowHeight);
    build();
}

void VellumtideAUSampleRow::setSample(VellumtidePluginSample sample, bool playing, bool expanded) {
    clearContent();
    item = std::move(sample);
    isPlaying = playing;
    isExpanded = expanded;
    chops = nullptr;
    badgeTexts.clear();
    titleBadgeTexts.clear();
    build();
    update();
}

void VellumtideAUSampleRow::setState(bool playing, bool expanded) {
    if (playing == isPlaying && expanded == isExpanded)
        return;
    isPlaying = playing;
    isExpanded = expanded;
    paintPlayButton();
    if (chops) {
        chops->setHelp(isExpanded ? QStringLiteral("Hide chops") : QStringLiteral("Show chops"));
        chops->update();
    }
}

void VellumtideAUSampleRow::paintPlayButton() {
    const bool playing = isPlaying;
    const QColor tint = cyan;
    play->setPainter([playing, tint](QPainter& painter, const QRectF& rect) {
        vt::ui::paintGlyphOnCircle(painter, rect, playing ? "stop.fill" : "play.fill", 13,
                                   playing ? QColor(Qt::black) : tint, playing ? tint : vt::ui::white(0.08));
    });
    play->setHelp(isPlaying ? QStringLiteral("Stop preview") : QStringLiteral("Preview"));
    play->update();
}

void VellumtideAUSampleRow::build() {
    setAccessibleName(text(item.title));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(11);

    play = windowButton(new PaintedButton(QSize(34, 34), {}, this));
    paintPlayButton();
    play->setEnabled(item.isAvailable);
    connect(play, &QAbstractButton::clicked, this, [this] { call(this->actions.play); });
    row->addWidget(play, 0, Qt::AlignVCenter);

    auto* content = new QVBoxLayout;
    content->setSpacing(5);
    content->addWidget(makeTitleLine());
    content->addWidget(
        new MiniWaveform(item.peaks, cyan, amber, item.edit, item.originalDuration, item.isEdited));
    content->addWidget(makeInfoLine());
    row->addLayout(content, 1);
}

QWidget* VellumtideAUSampleRow::makeTitleLine() {
    auto* line = new QWidget(this);
    line->setFixedHeight(20);
    auto* row = vt::ui::makeRow(line, 8);
    if (!item.chops.empty()) {
        const QString count = QString::number(item.chops.size());
        const QFont countFont = vt::ui::monospacedFont(8, FontWeight::bold);
        const int width =
            int(std::ceil(6 + 8 + 3 + 9 + 3 + QFontMetricsF(countFont).horizontalAdvance(count) + 6));
        const QColor tint = amber;
        chops = windowButton(new PaintedButton(QSize(width, 20), [this, tint, count, countFont](
                                                                     QPainter& painter, const QRectF& rect) {
            const bool open = isExpanded;
            QPainterPath capsule;
            capsule.addRoundedRect(rect, 10, 10);
            painter.fillPath(capsule, vt::ui::withOpacity(tint, open ? 0.16 : 0.1));
            QRectF chevron(6, 0, 8, 20), scissors(17, 0, 9, 20);
            vt::ui::paintGlyph(painter, chevron, open ? "chevron.down" : "chevron.right", 8, tint);
            vt::ui::paintGlyph(painter, scissors, "scissors", 9, tint);
            painter.setFont(countFont);
            painter.setPen(tint);
            painter.drawText(QRectF(29, 0, rect.width() - 29, 20), Qt::AlignLeft | Qt::AlignVCenter, count);
        }));
        chops->setHelp(isExpanded ? QStringLiteral("Hide chops") : QStringLiteral("Show chops"));
        connect(chops, &QAbstractButton::clicked, this, [this] { call(actions.toggleChops); });
        row->addWidget(chops);
    }
    auto* title = textLabel(text(item.title), vt::ui::systemFont(13, FontWeight::semibold), Qt::white, line);
    title->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    row->addWidget(title, 0);
    if (item.isFavorite) {
        auto* star = glyphLabel("star.fill", 9, amber, line);
        star->setToolTip(QStringLiteral("Favorite"));
        row->addWidget(star);
    }
    if (item.isEdited) {
        auto* edited = badgeButton("slider.horizontal.3", QStringLiteral("EDITED"), amber,
                                   QStringLiteral("Continue edit in Bridge"), line);
        connect(edited, &QAbstractButton::clicked, this, [this] { call(actions.edit); });
        row->addWidget(edited);
        titleBadgeTexts << QStringLiteral("EDITED");
    }
    if (!item.isAvailable) {
        row->addWidget(badge("exclamationmark.triangle.fill", QStringLiteral("MISSING"),
                             vt::ui::palette::warningRed, line));
        titleBadgeTexts << QStringLiteral("MISSING");
    }
    row->addStretch(1);
    return line;
}

void VellumtideAUSampleRow::addBadge(ShorteningStrip* strip, std::string_view symbol, const QString& label,
                                     const QColor& color) {
    strip->addWidget(badge(symbol, label, color), leastBadgeWidth());
    badgeTexts << label;
}

QWidget* VellumtideAUSampleRow::makeInfoLine() {
    auto* line = new QWidget(this);
    line->setFixedHeight(20);
    auto* row = vt::ui::makeRow(line, 6);
    auto* strip = new ShorteningStrip(6, line);
    strip->addWidget(textLabel(text(item.subtitle()), vt::ui::monospacedFont(10, FontWeight::medium),
                               vt::ui::white(0.44)));
    if (auto summary = item.editSummary()) {
        auto* button =
            badgeButton("scissors", text(*summary), amber, QStringLiteral("Continue edit in Bridge"));
        connect(button, &QAbstractButton::clicked, this, [this] { call(actions.edit); });
        strip->addWidget(button, leastBadgeWidth());
        badgeTexts << text(*summary);
    }
    if (!item.chops.empty())
        addBadge(strip, "square.split.2x1", QString::number(item.chops.size()) + QStringLiteral(" CHOPS"),
                 amber);
    if (item.tempoLabel)
        addBadge(strip, "metronome", text(*item.tempoLabel), cyan);
    if (item.rootLabel)
        addBadge(strip, "music.note", text(*item.rootLabel), amber);
    if (item.keyLabel)
        addBadge(strip, "key.fill", text(*item.keyLabel), QColor::fromRgbF(0.86f, 0.58f, 1.0f));
    row->addWidget(strip, 1);
    load = makeLoadToPadButton(
        10, item.isAvailable, cyan, QStringLiteral("Load into selected pad"),
        [this] { call(actions.loadToPad); }, line);
    row->addWidget(load);
    row->addWidget(glyphLabel("arrow.up.doc", 10, vt::ui::white(0.26), line));
    return line;
}

std::optional<VellumtideDragOut::Item>
VellumtideAUSampleRow::dragProvider(const VellumtidePluginSample& sample) {
    return VellumtideDragOut::item(sample.isAvailable, sample.audioURL, sample.id);
}

void VellumtideAUSampleRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor stroke = item.isEdited ? vt::ui::withOpacity(amber, 0.24) : vt::ui::white(0.06);
    vt::ui::paintRoundedBox(painter, QRectF(rect()), vt::ui::palette::surface, 8, vt::ui::Border{stroke, 1});
}

VellumtideAUChopRow::VellumtideAUChopRow(VellumtidePluginSample sample, VellumtidePluginChop chop,
                                         std::function<void()> loadToPad, QColor cyan, QColor amber,
                                         QWidget* parent)
    : VellumtideDraggableRow(parent), sample(std::move(sample)), item(std::move(chop)),
      loadToPad(std::move(loadToPad)), cyan(cyan), amber(amber) {
    setFixedHeight(rowHeight);
    build();
}

void VellumtideAUChopRow::setChop(VellumtidePluginSample parent, VellumtidePluginChop chop) {
    clearContent();
    sample = std::move(parent);
    item = std::move(chop);
    build();
    update();
}

void VellumtideAUChopRow::build() {
    const bool available = item.isAvailable;
    setToolTip(available ? QStringLiteral("Drag this chop into your DAW")
                         : QStringLiteral("Chop file missing"));
    setAccessibleName(text(item.title));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 0, 10, 0);
    row->setSpacing(8);
    row->addWidget(glyphLabel("line.3.horizontal", 10, vt::ui::white(0.3), this));
    auto* title =
        textLabel(text(item.title), vt::ui::systemFont(11, FontWeight::bold), vt::ui::white(0.82), this);
    title->setFixedWidth(58);
    row->addWidget(title);
    auto* range = textLabel(text(item.rangeLabel()), vt::ui::monospacedFont(9, FontWeight::medium),
                            vt::ui::white(0.44), this);
    row->addWidget(range);
    auto* waveform = new ChopMiniWaveform(this->sample.peaks, this->sample.originalDuration, item, cyan,
                                          vt::ui::white(0.13), this);
    waveform->setOpacity(available ? 1.0 : 0.38);
    row->addWidget(waveform, 1);
    if (!available) {
        auto* warning = glyphLabel("exclamationmark.triangle.fill", 9, vt::ui::palette::warningRed, this);
        warning->setToolTip(QStringLiteral("Bridge needs to regenerate this chop"));
        row->addWidget(warning);
    }
    load = makeLoadToPadButton(
        9, available, cyan, QStringLiteral("Load this chop into selected pad"),
        [this] { call(this->loadToPad); }, this);
    row->addWidget(load);
    row->addWidget(glyphLabel("arrow.up.doc", 9, vt::ui::withOpacity(amber, available ? 0.72 : 0.28), this));
}

std::optional<VellumtideDragOut::Item> VellumtideAUChopRow::dragProvider() const {
    return VellumtideDragOut::item(item.isAvailable, item.audioURL, sample.id, item.id);
}

void VellumtideAUChopRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    vt::ui::paintRoundedBox(painter, QRectF(rect()), vt::ui::white(0.045), 7,
                            vt::ui::Border{vt::ui::withOpacity(vt::ui::palette::amber, 0.14), 1});
}
