// A stand-in for the sample row while its real card is not built: it shows the sample's title
// and keeps the sample it was given, which is all the samples pane relies on.
#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleRow.h"

#include <QLabel>
#include <QVBoxLayout>

struct BridgeSampleRow::State {
    SampleItem sample;
    QLabel* title = nullptr;
};

BridgeSampleRow::BridgeSampleRow(BridgeViewModel&, SampleItem sample, QWidget* parent)
    : QWidget(parent), state(std::make_unique<State>()) {
    auto* layout = new QVBoxLayout(this);
    state->title = new QLabel(QString::fromStdString(sample.title), this);
    state->title->setMinimumHeight(80);
    layout->addWidget(state->title);
    state->sample = std::move(sample);
}

BridgeSampleRow::~BridgeSampleRow() = default;

const SampleItem& BridgeSampleRow::sample() const {
    return state->sample;
}

void BridgeSampleRow::setSample(SampleItem sample) {
    state->title->setText(QString::fromStdString(sample.title));
    state->sample = std::move(sample);
}
