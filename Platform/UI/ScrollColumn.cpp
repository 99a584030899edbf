#include "Platform/UI/ScrollColumn.h"

#include <QApplication>
#include <QFocusEvent>
#include <QPointer>
#include <QScrollBar>
#include <algorithm>

namespace vt::ui {

namespace {

constexpr const char* keepsFocusInViewProperty = "vtKeepsTabFocusInView";
// Room kept above or below a control scrolled into view, as a scroll area gives it on Tab.
constexpr int focusMargin = 50;

// Scrolls area by the least that shows control whole with its margin; a control taller than the
// view is centred.
void scrollIntoView(QAbstractScrollArea& area, QWidget& control) {
    QWidget* view = area.viewport();
    const QRect shown(control.mapTo(view, QPoint(0, 0)), control.size());
    if (view->rect().contains(shown))
        return;
    const int margin = std::min(focusMargin, view->height() / 4);
    const QRect wanted = shown.adjusted(0, -margin, 0, margin);
    QScrollBar* bar = area.verticalScrollBar();
    if (wanted.height() > view->height())
        bar->setValue(bar->value() + shown.center().y() - view->height() / 2);
    else if (wanted.bottom() > view->rect().bottom())
        bar->setValue(bar->value() + wanted.bottom() - view->rect().bottom());
    else if (wanted.top() < 0)
        bar->setValue(bar->value() + wanted.top());
}

// One filter serves every area: it sees the focus arrive wherever it comes from.
class TabFocusFollower final : public QObject {
public:
    static void install() {
        static QPointer<TabFocusFollower> instance;
        if (instance && instance->parent() == qApp)
            return;
        instance = new TabFocusFollower(qApp); // goes with the application
        qApp->installEventFilter(instance);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::FocusIn || !watched->isWidgetType())
            return false;
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason)
            return false;
        auto* control = static_cast<QWidget*>(watched);
        // The innermost area first, so that an outer one then shows the part that holds it.
        for (QWidget* above = control->parentWidget(); above; above = above->parentWidget()) {
            auto* area = qobject_cast<QAbstractScrollArea*>(above);
            if (area && area->property(keepsFocusInViewProperty).toBool() &&
                area->viewport()->isAncestorOf(control))
                scrollIntoView(*area, *control);
        }
        return false;
    }

private:
    using QObject::QObject;
};

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
    keepTabFocusInView(this);
}

QSize ScrollColumn::sizeHint() const {
    const QSize content = widget() ? widget()->sizeHint() : QSize();
    return {content.width() + verticalScrollBar()->sizeHint().width(), content.height()};
}

QSize ScrollColumn::minimumSizeHint() const {
    return {widget() ? widget()->minimumSizeHint().width() : 0, 0};
}

void keepTabFocusInView(QAbstractScrollArea* area) {
    area->setProperty(keepsFocusInViewProperty, true);
    TabFocusFollower::install();
}

} // namespace vt::ui
