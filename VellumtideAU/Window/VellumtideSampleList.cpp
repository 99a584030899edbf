#include "VellumtideAU/Window/VellumtideSampleList.h"

#include "Platform/UI/ScrollColumn.h"
#include "VellumtideAU/Window/VellumtideRows.h"

#include <QResizeEvent>
#include <QScrollBar>
#include <algorithm>

namespace {

constexpr int overscan = 160; // rows built beyond the visible edges, so a short scroll shows rows at once
constexpr std::size_t spareRows = 12; // rows of each kind kept hidden for reuse

template <typename Row> std::vector<Row*> topToBottom(std::vector<Row*> rows) {
    std::sort(rows.begin(), rows.end(), [](Row* a, Row* b) { return a->y() < b->y(); });
    return rows;
}

} // namespace

VellumtideSampleList::VellumtideSampleList(Actions actions, QColor cyan, QColor amber, QWidget* parent)
    : QAbstractScrollArea(parent), actions(std::move(actions)), cyan(cyan), amber(amber) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(24);
    vt::ui::keepTabFocusInView(this);
}

void VellumtideSampleList::setSamples(SharedSamples all,
                                      const std::function<bool(const VellumtidePluginSample&)>& keep) {
    listed.clear();
    listed.reserve(all->size());
    for (const auto& sample : *all)
        if (!keep || keep(sample))
            listed.push_back(&sample);
    source = std::move(all);
    rebuildEntries();
    placeRows();
}

void VellumtideSampleList::setState(std::optional<vt::Uuid> nowPlaying,
                                    const std::set<vt::Uuid>& nowExpanded) {
    const bool layoutChanged = nowExpanded != expanded;
    playing = nowPlaying;
    if (layoutChanged) {
        expanded = nowExpanded;
        rebuildEntries();
    }
    placeRows();
}

// The heights are known without building rows: every card and every chop line has a fixed height.
void VellumtideSampleList::rebuildEntries() {
    entries.clear();
    entries.reserve(listed.size());
    int y = margin;
    for (std::size_t index = 0; index < listed.size(); ++index) {
        if (index > 0)
            y += groupSpacing;
        entries.push_back({index, std::nullopt, y, VellumtideAUSampleRow::rowHeight});
        y += VellumtideAUSampleRow::rowHeight;
        // With no chop list open the samples themselves are not looked at: a long list stays cheap.
        if (expanded.empty() || !expanded.contains(listed[index]->id))
            continue;
        const auto& sample = *listed[index];
        for (std::size_t chop = 0; chop < sample.chops.size(); ++chop) {
            y += chop == 0 ? chopsSpacing : chopSpacing;
            entries.push_back({index, chop, y, VellumtideAUChopRow::rowHeight});
            y += VellumtideAUChopRow::rowHeight;
        }
    }
    totalHeight = y + margin;
    verticalScrollBar()->setRange(0, std::max(0, totalHeight - viewport()->height()));
    verticalScrollBar()->setPageStep(viewport()->height());
}

void VellumtideSampleList::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    verticalScrollBar()->setRange(0, std::max(0, totalHeight - viewport()->height()));
    verticalScrollBar()->setPageStep(viewport()->height());
    placeRows();
}

void VellumtideSampleList::scrollContentsBy(int, int) {
    placeRows();
}

void VellumtideSampleList::placeRows() {
    const int offset = verticalScrollBar()->value();
    const int visibleTop = offset - overscan;
    const int visibleBottom = offset + viewport()->height() + overscan;
    const int width = std::max(0, viewport()->width() - 2 * margin);
    auto previousSamples = std::exchange(shownSamples, {});
    auto previousChops = std::exchange(shownChops, {});
    auto first = std::partition_point(entries.begin(), entries.end(), [visibleTop](const Entry& entry) {
        return entry.top + entry.height <= visibleTop;
    });
    for (auto entry = first; entry != entries.end() && entry->top < visibleBottom; ++entry) {
        const auto& sample = *listed[entry->sample];
        QWidget* row = nullptr;
        int indent = 0;
        if (entry->chop) {
            row = chopRowFor(sample, sample.chops[*entry->chop], previousChops);
            indent = chopIndent;
        } else {
            row = sampleRowFor(sample, previousSamples);
        }
        row->setGeometry(margin + indent, entry->top - offset, std::max(0, width - indent), entry->height);
        row->show();
    }
    retire(previousSamples, previousChops);
}

