#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleTitle.h"

#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeCardGlyphs.h"

#include <QAbstractButton>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <cmath>

using namespace vt::ui;

namespace {

// The title as a button: the title and a small pencil.
class TitleButton final : public QAbstractButton {
public:
    TitleButton() {
        setObjectName("titleButton");
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
        paintGlyph(painter, QRectF(textWidth + pencilGap, 0, pencilWidth, height()), "pencil",
                   bridgeui::glyphSize(9), white(0.38));
    }

private:
    static constexpr double pencilGap = 6;
    static constexpr double pencilWidth = 11;
};

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

// Item indices of the layout whose stretch changes with rename mode.
constexpr int fieldIndex = 1;
constexpr int spacerIndex = 2;

} // namespace

BridgeSampleTitle::BridgeSampleTitle(BridgeViewModel& model, SampleItem item, QWidget* parent)
    : QWidget(parent), model(model), sample(std::move(item)),
      draftTitle(QString::fromStdString(sample.title)), titleButton(new TitleButton),
      titleField(makeTitleField()) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(titleButton);
    layout->addWidget(titleField);
    layout->addStretch(1);
    connect(titleButton, &QAbstractButton::clicked, this, &BridgeSampleTitle::beginRenaming);
    titleField->hide();
    titleField->installEventFilter(this);
    connect(titleField, &QLineEdit::textEdited, this, [this](const QString& text) { draftTitle = text; });
    connect(titleField, &QLineEdit::returnPressed, this, &BridgeSampleTitle::submitTitle);
    refresh();
}

BridgeSampleTitle::~BridgeSampleTitle() {
    titleField->removeEventFilter(this);
}

void BridgeSampleTitle::setSample(const SampleItem& current) {
    const SampleItem previous = std::exchange(sample, current);
    if (current.id != previous.id) {
        draftTitle = QString::fromStdString(current.title);
        renaming = false;
    } else if (current.title != previous.title && !renaming) {
        draftTitle = QString::fromStdString(current.title);
    }
    refresh();
}

void BridgeSampleTitle::leaveField() {
    if (renaming && titleField->hasFocus())
        titleField->clearFocus();
}

void BridgeSampleTitle::refresh() {
    titleButton->setText(draftTitle);
    titleButton->updateGeometry();
    titleButton->setVisible(!renaming);
    titleField->setVisible(renaming);
    // The field takes the free room while it is shown; otherwise the spacer does.
    auto* row = static_cast<QHBoxLayout*>(layout());
    row->setStretch(fieldIndex, renaming ? 1 : 0);
    row->setStretch(spacerIndex, renaming ? 0 : 1);
}

void BridgeSampleTitle::beginRenaming() {
    draftTitle = QString::fromStdString(sample.title);
    renaming = true;
    titleField->setText(draftTitle);
    refresh();
    // Focus on the next turn, once the field is on screen.
    QTimer::singleShot(0, titleField, [field = titleField] { field->setFocus(Qt::OtherFocusReason); });
}

void BridgeSampleTitle::submitTitle() {
    if (!renaming || !finishRenaming())
        return;
    isTitleFocused = false;
    titleField->clearFocus();
    if (QWidget* focused = window()->focusWidget())
        focused->clearFocus();
    refresh();
}

void BridgeSampleTitle::titleFocusLost() {
    if (!isTitleFocused)
        return;
    isTitleFocused = false;
    if (renaming && finishRenaming())
        refresh();
}

// Commits the draft and leaves rename mode; false when committing took the card away.
bool BridgeSampleTitle::finishRenaming() {
    QPointer<BridgeSampleTitle> self(this);
    commitTitle();
    if (!self)
        return false;
    renaming = false;
    return true;
}

void BridgeSampleTitle::commitTitle() {
    const std::string trimmed = trimmedText(draftTitle.toStdString());
    if (trimmed.empty()) {
        draftTitle = QString::fromStdString(sample.title);
        return;
    }
    draftTitle = QString::fromStdString(trimmed);
    if (trimmed == sample.title)
        return;
    const SampleItem renamed = sample;
    model.renameSample(renamed, trimmed);
}

bool BridgeSampleTitle::eventFilter(QObject* watched, QEvent* event) {
    if (watched == titleField) {
        if (event->type() == QEvent::FocusIn) {
            isTitleFocused = true;
        } else if (event->type() == QEvent::FocusOut) {
            // A context menu or another application taking over keeps the field focused.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
                titleFocusLost();
        }
    }
    return QWidget::eventFilter(watched, event);
}
