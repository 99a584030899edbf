#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleRow.h"

#include "Platform/Async/Sleep.h"
#include "Platform/Async/Spawn.h"
#include "Platform/UI/FileDrag.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"
#include "Platform/UI/SheetOverlay.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeBadges.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeChopPanel.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeControls.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleDrag.h"
#include "VellumtideBridge/Sources/Interface/Waveform/WaveformView.h"
#include "VellumtideBridge/Sources/Library/BridgeFormatters.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QVariantAnimation>
#include <cmath>

using namespace vt::ui;
using bridgeui::makeViewButton;
using bridgeui::StyledButton;

namespace {

const QColor keyBadgeColor = QColor::fromRgbF(0.86f, 0.58f, 1.0f);
constexpr vt::Nanoseconds chopDebounceNanoseconds{320'000'000};
constexpr int chopAnimationMilliseconds = 180;

// Glyph-font pixel size that matches a symbol drawn at the given text size.
double glyphSize(double points) {
    return std::round(points * 1.25);
}

// The title of a card as a button: the title and a small pencil.
class TitleButton final : public QAbstractButton {
public:
    explicit TitleButton(QWidget* parent = nullptr) : QAbstractButton(parent) {
        setFont(systemFont(15, FontWeight::semibold));
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        setToolTip(QStringLiteral("Rename sample"));
    }
    QSize sizeHint() const override {
        const QFontMetricsF metrics(font());
        return QSize(
            static_cast<int>(std::ceil(metrics.horizontalAdvance(text()) + pencilGap + pencilWidth)) + 1,
            std::max(20, static_cast<int>(std::ceil(metrics.height()))));
    }
    QSize minimumSizeHint() const override { return QSize(40, sizeHint().height()); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QFontMetricsF metrics(font());
        const double room = std::max(width() - pencilGap - pencilWidth, 0.0);
        const QString shown = metrics.elidedText(text(), Qt::ElideRight, room);
        const double textWidth = std::min(metrics.horizontalAdvance(shown), room);
        painter.setFont(font());
        painter.setPen(Qt::white);
        painter.drawText(QRectF(0, 0, textWidth + 1, height()), Qt::AlignLeft | Qt::AlignVCenter, shown);
        paintGlyph(painter, QRectF(textWidth + pencilGap, 0, pencilWidth, height()), "pencil", glyphSize(9),
                   white(0.38));
    }

private:
    static constexpr double pencilGap = 6;
    static constexpr double pencilWidth = 11;
};

// The delete confirmation's panel.
class AlertPanel final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(white(0.1), 1));
        painter.setBrush(palette::surface2);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    }
};

// An analysis mark as the card shows it.
struct BadgeSpec {
    QString label;
    std::string symbol;
    QColor color;
    bool isEditedMark = false;
    bool operator==(const BadgeSpec&) const = default;
};

QString kilohertzText(double sampleRate) {
    if (!std::isfinite(sampleRate))
        return QStringLiteral("--");
    const double whole = std::trunc(sampleRate / 1000);
    if (!(whole < 9223372036854775808.0 && whole >= -9223372036854775808.0))
        return QStringLiteral("--");
    return QString::number(static_cast<qlonglong>(whole));
}

// The chop switch: a capsule with a chevron, scissors, "Chop" and the number of chops.
void paintChopToggle(QPainter& painter, const QRectF& rect, bool open, std::size_t chopCount) {
    const QRectF capsule = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(faded(palette::amber, open ? 0.28 : 0.16), 1));
    painter.setBrush(faded(palette::amber, open ? 0.16 : 0.09));
    painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);

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

// The rename field: the title's font on no background, with a faint placeholder.
QLineEdit* makeTitleField() {
    auto* field = new QLineEdit;
    field->setObjectName("titleField");
    field->setPlaceholderText(QStringLiteral("Sample name"));
    field->setFont(systemFont(15, FontWeight::semibold));
    field->setFrame(false);
    field->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    field->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; color: white; padding: 0;"
                                        " selection-background-color: rgba(82, 219, 204, 110); }"));
    QPalette fieldPalette = field->palette();
    fieldPalette.setColor(QPalette::PlaceholderText, white(0.3));
    field->setPalette(fieldPalette);
    return field;
}

