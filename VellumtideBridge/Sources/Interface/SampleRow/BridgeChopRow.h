#pragma once
// The tile of one chop in a sample card's chop panel: play glyph, the chop's name and time
// range, a playback clock, a drag glyph and a miniature of the chop's stretch of the sample. A
// click previews the chop through the controller; dragging the tile hands out its WAV file.

#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"
#include "VellumtideBridge/Sources/Interface/Waveform/WaveformView.h"

#include <QMimeData>
#include <QWidget>
#include <memory>

class BridgeChopRow : public QWidget {
    Q_OBJECT

public:
    BridgeChopRow(BridgeViewModel& model, SampleItem sample, BridgeSampleChop chop, QColor cyan, QColor amber,
                  double clockWidth, QWidget* parent = nullptr);

    const SampleItem& sample() const { return owner; }
    const BridgeSampleChop& chop() const { return slice; }
    void setSample(SampleItem sample, BridgeSampleChop chop);

    bool isPlaying() const;
    // "0.250s-1.500s"
    QString timeRangeText() const;
    // The playback clock while this chop plays, else "0.0s / 0.0s" (drawn invisible), in its fixed
    // frame at every width of the tile.
    QString clockText() const;
    // The range as the tile draws it: shortened with "…" when the clock leaves the name and the
    // range too little room.
    QString shownTimeRangeText() const;
    WaveformView::Input waveformInput() const;
    // The sample's title, "-", the chop's title and ".wav"; a long title is cut, never the rest.
    QString suggestedFileName() const;
    // What a drag of the tile offers, its file staged under suggestedFileName(); nothing when the
    // chop's file is missing.
    std::unique_ptr<QMimeData> dragData() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Geometry {
        QRectF playCircle;
        QRectF textLine;
        QRectF waveformStrip;
    };
    // Where the name, the range, the clock and the drag glyph stand on the text line. It depends on
    // the width and the texts only, never on whether the chop plays, so nothing moves when it
    // starts or stops.
    struct TextLine {
        QRectF name;
        QRectF range;
        QRectF clock;
        QRectF dragGlyph;
    };
    Geometry geometry() const;
    TextLine textLine(const QRectF& line) const;
    QString shownTimeRangeText(const TextLine& parts) const;
    static double textLineHeight();
    bool hitsTile(QPointF point) const;
    void paintTextLine(QPainter& painter, const QRectF& line) const;
    void modelChanged(BridgeViewModel::Field field);

    BridgeViewModel& model;
    SampleItem owner;
    BridgeSampleChop slice;
    QColor cyan;
    QColor amber;
    double clockWidth;
    std::optional<QPoint> pressPosition;
};
