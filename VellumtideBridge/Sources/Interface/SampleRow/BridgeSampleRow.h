#pragma once
// One sample of the window's list, drawn as a card: play button, waveform, title with rename,
// info line and badges, favourite, edit, delete, the chop switch with its chop panel, and
// drag-out of the sample's file. It reads and calls the controller directly; its parts live in
// files of their own (title, info line, chop switch, delete confirmation).

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <QWidget>

class BridgeSampleRow : public QWidget {
    Q_OBJECT

public:
    BridgeSampleRow(BridgeViewModel& model, SampleItem sample, QWidget* parent = nullptr);
    ~BridgeSampleRow() override;

    const SampleItem& sample() const;
    // The list hands the row the sample's fresh copy whenever the display list changes.
    void setSample(SampleItem sample);

protected:
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct State;
    std::unique_ptr<State> state;

    void buildTopLine();
    QWidget* buildTitleLine();
    void modelChanged(BridgeViewModel::Field field);

    bool isPlaying() const;
    bool isEditActive() const;
    void refresh();
    void refreshPlayback();

    void confirmDelete();
};