// The delete confirmation: its question, the sample's name, and "No" and "Yes, Delete".
QWidget* makeDeleteAlert(const QString& sampleTitle) {
    auto* panel = new AlertPanel;
    panel->setObjectName("deleteAlert");
    panel->setFixedWidth(360);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(20, 18, 20, 18);
    layout->setSpacing(10);
    layout->addWidget(
        makeText(QStringLiteral("Delete sample?"), systemFont(15, FontWeight::bold), Qt::white));
    auto* message = makeText(
        QStringLiteral("Remove \"%1\" from Bridge and the AU library on this computer?").arg(sampleTitle),
        systemFont(12, FontWeight::medium), white(0.72), true);
    message->setObjectName("deleteMessage");
    layout->addWidget(message);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* no = new StyledButton(StyledButton::Style::bordered, palette::cyan);
    no->setContent(QStringLiteral("No"));
    no->setObjectName("deleteCancelButton");
    auto* yes = new StyledButton(StyledButton::Style::prominent, palette::danger);
    yes->setContent(QStringLiteral("Yes, Delete"));
    yes->setObjectName("deleteConfirmButton");
    buttons->addWidget(no);
    buttons->addWidget(yes);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    return panel;
}

QWidget* alertHost(QWidget* widget) {
    QWidget* top = widget->window();
    if (auto* main = qobject_cast<QMainWindow*>(top); main && main->centralWidget())
        return main->centralWidget();
    return top;
}

} // namespace

struct BridgeSampleRow::State {
    State(BridgeViewModel& model, SampleItem item)
        : model(model), sample(std::move(item)), draftTitle(QString::fromStdString(sample.title)),
          chopSensitivity(sample.chopSensitivity) {}

    BridgeViewModel& model;
    SampleItem sample;
    bool isTitleFocused = false;
    QString draftTitle;
    bool isChopsExpanded = false;
    double chopSensitivity;
    std::optional<vt::CancellationToken> chopDebounceTask;
    bool isShowingDeleteConfirmation = false;
    bool isRenaming = false;
    bool wasPlaying = false;

    PaintedButton* playButton = nullptr;
    PaintedButton* favoriteButton = nullptr;
    PaintedButton* editButton = nullptr;
    PaintedButton* chopToggle = nullptr;
    TitleButton* titleButton = nullptr;
    QLineEdit* titleField = nullptr;
    QHBoxLayout* titleLine = nullptr;
    ElidedLabel* dateText = nullptr;
    PaintedButton* deleteButton = nullptr;
    WaveformView* waveform = nullptr;
    ElidedLabel* infoText = nullptr;
    QHBoxLayout* badgeLayout = nullptr;
    PaintedView* stateGlyph = nullptr;
    BridgeChopPanel* chopPanel = nullptr;
    std::vector<BadgeSpec> badges;
    QPointer<SheetOverlay> deleteAlert;
    QPointer<QVariantAnimation> chopAnimation;
    std::optional<QPoint> pressPosition;
};

// Item indices of the title line whose stretch changes with rename mode.
namespace {
constexpr int titleFieldIndex = 4;
constexpr int titleSpacerIndex = 5;
} // namespace

BridgeSampleRow::BridgeSampleRow(BridgeViewModel& model, SampleItem sample, QWidget* parent)
    : QWidget(parent), state(std::make_unique<State>(model, std::move(sample))) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(10);
    buildTopLine();
    buildChopPanel();
    connect(&model, &BridgeViewModel::changed, this, &BridgeSampleRow::modelChanged);
    refresh();
}

