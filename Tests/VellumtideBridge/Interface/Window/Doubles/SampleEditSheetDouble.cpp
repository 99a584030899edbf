// A stand-in for the edit sheet while its real body is not built: a fixed-size panel.
#include "VellumtideBridge/Sources/Interface/EditSheet/SampleEditSheet.h"

#include <QLabel>
#include <QVBoxLayout>

struct SampleEditSheet::State {
    SampleItem sample;
};

SampleEditSheet::SampleEditSheet(BridgeViewModel&, SampleItem sample, QWidget* parent)
    : QWidget(parent), state(std::make_unique<State>()) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString::fromStdString(sample.title), this));
    setFixedSize(400, 300);
    state->sample = std::move(sample);
}

SampleEditSheet::~SampleEditSheet() = default;
