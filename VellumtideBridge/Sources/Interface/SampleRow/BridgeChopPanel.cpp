#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeChopPanel.h"

#include "Platform/UI/Drawing.h"
#include "Platform/UI/FocusRing.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Glyphs.h"
#include "Platform/UI/Palette.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeChopRow.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeControls.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QSlider>
#include <algorithm>
#include <cmath>

using namespace vt::ui;

namespace {

constexpr int minimumTileWidth = 210;
constexpr int gridSpacing = 8;

// Tiles in as many equal columns of at least the minimum width as fit, rows as tall as their
// tallest tile.
class AdaptiveGridLayout final : public QLayout {
public:
    explicit AdaptiveGridLayout(QWidget* parent) : QLayout(parent) { setContentsMargins(0, 0, 0, 0); }
    ~AdaptiveGridLayout() override {
        while (QLayoutItem* item = takeAt(0))
            delete item;
    }

    void addItem(QLayoutItem* item) override { items.append(item); }
    int count() const override { return static_cast<int>(items.size()); }
    QLayoutItem* itemAt(int index) const override { return items.value(index); }
    QLayoutItem* takeAt(int index) override {
        return index >= 0 && index < items.size() ? items.takeAt(index) : nullptr;
    }
    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return place(QRect(0, 0, width, 0), false); }
    QSize sizeHint() const override { return QSize(minimumTileWidth, heightForWidth(minimumTileWidth)); }
    // The least height at any width: every tile in one row. The height a width needs comes from
    // heightForWidth(); a minimum of one tile per row would hold a wide list open below its end.
    QSize minimumSize() const override {
        int tallest = 0;
        for (const QLayoutItem* item : items)
            tallest = std::max(tallest, item->sizeHint().height());
        return QSize(0, tallest);
    }
    void setGeometry(const QRect& rect) override {
        QLayout::setGeometry(rect);
        place(rect, true);
    }

    static int columns(int width) {
        return std::max(1, (width + gridSpacing) / (minimumTileWidth + gridSpacing));
    }

private:
    // Lays the tiles out in rect (when apply) and returns the height they take.
    int place(const QRect& rect, bool apply) const {
        const int columnCount = columns(rect.width());
        const double columnWidth = (rect.width() - gridSpacing * (columnCount - 1)) / double(columnCount);
        int y = rect.top();
        for (int first = 0; first < items.size(); first += columnCount) {
            int rowHeight = 0;
            const int last = std::min<int>(first + columnCount, static_cast<int>(items.size()));
            for (int index = first; index < last; ++index)
                rowHeight = std::max(rowHeight, items[index]->sizeHint().height());
            for (int index = first; apply && index < last; ++index) {
                const int column = index - first;
                const int left =
                    rect.left() + static_cast<int>(std::lround(column * (columnWidth + gridSpacing)));
                const int right =
                    rect.left() +
                    static_cast<int>(std::lround(column * (columnWidth + gridSpacing) + columnWidth));
                items[index]->setGeometry(QRect(left, y, right - left, rowHeight));
            }
            y += rowHeight + (last < items.size() ? gridSpacing : 0);
        }
        return y - rect.top();
    }

    QList<QLayoutItem*> items;
};

QString chopButtonTitle(bool isChopping, bool hasChops) {
    if (isChopping)
        return QStringLiteral("Chopping");
    return hasChops ? QStringLiteral("Update Chops") : QStringLiteral("Find Chops");
}

} // namespace

BridgeChopPanel::BridgeChopPanel(BridgeViewModel& model, QWidget* parent)
    : QWidget(parent), model(model), slider(new bridgeui::DoubleSlider(palette::amber)),
      sensitivityLabel(new ElidedLabel({}, monospacedFont(10, FontWeight::bold), white(0.46))),
      button(new bridgeui::StyledButton(bridgeui::StyledButton::Style::prominent, palette::amber)),
      hint(new ElidedLabel({}, systemFont(10, FontWeight::medium), white(0.42))), grid(new QWidget),
      emptyText(
          makeText(QStringLiteral("Move sensitivity higher for more slices. Chops update when the slider "
                                  "settles or when you let go."),
                   systemFont(11, FontWeight::medium), white(0.42), true)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(9);
    buildHeader();
    new AdaptiveGridLayout(grid);
    grid->setObjectName("chopGrid");
    layout->addWidget(grid);

    emptyText->setContentsMargins(2, 0, 0, 0);
    emptyText->setObjectName("chopHint");
    layout->addWidget(emptyText);
}