BridgeSampleRow::~BridgeSampleRow() {
    cancelChopDebounce();
    if (state->deleteAlert)
        state->deleteAlert->dismiss();
    disconnect(&state->model, nullptr, this, nullptr);
    state->titleField->removeEventFilter(this);
    // The children's drawing reads the state: they go first.
    qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
}

const SampleItem& BridgeSampleRow::sample() const {
    return state->sample;
}

void BridgeSampleRow::setSample(SampleItem sample) {
    const SampleItem previous = std::exchange(state->sample, std::move(sample));
    const SampleItem& current = state->sample;
    if (current.id != previous.id) {
        cancelChopDebounce();
        state->draftTitle = QString::fromStdString(current.title);
        state->isRenaming = false;
        state->chopSensitivity = current.chopSensitivity;
        state->isChopsExpanded = false;
        if (state->chopAnimation)
            state->chopAnimation->stop();
        state->chopPanel->hide();
    } else {
        if (current.title != previous.title && !state->isRenaming)
            state->draftTitle = QString::fromStdString(current.title);
        if (current.chopSensitivity != previous.chopSensitivity)
            state->chopSensitivity = current.chopSensitivity;
    }
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
    column->addWidget(buildInfoLine());
    top->addLayout(column, 1);
}

QWidget* BridgeSampleRow::buildTitleLine() {
    auto* line = new QWidget;
    auto* layout = makeRow(line, 8);
    state->titleLine = layout;

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

    state->chopToggle = makeViewButton(QSize(86, 24), [this](QPainter& painter, const QRectF& rect) {
        paintChopToggle(painter, rect, state->isChopsExpanded, state->sample.chops.size());
    });
    state->chopToggle->setObjectName("chopToggle");
    state->chopToggle->setToolTip(QStringLiteral("Open Auto Chop"));
    state->chopToggle->setAccessibleName(QStringLiteral("Open Auto Chop"));
    connect(state->chopToggle, &QAbstractButton::clicked, this,
            [this] { setChopsExpanded(!state->isChopsExpanded); });

    state->titleButton = new TitleButton;
    state->titleButton->setObjectName("titleButton");
    connect(state->titleButton, &QAbstractButton::clicked, this, &BridgeSampleRow::beginRenaming);

    state->titleField = makeTitleField();
    state->titleField->hide();
    state->titleField->installEventFilter(this);
    connect(state->titleField, &QLineEdit::textEdited, this,
            [this](const QString& text) { state->draftTitle = text; });
    connect(state->titleField, &QLineEdit::returnPressed, this, &BridgeSampleRow::submitTitle);

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
    layout->addWidget(state->chopToggle);
    layout->addWidget(state->titleButton);
    layout->addWidget(state->titleField);
    layout->addStretch(1);
    layout->addWidget(state->dateText);
    layout->addWidget(state->deleteButton);
    return line;
}

QWidget* BridgeSampleRow::buildInfoLine() {
    auto* line = new QWidget;
    auto* layout = makeRow(line, 8);

    state->infoText = new ElidedLabel({}, monospacedFont(11, FontWeight::medium), white(0.46));
    state->infoText->setObjectName("infoText");
    layout->addWidget(state->infoText);

    auto* badgeStrip = new QWidget;
    badgeStrip->setObjectName("badges");
    state->badgeLayout = makeRow(badgeStrip, 8);
    layout->addWidget(badgeStrip);
    layout->addStretch(1);

    state->stateGlyph = new PaintedView(QSize(16, 18), [this](QPainter& painter, const QRectF& rect) {
        QColor color = white(0.26);
        if (isPlaying())
            color = palette::cyan;
        else if (isEditActive() || !state->sample.chops.empty())
            color = faded(palette::amber, 0.8);
        paintGlyph(painter, rect, isPlaying() ? "speaker.wave.2.fill" : "waveform", glyphSize(11), color);
    });
    state->stateGlyph->setObjectName("stateGlyph");
    layout->addWidget(state->stateGlyph);
    return line;
}

