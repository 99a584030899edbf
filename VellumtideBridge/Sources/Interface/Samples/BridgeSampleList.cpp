#include "VellumtideBridge/Sources/Interface/Samples/BridgeSampleList.h"

#include "Platform/UI/ScrollColumn.h"
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleRow.h"

#include <QResizeEvent>
#include <QScrollBar>
#include <QVBoxLayout>
#include <map>
#include <set>

namespace {

constexpr int rowSpacing = 10;
constexpr int bottomPadding = 18;

QString listStyle() {
    return QStringLiteral(
        "QScrollArea { background: transparent; border: none; }"
        " QScrollBar:vertical { background: transparent; width: 8px; margin: 0; }"
        " QScrollBar::handle:vertical { background: rgba(255,255,255,50); border-radius: 4px;"
        " min-height: 30px; }"
        " QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        " QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }");
}

} // namespace

BridgeSampleList::BridgeSampleList(BridgeViewModel& model, QWidget* parent)
    : QScrollArea(parent), model(model) {
    setObjectName(QStringLiteral("sampleList"));
    setStyleSheet(listStyle());
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus); // the cards' controls take the focus and scroll into view
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);
    content = new QWidget;
    content->setAutoFillBackground(false);
    column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, bottomPadding);
    column->setSpacing(rowSpacing);
    column->setAlignment(Qt::AlignTop);
    setWidget(content);
    content->setAutoFillBackground(false); // setWidget() turns it on
    vt::ui::keepTabFocusInView(this);      // also when Tab comes in from the sidebar
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { buildRowsForViewport(); });
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] { buildRowsForViewport(); });
}

BridgeSampleRow* BridgeSampleList::rowFor(const vt::Uuid& id) const {
    const auto found = rows.find(id);
    return found == rows.end() ? nullptr : found->second;
}

std::vector<BridgeSampleRow*> BridgeSampleList::shownRows() const {
    std::vector<BridgeSampleRow*> shown;
    for (std::size_t index = 0; index < builtCount; ++index)
        shown.push_back(rowFor(samples_[index].id));
    return shown;
}

void BridgeSampleList::setSamples(std::vector<SampleItem> samples) {
    samples_ = std::move(samples);
    std::set<vt::Uuid> ids;
    for (const SampleItem& sample : samples_)
        ids.insert(sample.id);
    for (auto entry = rows.begin(); entry != rows.end();) {
        if (ids.count(entry->first)) {
            ++entry;
            continue;
        }
        column->removeWidget(entry->second);
        entry->second->hide();
        entry->second->deleteLater(); // the row's own action may have removed its sample
        entry = rows.erase(entry);
    }
    for (const SampleItem& sample : samples_)
        if (BridgeSampleRow* row = rowFor(sample.id); row && !(row->sample() == sample))
            row->setSample(sample);
    builtCount = std::min(builtCount, samples_.size());
    relayout();
    buildRowsForViewport();
}

BridgeSampleRow* BridgeSampleList::rowAt(std::size_t index) {
    const SampleItem& sample = samples_[index];
    if (BridgeSampleRow* row = rowFor(sample.id))
        return row;
    auto* row = new BridgeSampleRow(model, sample, content);
    rows.emplace(sample.id, row);
    return row;
}

// Puts the built rows into the column in list order; rows of samples further down keep their
// state but stay out of the column until the list scrolls to them.
void BridgeSampleList::relayout() {
    while (column->count() > 0)
        delete column->takeAt(0);
    std::set<BridgeSampleRow*> laidOut;
    for (std::size_t index = 0; index < builtCount; ++index) {
        BridgeSampleRow* row = rowAt(index);
        column->addWidget(row);
        row->show();
        laidOut.insert(row);
    }
    for (auto& [id, row] : rows)
        if (!laidOut.count(row))
            row->hide();
    placeRowsInTabOrder();
}

void BridgeSampleList::buildRowsForViewport() {
    const int wanted = verticalScrollBar()->value() + 2 * std::max(viewport()->height(), 1);
    bool built = false;
    // An open chop panel's grid is as tall as the list's width makes it, not as its hint says.
    const auto columnHeight = [this] {
        const int width = viewport()->width();
        return column->hasHeightForWidth() ? column->heightForWidth(width) : column->sizeHint().height();
    };
    while (builtCount < samples_.size() && columnHeight() < wanted) {
        BridgeSampleRow* row = rowAt(builtCount);
        column->addWidget(row);
        row->show();
        ++builtCount;
        built = true;
    }
    if (built)
        placeRowsInTabOrder();
}

// A card made later (a new sample at the top, say) joins the window's focus chain at its end; Tab
// visits the cards in list order, right after the control before the list.
void BridgeSampleList::placeRowsInTabOrder() {
    QWidget* previous = previousInFocusChain();
    while (previous != this && (isAncestorOf(previous) || !(previous->focusPolicy() & Qt::TabFocus)))
        previous = previous->previousInFocusChain();
    if (previous == this)
        return;
    // Each card's controls, in the order the focus chain holds them now.
    std::map<const QWidget*, std::vector<QWidget*>> stopsOfCard;
    QWidget* const start = window();
    QWidget* widget = start;
    do {
        if (content->isAncestorOf(widget) && !widget->focusProxy() &&
            (widget->focusPolicy() & Qt::TabFocus)) {
            const QWidget* card = widget;
            while (card->parentWidget() != content)
                card = card->parentWidget();
            stopsOfCard[card].push_back(widget);
        }
        widget = widget->nextInFocusChain();
    } while (widget && widget != start);
    for (std::size_t index = 0; index < builtCount; ++index)
        for (QWidget* stop : stopsOfCard[rowFor(samples_[index].id)]) {
            QWidget::setTabOrder(previous, stop);
            previous = stop;
        }
}

void BridgeSampleList::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    buildRowsForViewport();
}
