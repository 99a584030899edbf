#pragma once
// A borderless, transparent vertical scroll area for a column of content: it asks for the whole
// height of its content (a parent that has less room makes it scroll), never takes the focus
// itself, and shows a thin light scroll bar only when the content does not fit.

#include <QScrollArea>

namespace vt::ui {

class ScrollColumn final : public QScrollArea {
    Q_OBJECT

public:
    explicit ScrollColumn(QWidget* content, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
};

} // namespace vt::ui
