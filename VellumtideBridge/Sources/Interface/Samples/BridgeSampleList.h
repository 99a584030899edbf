#pragma once
// The scrolling list of sample rows. Rows are built lazily, as the list scrolls towards them,
// and each row belongs to its sample's id: a row whose sample stays in the list across a change
// keeps its state (open chop panel, half-typed title) and only receives the fresh copy.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QScrollArea>
#include <map>
#include <vector>

class BridgeSampleRow;
class QVBoxLayout;

class BridgeSampleList final : public QScrollArea {
public:
    explicit BridgeSampleList(BridgeViewModel& model, QWidget* parent = nullptr);

    void setSamples(std::vector<SampleItem> samples);
    const std::vector<SampleItem>& samples() const { return samples_; }

    // How many rows, from the top, have been built and laid out.
    std::size_t builtRowCount() const { return builtCount; }
    // The row of a sample when it has been built.
    BridgeSampleRow* rowFor(const vt::Uuid& id) const;
    // The laid-out rows, top to bottom.
    std::vector<BridgeSampleRow*> shownRows() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void relayout();
    // Builds rows below the last one until the content reaches a screen below the visible part.
    void buildRowsForViewport();
    void placeRowsInTabOrder();
    BridgeSampleRow* rowAt(std::size_t index);

    BridgeViewModel& model;
    QWidget* content;
    QVBoxLayout* column;
    std::vector<SampleItem> samples_;
    std::map<vt::Uuid, BridgeSampleRow*> rows;
    std::size_t builtCount = 0;
};