void BridgeSampleRow::buildChopPanel() {
    state->chopPanel = new BridgeChopPanel(state->model);
    state->chopPanel->setObjectName("chopPanel");
    state->chopPanel->hide();
    layout()->addWidget(state->chopPanel);
    connect(state->chopPanel, &BridgeChopPanel::sensitivityEdited, this, &BridgeSampleRow::editSensitivity);
    connect(state->chopPanel, &BridgeChopPanel::sliderEditingStarted, this,
            &BridgeSampleRow::scheduleAutoChop);
    connect(state->chopPanel, &BridgeChopPanel::sliderEditingEnded, this, &BridgeSampleRow::runAutoChopNow);
    connect(state->chopPanel, &BridgeChopPanel::chopRequested, this, &BridgeSampleRow::runAutoChopNow);
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
        refreshBadges();
        break;
    case Field::choppingSampleIDs:
        refreshChopPanel();
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
    state->chopToggle->update();
    state->dateText->setText(QString::fromStdString(BridgeFormatters::sampleDate().format(sample.createdAt)));

    WaveformView::Input input;
    input.peaks = sample.peaks;
    input.duration = sample.duration;
    input.edit = sample.edit;
    input.progress = isPlaying() ? state->model.previewProgress() : 0.0;
    state->waveform->setInput(std::move(input));

    refreshTitle();
    refreshPlayback();
    refreshBadges();
    refreshChopPanel();
    update();
}

void BridgeSampleRow::refreshPlayback() {
    const bool playing = isPlaying();
    state->wasPlaying = playing;
    const SampleItem& sample = state->sample;
    const QString help = playing ? QStringLiteral("Stop preview") : QStringLiteral("Preview");
    state->playButton->setToolTip(help);
    state->playButton->setAccessibleName(help);
    state->playButton->update();
    state->waveform->setProgress(playing ? state->model.previewProgress() : 0.0);
    state->stateGlyph->update();

    std::string info;
    if (playing) {
        info = BridgeFormatters::playback(state->model.previewCurrentTime(), state->model.previewDuration());
    } else if (isEditActive()) {
        const double kept = sample.edit.sanitized(sample.duration).editedDuration(sample.duration);
        info = BridgeFormatters::preciseTime(kept) + " selected  " +
               kilohertzText(sample.sampleRate).toStdString() + " kHz";
    } else {
        info = sample.subtitle();
    }
    state->infoText->setText(QString::fromStdString(info));
}

void BridgeSampleRow::refreshTitle() {
    const bool renaming = state->isRenaming;
    state->titleButton->setText(state->draftTitle);
    state->titleButton->updateGeometry();
    state->titleButton->setVisible(!renaming);
    state->titleField->setVisible(renaming);
    // The field takes the free room while it is shown; otherwise the spacer does.
    state->titleLine->setStretch(titleFieldIndex, renaming ? 1 : 0);
    state->titleLine->setStretch(titleSpacerIndex, renaming ? 0 : 1);
}

void BridgeSampleRow::refreshBadges() {
    const SampleItem& sample = state->sample;
    std::vector<BadgeSpec> badges;
    if (isEditActive())
        badges.push_back({QStringLiteral("EDITED"), "scissors", palette::amber, true});
    if (!sample.chops.empty())
        badges.push_back(
            {QString::number(sample.chops.size()) + QStringLiteral(" CHOPS"), "scissors", palette::amber});
    if (state->model.analyzingSampleIDs().count(sample.id))
        badges.push_back({QStringLiteral("ANALYZING"), "waveform.path.ecg", palette::cyan});
    if (auto label = sample.analysis.tempoLabel())
        badges.push_back({QString::fromStdString(*label), "metronome", palette::cyan});
    if (auto label = sample.analysis.rootLabel())
        badges.push_back({QString::fromStdString(*label), "music.note", palette::amber});
    if (auto label = sample.analysis.keyLabel())
        badges.push_back({QString::fromStdString(*label), "key.fill", keyBadgeColor});
    if (badges == state->badges)
        return;
    while (QLayoutItem* item = state->badgeLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const BadgeSpec& badge : badges) {
        if (badge.isEditedMark)
            state->badgeLayout->addWidget(new EditedBadge(badge.color));
        else
            state->badgeLayout->addWidget(new AnalysisBadge(badge.label, badge.symbol, badge.color));
    }
    state->badges = std::move(badges);
}

