#pragma once
// The large waveform of the edit sheet: a sample's peaks with the working edit applied, and four
// small labels ("S", "E", "FI", "FO") that the user drags to set the start, end, fade-in and
// fade-out. Every drag step writes a new, sanitised edit and reports it through editChanged.

#include "Platform/UI/Palette.h"
#include "VellumtideBridge/Sources/Interface/Waveform/WaveformShapes.h"
#include "VellumtideBridge/Sources/Library/BridgeModels.h"

#include <QWidget>
#include <array>
#include <optional>
#include <vector>

class EditableWaveformView : public QWidget {
    Q_OBJECT

public:
    // The handles, in the order they are stacked (the later one lies on top).
    enum class EditHandle { start, end, fadeIn, fadeOut };

    // Positions for one strip width: the edit sanitised for the duration (at least 0.001 s) and
    // the x of each line and of the playhead.
    struct Layout {
        BridgeSampleEdit edit;
        double duration = 0.001;
        double end = 0;
        double startX = 0;
        double endX = 0;
        double fadeInX = 0;
        double fadeOutX = 0;
        double playheadX = 0;
    };

    struct Colors {
        QColor active = vt::ui::palette::cyan;
        QColor fade;
        QColor idle;
    };

    static constexpr int viewHeight = 126;
    static constexpr double handleWidth = 28;
    static constexpr double handleHeight = 18;
    static constexpr std::array<EditHandle, 4> handles{EditHandle::start, EditHandle::end, EditHandle::fadeIn,
                                                       EditHandle::fadeOut};

    EditableWaveformView(std::vector<float> peaks, double duration, BridgeSampleEdit edit,
                         double previewProgress, Colors colors, QWidget* parent = nullptr);

    const BridgeSampleEdit& edit() const { return boundEdit; }
    // Shows an edit given by the owner; reports nothing.
    void setEdit(const BridgeSampleEdit& edit);
    void setPreviewProgress(double progress);
    std::optional<EditHandle> activeHandle() const { return active; }

    static Layout layout(double duration, const BridgeSampleEdit& edit, double previewProgress, double width);
    // The label of a handle: 28 × 18 points centred on its line (kept 14 points inside the strip)
    // at 18 points from the top (trim handles) or from the bottom (fade handles).
    static QRectF handleRect(EditHandle handle, const Layout& layout, QSizeF size);
    static QString handleTitle(EditHandle handle);
    // The edit after a drag of handle to x in a strip of the given width.
    static BridgeSampleEdit draggedEdit(EditHandle handle, double x, double width, double duration,
                                        const BridgeSampleEdit& edit);
    static WaveformShapes shapes(const std::vector<float>& peaks, const Layout& layout,
                                 double previewProgress, const Colors& colors, QSizeF size);

signals:
    void editChanged(const BridgeSampleEdit& edit);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::optional<EditHandle> handleAt(QPointF point) const;
    void drag(EditHandle handle, double x);
    void paintHandle(QPainter& painter, EditHandle handle, const Layout& layout) const;

    std::vector<float> peaks;
    double duration;
    BridgeSampleEdit boundEdit;
    double previewProgress;
    Colors colors;
    std::optional<EditHandle> active;
};
