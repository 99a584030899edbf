#include "Platform/UI/ScrollColumn.h"

#include <QScrollBar>

namespace vt::ui {

namespace {

QString scrollBarStyle() {
    return QStringLiteral(
        "QScrollArea { background: transparent; border: none; }"
        " QScrollBar:vertical { background: transparent; width: 6px; margin: 0; }"
        " QScrollBar::handle:vertical { background: rgba(255,255,255,50); border-radius: 3px;"
        " min-height: 24px; }"
        " QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        " QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }");
}

} // namespace

ScrollColumn::ScrollColumn(QWidget* content, QWidget* parent) : QScrollArea(parent) {
    setStyleSheet(scrollBarStyle());
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus); // the content's controls take the focus
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);
    setWidget(content);
    content->setAutoFillBackground(false); // setWidget() turns it on
}

QSize ScrollColumn::sizeHint() const {
    const QSize content = widget() ? widget()->sizeHint() : QSize();
    return {content.width() + verticalScrollBar()->sizeHint().width(), content.height()};
}

QSize ScrollColumn::minimumSizeHint() const {
    return {widget() ? widget()->minimumSizeHint().width() : 0, 0};
}

} // namespace vt::ui