void BridgeChopPanel::buildHeader() {
    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    static_cast<QVBoxLayout*>(layout())->addLayout(header);

    const QFont titleFont = monospacedFont(11, FontWeight::bold);
    const QString title = QStringLiteral("Auto Chop");
    const int titleWidth =
        static_cast<int>(std::ceil(QFontMetricsF(titleFont).horizontalAdvance(title))) + 18;
    header->addWidget(
        new PaintedView(QSize(titleWidth, 20), [titleFont, title](QPainter& painter, const QRectF& rect) {
            paintGlyphAndTitle(painter, rect, "waveform.path.ecg", 13, title, titleFont, palette::amber);
        }));

    slider->setRange(0, 1);
    slider->setFixedWidth(150);
    slider->setObjectName("chopSensitivitySlider");
    header->addWidget(slider);
    // The slider stays usable while a chop runs; what the user set meanwhile is chopped after it.
    connect(slider, &bridgeui::DoubleSlider::valueEdited, this, [this](double sensitivity) {
        isChopAfterRunWanted = isChopping || isChopAfterRunWanted;
        emit sensitivityEdited(sensitivity);
    });
    connect(slider, &bridgeui::DoubleSlider::editingStarted, this, &BridgeChopPanel::sliderEditingStarted);
    connect(slider, &bridgeui::DoubleSlider::editingEnded, this, [this] {
        if (isChopping) {
            isChopAfterRunWanted = true;
            return;
        }
        isChopAfterRunWanted = false;
        emit sliderEditingEnded();
    });

    sensitivityLabel->setFixedWidth(28);
    sensitivityLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    sensitivityLabel->setObjectName("chopSensitivityText");
    header->addWidget(sensitivityLabel);

    button->setLabelFont(systemFont(11, FontWeight::bold));
    button->setObjectName("chopButton");
    header->addWidget(button);
    connect(button, &QAbstractButton::clicked, this, &BridgeChopPanel::chopRequested);

    header->addStretch(1);
    hint->setObjectName("chopDragHint");
    header->addWidget(hint);
}

QString BridgeChopPanel::sensitivityText(double sensitivity) {
    const double shown = std::isnan(sensitivity) ? 0.0 : std::clamp(sensitivity, 0.0, 1.0);
    return QString::number(std::lround(shown * 100));
}

void BridgeChopPanel::refresh(const SampleItem& sample, double sensitivity) {
    isChopping = model.choppingSampleIDs().count(sample.id) > 0;
    const bool hasChops = !sample.chops.empty();
    const bool isDragging = slider->slider()->isSliderDown();
    if (!isDragging)
        slider->setValue(sensitivity);
    sensitivityLabel->setText(sensitivityText(sensitivity));
    button->setContent(chopButtonTitle(isChopping, hasChops), isChopping ? "hourglass" : "scissors");
    setEnabledKeepingFocus(button, !isChopping);
    hint->setText(hasChops ? QStringLiteral("Drag chops below or full take above")
                           : QStringLiteral("Drag full take above"));
    refreshChopArea(sample);
    if (!isChopping && !isDragging && isChopAfterRunWanted) {
        isChopAfterRunWanted = false;
        emit sliderEditingEnded();
    }
}

void BridgeChopPanel::refreshChopArea(const SampleItem& sample) {
    bool sameChops = rows.size() == sample.chops.size();
    for (std::size_t index = 0; sameChops && index < rows.size(); ++index)
        sameChops = rows[index]->chop().id == sample.chops[index].id;
    if (sameChops) {
        for (std::size_t index = 0; index < rows.size(); ++index)
            rows[index]->setSample(sample, sample.chops[index]);
    } else {
        for (BridgeChopRow* row : rows) {
            row->hide();
            grid->layout()->removeWidget(row);
            row->deleteLater();
        }
        rows.clear();
        QWidget* previous = button; // Tab goes from the chop button through the tiles in order
        for (const BridgeSampleChop& chop : sample.chops) {
            auto* row = new BridgeChopRow(model, sample, chop, palette::cyan, palette::amber, 64, grid);
            grid->layout()->addWidget(row);
            rows.push_back(row);
            QWidget::setTabOrder(previous, row);
            previous = row;
        }
    }
    grid->setVisible(!rows.empty());
    emptyText->setVisible(rows.empty());
}

void BridgeChopPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintCached(painter, QRectF(rect()), QStringLiteral("chopPanel"),
                [](QPainter& panel, const QRectF& rect) {
                    panel.setRenderHint(QPainter::Antialiasing);
                    panel.setPen(QPen(faded(palette::amber, 0.16), 1));
                    panel.setBrush(black(0.16));
                    panel.drawRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
                });
}
