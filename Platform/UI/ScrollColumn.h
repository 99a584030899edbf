#pragma once
// A borderless, transparent vertical scroll area for a column of content: it asks for the whole
// height of its content (a parent that has less room makes it scroll), never takes the focus
// itself, shows a thin light scroll bar only when the content does not fit, and scrolls every
// control that Tab or Shift+Tab focuses into view.

#include <QScrollArea>

namespace vt::ui {

class ScrollColumn final : public QScrollArea {
    Q_OBJECT

public:
    explicit ScrollColumn(QWidget* content, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
};

// Scrolls area, vertically, so that a control inside it that takes the focus by Tab or Shift+Tab
// is shown whole, also when the focus comes into the area from outside it (where the area's own
// handling of Tab does not reach). Works for areas that scroll a content widget and for those that
// place their rows themselves on each scroll.
void keepTabFocusInView(QAbstractScrollArea* area);

} // namespace vt::ui
