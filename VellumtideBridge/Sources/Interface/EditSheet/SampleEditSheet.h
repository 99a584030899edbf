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

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct State;
    std::unique_ptr<State> state;

    QLayout* buildHeader();
    QWidget* buildPreviewRow();
    QWidget* buildSliderPanel();
    QLayout* buildButtonRow();

    bool isBusy() const;
    BridgeSampleEdit sanitizedEdit() const;
    // Replaces the working edit; a change stops the preview and deletes its file.
    void setEdit(const BridgeSampleEdit& edit);
    void setStart(double value);
    void setEnd(double value);
    void setFadeIn(double value);
    void setFadeOut(double value);
    void setNormalize(bool on);
    void setDenoise(bool on);

    void refresh();
    void refreshSliders(const BridgeSampleEdit& sanitized);
    void togglePreview();
    void reset();
    void apply();
    void dismiss();
};