void BridgeSampleRow::refreshChopPanel() {
    state->chopPanel->refresh(state->sample, state->chopSensitivity);
}

void BridgeSampleRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(isEditActive() ? faded(palette::amber, 0.24) : white(0.06), 1));
    painter.setBrush(palette::surface);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}

// ---- Rename ----

void BridgeSampleRow::beginRenaming() {
    state->draftTitle = QString::fromStdString(state->sample.title);
    state->isRenaming = true;
    state->titleField->setText(state->draftTitle);
    refreshTitle();
    // Focus on the next turn, once the field is on screen.
    QTimer::singleShot(0, state->titleField,
                       [field = state->titleField] { field->setFocus(Qt::OtherFocusReason); });
}

void BridgeSampleRow::submitTitle() {
    if (!state->isRenaming || !finishRenaming())
        return;
    state->isTitleFocused = false;
    state->titleField->clearFocus();
    if (QWidget* focused = window()->focusWidget())
        focused->clearFocus();
    refreshTitle();
}

void BridgeSampleRow::titleFocusLost() {
    if (!state->isTitleFocused)
        return;
    state->isTitleFocused = false;
    if (state->isRenaming && finishRenaming())
        refreshTitle();
}

// Commits the draft and leaves rename mode; false when committing took the card away.
bool BridgeSampleRow::finishRenaming() {
    QPointer<BridgeSampleRow> self(this);
    commitTitle();
    if (!self)
        return false;
    state->isRenaming = false;
    return true;
}

void BridgeSampleRow::commitTitle() {
    const std::string trimmed = trimmedText(state->draftTitle.toStdString());
    if (trimmed.empty()) {
        state->draftTitle = QString::fromStdString(state->sample.title);
        return;
    }
    state->draftTitle = QString::fromStdString(trimmed);
    if (trimmed == state->sample.title)
        return;
    const SampleItem sample = state->sample;
    state->model.renameSample(sample, trimmed);
}

