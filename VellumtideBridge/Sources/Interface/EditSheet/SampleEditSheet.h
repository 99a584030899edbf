#pragma once
// The edit sheet of one sample: trim, fades, normalise and denoise on an editable waveform, a
// rendered preview of the edit, and Apply. The window shows it in a sheet overlay while the
// controller's editingSample is set; the sheet closes itself by clearing editingSample, and the
// window removes the overlay whenever editingSample becomes empty.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QWidget>

class SampleEditSheet : public QWidget {
    Q_OBJECT

public:
    SampleEditSheet(BridgeViewModel& model, SampleItem sample, QWidget* parent = nullptr);
    ~SampleEditSheet() override;

private:
    struct State;
    std::unique_ptr<State> state;
};
