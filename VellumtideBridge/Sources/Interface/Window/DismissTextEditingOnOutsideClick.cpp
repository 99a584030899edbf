#include "VellumtideBridge/Sources/Interface/Window/DismissTextEditingOnOutsideClick.h"

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTextEdit>

DismissTextEditingOnOutsideClick::DismissTextEditingOnOutsideClick(QWidget* watchedWindow)
    : QObject(watchedWindow), window(watchedWindow) {
    watchedWindow->installEventFilter(this);
    if (watchedWindow->isVisible())
        startMonitoring();
}

DismissTextEditingOnOutsideClick::~DismissTextEditingOnOutsideClick() {
    stopMonitoring();
}

bool DismissTextEditingOnOutsideClick::isTextInput(const QObject* object) {
    return qobject_cast<const QLineEdit*>(object) || qobject_cast<const QTextEdit*>(object) ||
           qobject_cast<const QPlainTextEdit*>(object);
}

void DismissTextEditingOnOutsideClick::startMonitoring() {
    if (monitoring)
        return;
    qApp->installEventFilter(this);
    monitoring = true;
}

void DismissTextEditingOnOutsideClick::stopMonitoring() {
    if (!monitoring)
        return;
    qApp->removeEventFilter(this);
    monitoring = false;
}

bool DismissTextEditingOnOutsideClick::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window) {
        if (event->type() == QEvent::Show)
            startMonitoring();
        else if (event->type() == QEvent::Hide)
            stopMonitoring();
    }
    if (event->type() == QEvent::MouseButtonPress && watched->isWidgetType() &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        handleClick(static_cast<QWidget*>(watched));
    return false; // the click is never consumed
}

void DismissTextEditingOnOutsideClick::handleClick(QWidget* target) {
    QWidget* clickedWindow = target->window();
    if (!clickedWindow || clickedWindow != QApplication::activeWindow())
        return;
    QWidget* focused = clickedWindow->focusWidget();
    if (!focused || !focused->hasFocus() || !isTextInput(focused))
        return;
    for (QWidget* hit = target; hit; hit = hit->parentWidget())
        if (isTextInput(hit))
            return;
    QPointer<QWidget> editing(focused);
    QPointer<QWidget> editingWindow(clickedWindow);
    QMetaObject::invokeMethod(
        this,
        [editing, editingWindow] {
            if (editing && editingWindow && editingWindow->focusWidget() == editing && editing->hasFocus())
                editing->clearFocus();
        },
        Qt::QueuedConnection);
}
