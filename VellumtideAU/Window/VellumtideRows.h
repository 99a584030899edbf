#pragma once
// The library list's rows: one card per sample (preview, chop list switch, title, favourite and
// edit marks, waveform with the edit's range, info line with badges, load-to-pad) and one line
// per chop of an open sample. Both drag their audio file out of the window; every button calls
// an action the window supplies.

// moc needs none of the records, and its parser stumbles over the standard <compare>.
#ifndef Q_MOC_RUN
#include "VellumtideAU/LibraryReader/VellumtidePluginRecords.h"
#endif

#include <QColor>
#include <QPoint>
#include <QStringList>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <optional>

class ShorteningStrip;
namespace vt::ui {
class PaintedButton;
} // namespace vt::ui

// Dragging a sample's or chop's file out of the window.
namespace VellumtideDragOut {
// What a drag offers: the file, named by its own name without extension, and the sample (and
// chop) it belongs to, which its staged copy is filed under.
struct Item {
    std::filesystem::path file;
    QString suggestedName;
    vt::Uuid sampleID;
    std::optional<vt::Uuid> chopID;
};
// The file's item; nothing (no drag) when the file is missing.
std::optional<Item> item(bool isAvailable, const std::filesystem::path& audioURL, const vt::Uuid& sampleID,
                         const std::optional<vt::Uuid>& chopID = std::nullopt);
// True while a row's drag holds the pointer (the window does not rebuild its rows meanwhile).
bool isDragging();
} // namespace VellumtideDragOut

// Starts a drag of its item when the mouse moves far enough with the button held.
class VellumtideDraggableRow : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;
    virtual std::optional<VellumtideDragOut::Item> dragProvider() const = 0;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    // Removes the row's content widgets and layout so that it can be built again for a new item.
    void clearContent();

private:
    void startDrag();

    QPoint pressPosition;
    bool pressed = false;
};

class VellumtideAUSampleRow final : public VellumtideDraggableRow {
    Q_OBJECT

public:
    struct Actions {
        std::function<void()> play;
        std::function<void()> edit;
        std::function<void()> toggleChops;
        std::function<void()> loadToPad;
    };

    // Content 96 points high: title line, waveform and info line in 10 points of padding.
    static constexpr int rowHeight = 96;

    VellumtideAUSampleRow(VellumtidePluginSample sample, bool isPlaying, bool isExpanded, Actions actions,
                          QColor cyan, QColor amber, QWidget* parent = nullptr);

    // Shows another sample (or the same one changed) in the same widget.
    void setSample(VellumtidePluginSample sample, bool isPlaying, bool isExpanded);
    // Updates the preview button and the chop switch in place.
    void setState(bool isPlaying, bool isExpanded);
    void setActions(Actions actions) { this->actions = std::move(actions); }

    const VellumtidePluginSample& sample() const { return item; }
    bool playing() const { return isPlaying; }
    bool expanded() const { return isExpanded; }
    static std::optional<VellumtideDragOut::Item> dragProvider(const VellumtidePluginSample& sample);
    std::optional<VellumtideDragOut::Item> dragProvider() const override { return dragProvider(item); }

    vt::ui::PaintedButton* playButton() const { return play; }
    vt::ui::PaintedButton* loadButton() const { return load; }
    vt::ui::PaintedButton* chopToggle() const { return chops; } // none without chops
    // The texts of the badges in the info line, in order.
    QStringList infoBadges() const { return badgeTexts; }
    QStringList titleBadges() const { return titleBadgeTexts; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void build();
    void paintPlayButton();
    QWidget* makeTitleLine();
    QWidget* makeInfoLine();
    void addBadge(ShorteningStrip* strip, std::string_view symbol, const QString& text, const QColor& color);

    VellumtidePluginSample item;
    bool isPlaying;
    bool isExpanded;
    Actions actions;
    QColor cyan;
    QColor amber;
    vt::ui::PaintedButton* play = nullptr;
    vt::ui::PaintedButton* load = nullptr;
    vt::ui::PaintedButton* chops = nullptr;
    QStringList badgeTexts;
    QStringList titleBadgeTexts;
};

class VellumtideAUChopRow final : public VellumtideDraggableRow {
    Q_OBJECT

public:
    static constexpr int rowHeight = 38;

    VellumtideAUChopRow(VellumtidePluginSample sample, VellumtidePluginChop chop,
                        std::function<void()> loadToPad, QColor cyan, QColor amber,
                        QWidget* parent = nullptr);

    // Shows another chop (or the same one changed) in the same widget.
    void setChop(VellumtidePluginSample sample, VellumtidePluginChop chop);
    void setLoadToPadAction(std::function<void()> action) { loadToPad = std::move(action); }

    const VellumtidePluginChop& chop() const { return item; }
    const VellumtidePluginSample& parentSample() const { return sample; }
    std::optional<VellumtideDragOut::Item> dragProvider() const override;
    vt::ui::PaintedButton* loadButton() const { return load; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void build();

    VellumtidePluginSample sample;
    VellumtidePluginChop item;
    std::function<void()> loadToPad;
    QColor cyan;
    QColor amber;
    vt::ui::PaintedButton* load = nullptr;
};

// The round load-to-pad button of both rows (symbol at 0.78, or 0.25 when the file is missing).
vt::ui::PaintedButton* makeLoadToPadButton(double glyphSize, bool isAvailable, const QColor& cyan,
                                           const QString& help, std::function<void()> action,
                                           QWidget* parent);
