#pragma once
// The small capsule labels of a sample card's info line: the "EDITED" mark and the analysis
// marks (chop count, analysing, tempo, root and key), each a glyph and a one-line text.

#include <QColor>
#include <QWidget>
#include <string>

class AnalysisBadge : public QWidget {
    Q_OBJECT

public:
    AnalysisBadge(const QString& label, std::string systemImage, const QColor& color,
                  QWidget* parent = nullptr);

    const QString& label() const { return text; }
    const std::string& systemImage() const { return symbol; }
    const QColor& color() const { return tint; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    AnalysisBadge(const QString& label, std::string systemImage, const QColor& color, double fillOpacity,
                  double strokeOpacity, QWidget* parent);
    void paintEvent(QPaintEvent* event) override;

private:
    QString text;
    std::string symbol;
    QColor tint;
    double fillOpacity;
    double strokeOpacity;
};

// The mark of a sample whose rendered edit is applied.
class EditedBadge : public AnalysisBadge {
    Q_OBJECT

public:
    explicit EditedBadge(const QColor& amber, QWidget* parent = nullptr);
};
