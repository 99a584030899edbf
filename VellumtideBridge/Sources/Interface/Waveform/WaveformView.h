#pragma once
// The read-only waveform strip of the sample and chop rows: a sample's peaks as rounded bars.
// Without an active edit the played bars take the active colour; with one, the strip shows what
// the edit does (kept range, fades, normalise gain, envelope) with the playhead in the kept range.

#include "Platform/UI/Palette.h"
#include "VellumtideBridge/Sources/Interface/Waveform/WaveformShapes.h"
#include "VellumtideBridge/Sources/Library/BridgeModels.h"

#include <QPixmap>
#include <QWidget>
#include <optional>
#include <vector>

class WaveformView : public QWidget {
    Q_OBJECT

public:
    // Everything the strip shows.
    struct Input {
        std::vector<float> peaks;
        std::optional<double> duration;
        std::optional<BridgeSampleEdit> edit;
        double progress = 0;
        QColor activeColor = vt::ui::palette::cyan;
        QColor idleColor = vt::ui::white(0.22);
        QColor fadeColor = vt::ui::palette::amber;
    };

    static constexpr int stripHeight = 38;

    explicit WaveformView(QWidget* parent = nullptr);

    const Input& input() const { return current; }
    void setInput(Input input);
    void setProgress(double progress);

    // The shapes for a strip of the given size, in painting order.
    static WaveformShapes shapes(const Input& input, QSizeF size);
    // Paints the strip into rect (its own height is the rect's).
    static void paint(QPainter& painter, const QRectF& rect, const Input& input);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static WaveformShapes rawShapes(QSizeF size, const std::vector<float>& values, const Input& input);
    static WaveformShapes editedShapes(QSizeF size, const std::vector<float>& values,
                                       const BridgeSampleEdit& edit, double duration, const Input& input);

    Input current;
    // The strip as last painted (a few hundred antialiased bars): painted again only when the
    // input or the size changes, not whenever the card around it is.
    QPixmap painted;
};
