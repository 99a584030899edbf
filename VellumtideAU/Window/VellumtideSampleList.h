#pragma once
// The library list of the plug-in window: one card per listed sample and, under an open sample,
// one line per chop. Only the rows in view (and a little beyond) exist as widgets: a row keeps
// its widget while it stays in view and is updated in place, and rows leaving the view are
// reused for those entering it, so a list of any length costs the same to show and to change.

#ifndef Q_MOC_RUN
#include "VellumtideAU/LibraryReader/VellumtidePluginRecords.h"
#endif

#include <QAbstractScrollArea>
#include <QColor>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

class VellumtideAUSampleRow;
class VellumtideAUChopRow;

class VellumtideSampleList final : public QAbstractScrollArea {
    Q_OBJECT

public:
    struct Actions {
        std::function<void(const VellumtidePluginSample&)> play;
        std::function<void(const VellumtidePluginSample&)> edit;
        std::function<void(const VellumtidePluginSample&)> toggleChops;
        std::function<void(const VellumtidePluginSample&)> loadSample;
        std::function<void(const VellumtidePluginChop&, const VellumtidePluginSample&)> loadChop;
    };

    static constexpr int margin = 14;      // around the list
    static constexpr int groupSpacing = 9; // between one sample (with its chops) and the next
    static constexpr int chopsSpacing = 7; // between a sample card and its first chop
    static constexpr int chopSpacing = 6;  // between chop lines
    static constexpr int chopIndent = 46;  // leading space of the chop lines

    VellumtideSampleList(Actions actions, QColor cyan, QColor amber, QWidget* parent = nullptr);

    using SharedSamples = std::shared_ptr<const std::vector<VellumtidePluginSample>>;

    // The samples to list, in order: all of the shared list, or those that keep accepts; rows
    // showing them are updated in place. The list holds the shared one, never a copy.
    void setSamples(SharedSamples all, const std::function<bool(const VellumtidePluginSample&)>& keep = {});
    // The sample whose preview plays and the samples whose chops show.
    void setState(std::optional<vt::Uuid> playing, const std::set<vt::Uuid>& expanded);

    const std::vector<const VellumtidePluginSample*>& samples() const { return listed; }
    // The rows that exist now, top to bottom.
    std::vector<VellumtideAUSampleRow*> sampleRows() const;
    std::vector<VellumtideAUChopRow*> chopRows() const;
    // All row widgets the list holds, shown and spare.
    int rowWidgetCount() const;
    // The height of the whole list, as if every row existed.
    int contentHeight() const { return totalHeight; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // One line of the list: a sample card, or the chop of a sample.
    struct Entry {
        std::size_t sample;
        std::optional<std::size_t> chop;
        int top;
        int height;
    };
    using ChopKey = std::pair<vt::Uuid, vt::Uuid>; // sample, chop
    // Multimaps: a library that lists one id twice still gets one row per entry.
    using SampleRowMap = std::unordered_multimap<vt::Uuid, VellumtideAUSampleRow*>;
    using ChopRowMap = std::multimap<ChopKey, VellumtideAUChopRow*>;

    void rebuildEntries();
    void placeRows();
    VellumtideAUSampleRow* sampleRowFor(const VellumtidePluginSample& sample, SampleRowMap& previous);
    VellumtideAUChopRow* chopRowFor(const VellumtidePluginSample& sample, const VellumtidePluginChop& chop,
                                    ChopRowMap& previous);
    void retire(SampleRowMap& samples, ChopRowMap& chops);

    Actions actions;
    QColor cyan;
    QColor amber;
    SharedSamples source;
    std::vector<const VellumtidePluginSample*> listed; // into source
    std::optional<vt::Uuid> playing;
    std::set<vt::Uuid> expanded;
    std::vector<Entry> entries;
    int totalHeight = 0;
    SampleRowMap shownSamples;
    ChopRowMap shownChops;
    std::vector<VellumtideAUSampleRow*> spareSamples;
    std::vector<VellumtideAUChopRow*> spareChops;
};
