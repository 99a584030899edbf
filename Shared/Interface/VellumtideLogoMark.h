#pragma once
// The product mark: a disc in the accent colour with five rounded vertical bars, drawn at any
// diameter. Both windows' headers show it. Purely decorative, so hidden from accessibility.

#include <QColor>
#include <QRectF>
#include <QWidget>
#include <array>

class VellumtideLogoMark final : public QWidget {
public:
    VellumtideLogoMark(double diameter, QColor accent, QWidget* parent = nullptr);

    // Draws the mark into the rectangle (0, 0, width, height).
    static void paint(QPainter& painter, double width, double height, const QColor& accent);

    // The five bars' rectangles for a mark of the given size, left to right.
    static std::array<QRectF, 5> barRects(double width, double height);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor accent;
};