VellumtideAUSampleRow* VellumtideSampleList::sampleRowFor(const VellumtidePluginSample& sample,
                                                          SampleRowMap& previous) {
    const bool isPlaying = playing == sample.id;
    const bool isExpanded = expanded.contains(sample.id);
    VellumtideAUSampleRow* row = nullptr;
    if (auto kept = previous.find(sample.id); kept != previous.end()) {
        row = kept->second;
        previous.erase(kept);
    } else if (!spareSamples.empty()) {
        row = spareSamples.back();
        spareSamples.pop_back();
    }
    if (!row) {
        row = new VellumtideAUSampleRow(sample, isPlaying, isExpanded, {}, cyan, amber, viewport());
        // The actions act on what the row shows when it is pressed, whichever sample that is by then.
        auto current = [row] { return row->sample(); };
        row->setActions({[this, current] { actions.play(current()); },
                         [this, current] { actions.edit(current()); },
                         [this, current] { actions.toggleChops(current()); },
                         [this, current] { actions.loadSample(current()); }});
    } else if (!(row->sample() == sample)) {
        row->setSample(sample, isPlaying, isExpanded);
    } else {
        row->setState(isPlaying, isExpanded);
    }
    shownSamples.emplace(sample.id, row);
    return row;
}

VellumtideAUChopRow* VellumtideSampleList::chopRowFor(const VellumtidePluginSample& sample,
                                                      const VellumtidePluginChop& chop,
                                                      ChopRowMap& previous) {
    const ChopKey key{sample.id, chop.id};
    VellumtideAUChopRow* row = nullptr;
    if (auto kept = previous.find(key); kept != previous.end()) {
        row = kept->second;
        previous.erase(kept);
    } else if (!spareChops.empty()) {
        row = spareChops.back();
        spareChops.pop_back();
    }
    if (!row) {
        row = new VellumtideAUChopRow(sample, chop, {}, cyan, amber, viewport());
        row->setLoadToPadAction([this, row] {
            auto chopShown = row->chop();
            auto parent = row->parentSample();
            actions.loadChop(chopShown, parent);
        });
    } else if (!(row->chop() == chop && row->parentSample() == sample)) {
        row->setChop(sample, chop);
    }
    shownChops.emplace(key, row);
    return row;
}

// Rows that left the view wait hidden for reuse; beyond a few they go, but never while a row's
// drag runs (the dragged row may be among them).
void VellumtideSampleList::retire(SampleRowMap& samples, ChopRowMap& chops) {
    auto park = [](auto& rows, auto& spare) {
        for (auto& [key, row] : rows) {
            row->hide();
            spare.push_back(row);
        }
        if (VellumtideDragOut::isDragging())
            return;
        while (spare.size() > spareRows) {
            spare.back()->deleteLater();
            spare.pop_back();
        }
    };
    park(samples, spareSamples);
    park(chops, spareChops);
}

std::vector<VellumtideAUSampleRow*> VellumtideSampleList::sampleRows() const {
    std::vector<VellumtideAUSampleRow*> rows;
    for (const auto& [id, row] : shownSamples)
        rows.push_back(row);
    return topToBottom(std::move(rows));
}

std::vector<VellumtideAUChopRow*> VellumtideSampleList::chopRows() const {
    std::vector<VellumtideAUChopRow*> rows;
    for (const auto& [key, row] : shownChops)
        rows.push_back(row);
    return topToBottom(std::move(rows));
}

int VellumtideSampleList::rowWidgetCount() const {
    return int(viewport()->findChildren<VellumtideDraggableRow*>(Qt::FindDirectChildrenOnly).size());
}