bool BridgeSampleRow::eventFilter(QObject* watched, QEvent* event) {
    if (state && watched == state->titleField) {
        if (event->type() == QEvent::FocusIn) {
            state->isTitleFocused = true;
        } else if (event->type() == QEvent::FocusOut) {
            // A context menu or another application taking over keeps the field focused.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
                titleFocusLost();
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Chop panel ----

void BridgeSampleRow::setChopsExpanded(bool expanded) {
    state->isChopsExpanded = expanded;
    state->chopToggle->update();
    BridgeChopPanel* panel = state->chopPanel;
    if (state->chopAnimation)
        state->chopAnimation->stop();
    const int from = panel->isVisible() ? panel->height() : 0;
    int to = 0;
    if (expanded) {
        refreshChopPanel();
        const int width = contentsRect().width();
        to = panel->hasHeightForWidth() ? panel->heightForWidth(width) : panel->sizeHint().height();
        panel->setMaximumHeight(from);
        panel->show();
    }
    auto* animation = new QVariantAnimation(this);
    animation->setDuration(chopAnimationMilliseconds);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    animation->setStartValue(from);
    animation->setEndValue(to);
    connect(animation, &QVariantAnimation::valueChanged, panel,
            [panel](const QVariant& value) { panel->setMaximumHeight(value.toInt()); });
    connect(animation, &QVariantAnimation::finished, panel, [this, panel] {
        panel->setMaximumHeight(QWIDGETSIZE_MAX);
        panel->setVisible(state->isChopsExpanded);
    });
    state->chopAnimation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void BridgeSampleRow::editSensitivity(double sensitivity) {
    state->chopSensitivity = sensitivity;
    refreshChopPanel();
    scheduleAutoChop();
}

void BridgeSampleRow::scheduleAutoChop() {
    startAutoChop(chopDebounceNanoseconds);
}

void BridgeSampleRow::runAutoChopNow() {
    startAutoChop(std::nullopt);
}

// Chops the card's sample at its sensitivity, after the delay unless a later start cancels it
// first; only a delayed chop is stored (a start now leaves the cancelled one stored).
void BridgeSampleRow::startAutoChop(std::optional<vt::Nanoseconds> delay) {
    if (!state->isChopsExpanded)
        return;
    cancelChopDebounce();
    const vt::CancellationToken token;
    if (delay)
        state->chopDebounceTask = token;
    QPointer<BridgeViewModel> model(&state->model);
    std::shared_ptr<vt::Scheduler> scheduler = state->model.dependencies().scheduler;
    const SampleItem sample = state->sample;
    const double sensitivity = state->chopSensitivity;
    vt::spawn([model, scheduler, token, delay, sample, sensitivity]() -> QCoro::Task<> {
        if (delay) {
            const bool slept = co_await vt::sleepFor(*scheduler, *delay, token);
            if (!slept || token.isCancelled())
                co_return;
        }
        if (model)
            co_await model->autoChop(sample, sensitivity);
    });
}

void BridgeSampleRow::cancelChopDebounce() {
    // The cancelled task stays stored.
    if (state->chopDebounceTask)
        state->chopDebounceTask->cancel();
}

void BridgeSampleRow::hideEvent(QHideEvent* event) {
    if (!event->spontaneous())
        cancelChopDebounce();
    QWidget::hideEvent(event);
}

// ---- Delete ----

void BridgeSampleRow::confirmDelete() {
    if (state->deleteAlert)
        return;
    state->isShowingDeleteConfirmation = true;

    QWidget* panel = makeDeleteAlert(QString::fromStdString(state->sample.title));
    auto* no = panel->findChild<StyledButton*>("deleteCancelButton");
    auto* yes = panel->findChild<StyledButton*>("deleteConfirmButton");
    SheetOverlay* overlay = SheetOverlay::present(alertHost(this), panel);
    state->deleteAlert = overlay;
    QPointer<BridgeSampleRow> self(this);
    QPointer<BridgeViewModel> model(&state->model);
    const SampleItem shown = state->sample;
    connect(overlay, &SheetOverlay::dismissed, this, [this] { state->isShowingDeleteConfirmation = false; });
    connect(no, &QAbstractButton::clicked, overlay, &SheetOverlay::dismiss);
    connect(yes, &QAbstractButton::clicked, overlay, [self, model, shown, overlay] {
        const SampleItem sample = self ? self->state->sample : shown;
        overlay->dismiss();
        if (model)
            model->deleteSample(sample);
    });
}

// ---- Drag-out ----

void BridgeSampleRow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    // A click on the card ends a rename, as a click anywhere outside the field does.
    if (state->isRenaming && state->titleField->hasFocus())
        state->titleField->clearFocus();
    state->pressPosition = event->position().toPoint();
}

void BridgeSampleRow::mouseMoveEvent(QMouseEvent* event) {
    if (!state->pressPosition || !(event->buttons() & Qt::LeftButton))
        return;
    if ((event->position().toPoint() - *state->pressPosition).manhattanLength() <
        QApplication::startDragDistance())
        return;
    const QPoint hotSpot = *state->pressPosition;
    state->pressPosition.reset();
    startFileDrag(this, sampleDragData(state->model, state->sample), hotSpot);
}

void BridgeSampleRow::mouseReleaseEvent(QMouseEvent* event) {
    state->pressPosition.reset();
    QWidget::mouseReleaseEvent(event);
}
