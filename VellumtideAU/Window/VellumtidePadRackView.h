#pragma once
// The pad rack: the kit's 16 pads as two rows of eight buttons (note name, number or play mark,
// title, miniature waveform), and the selected pad's line with its volume and pitch sliders.
// It keeps no state of its own: everything is read from the pad kit controller and the playing
// slot, and it changes the controller only by selecting pads and setting volume and pitch.

#include "VellumtideAU/Window/VellumtidePadKitController.h"

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

namespace vt::ui {
class ElidedLabel;
} // namespace vt::ui
class QHBoxLayout;
class QVBoxLayout;
class QSlider;
class VellumtidePadTinyWaveform;

// One pad of the rack.
class VellumtidePadButton final : public QAbstractButton {
    Q_OBJECT

public:
    VellumtidePadButton(std::int64_t slot, QString noteLabel, QWidget* parent = nullptr);
    void setContent(std::optional<VellumtidePadAssignment> assignment, bool isSelected, bool isPlaying);

    std::int64_t slot() const { return slotIndex; }
    bool isSelected() const { return selected; }
    bool isPlaying() const { return playing; }
    const std::optional<VellumtidePadAssignment>& assignment() const { return content; }
    QSize sizeHint() const override { return {60, 52}; }
    // As narrow as the top line allows: the note name and the pad number or play mark side by side.
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::int64_t slotIndex;
    QString noteLabel;
    std::optional<VellumtidePadAssignment> content;
    bool selected = false;
    bool playing = false;
    VellumtidePadTinyWaveform* waveform;
};

class VellumtidePadRackView final : public QWidget {
    Q_OBJECT

public:
    static const std::array<const char*, 16> noteLabels;
    static constexpr double volumeSliderMaximum = 1.25;
    static constexpr double pitchSliderRange = 12;

    VellumtidePadRackView(VellumtidePadKitController* controller,
                          std::function<void(std::int64_t)> previewAction, QWidget* parent = nullptr);

    void setPlayingSlot(std::optional<std::int64_t> slot);
    std::optional<std::int64_t> playingSlot() const { return playing; }

    VellumtidePadButton* padButton(std::int64_t slot) const { return pads.at(std::size_t(slot)); }
    QSlider* volumeSlider() const { return volume; }
    QSlider* pitchSlider() const { return pitch; }
    QString selectedPadTitle() const;
    QString selectedPadNumber() const;
    QString pitchText() const;
    QWidget* padGrid() const { return grid; }
    // True while the sliders sit on a line of their own under the pad's title.
    bool isTuningStacked() const { return tuningStacked; }

    // "%+.1f": +0.0, -3.5, +12.0.
    static QString formattedPitch(double semitones);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makePadGrid();
    void arrangeTuning();
    QWidget* makeSelectedPadControls();
    void tap(std::int64_t slot);
    void refresh();
    void refreshSelectedPadControls();

    QPointer<VellumtidePadKitController> controller;
    std::function<void(std::int64_t)> previewAction;
    std::optional<std::int64_t> playing;
    std::array<VellumtidePadButton*, 16> pads{};
    vt::ui::ElidedLabel* padNumber = nullptr;
    vt::ui::ElidedLabel* padTitle = nullptr;
    QWidget* grid = nullptr;
    QVBoxLayout* selectedPadLines = nullptr; // the title line, and the sliders' line when stacked
    QHBoxLayout* selectedPadRow = nullptr;
    QWidget* tuning = nullptr;
    bool tuningStacked = false;
    QSlider* volume = nullptr;
    QSlider* pitch = nullptr;
    vt::ui::ElidedLabel* pitchValue = nullptr;
};
