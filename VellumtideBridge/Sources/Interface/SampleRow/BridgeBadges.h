#pragma once
// The small capsule labels of a sample card's info line: the "EDITED" mark and the analysis
// marks (chop count, analysing, tempo, root and key), each a glyph and a one-line text.

#include "Platform/UI/CapsuleBadge.h"

#include <QColor>
#include <string>

class AnalysisBadge : public vt::ui::CapsuleBadge {
    Q_OBJECT

public:
    AnalysisBadge(const QString& label, std::string systemImage, const QColor& color,
                  QWidget* parent = nullptr);

protected:
    AnalysisBadge(const QString& label, std::string systemImage, const QColor& color, double fillOpacity,
                  double strokeOpacity, QWidget* parent);
};

// The mark of a sample whose rendered edit is applied.
class EditedBadge : public AnalysisBadge {
    Q_OBJECT

public:
    explicit EditedBadge(const QColor& amber, QWidget* parent = nullptr);
};
