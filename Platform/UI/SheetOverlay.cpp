#include "Platform/UI/SheetOverlay.h"

#include "Platform/UI/FocusRing.h"
#include "Platform/UI/Palette.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QPainter>
#include <QScrollArea>
#include <algorithm>

namespace vt::ui {

namespace {

constexpr int panelTopMargin = 28;
constexpr double dimOpacity = 0.45;

bool canTakeFocus(const QWidget* widget) {
    return widget && widget->isVisible() && widget->isEnabled() && widget->window() &&
           widget->window()->isVisible();
}

// A control Tab visits (not a resting place, a panel or a scroll area's viewport).
bool isTabStop(const QWidget* widget) {
    return widget && !widget->focusProxy() && (widget->focusPolicy() & Qt::TabFocus);
}

// The controls of container that Tab visits, in order, up to limit of them.
QList<QWidget*> tabStopsOf(const QWidget* container, qsizetype limit = -1) {
    QList<QWidget*> chain;
    QWidget* widget = container->nextInFocusChain();
    for (int guard = 0; widget && widget != container && chain.size() != limit && guard < 100000;
         ++guard, widget = widget->nextInFocusChain()) {
        if (container->isAncestorOf(widget) && isTabStop(widget) && widget->isVisibleTo(container) &&
            widget->isEnabled())
            chain.append(widget);
    }
    return chain;
}

// Scrolls every scroll area around widget so that it shows.
void revealInScrollAreas(QWidget* widget) {
    for (QWidget* parent = widget->parentWidget(); parent; parent = parent->parentWidget())
        if (auto* scroller = qobject_cast<QScrollArea*>(parent))
            scroller->ensureWidgetVisible(widget, 8, 8);
}

} // namespace

SheetOverlay* SheetOverlay::present(QWidget* host, QWidget* panel) {
    QWidget* focused = QApplication::focusWidget();
    auto* overlay = new SheetOverlay(host, panel);
    if (focused && focused->window() == host->window()) {
        // A control disabled while busy rests its focus on its parent: the control opened this.
        if (QWidget* resting = controlResting(focused)) {
            overlay->focusBefore = resting;
            overlay->focusBeforeShowedRing = restedWithRing(resting);
        } else {
            overlay->focusBefore = focused;
            overlay->focusBeforeShowedRing = isShowingFocusRing(focused);
        }
    }
    overlay->show();
    overlay->raise();
    refreshStack(host);
    overlay->focusEntry();
    return overlay;
}

SheetOverlay::SheetOverlay(QWidget* host, QWidget* panel) : QWidget(host), host(host), panel_(panel) {
    setAttribute(Qt::WA_StyledBackground, false);
    setFocusPolicy(Qt::NoFocus);
    panel->setParent(this);
    panel->show();
    panel->installEventFilter(this);
    host->installEventFilter(this);
    setGeometry(host->rect());
    layoutPanel();
    focusWatch = connect(qApp, &QApplication::focusChanged, this,
                         [this](QWidget*, QWidget* now) { keepFocusInside(now); });
}

// Focus moves while the widgets below are torn down: this overlay no longer follows it.
SheetOverlay::~SheetOverlay() {
    disconnect(focusWatch);
    isDismissed = true;
}

QList<SheetOverlay*> SheetOverlay::stackOf(const QWidget* host) {
    QList<SheetOverlay*> stack; // bottom first, as the host stacks its children
    if (!host)
        return stack;
    for (QObject* child : host->children())
        if (auto* overlay = qobject_cast<SheetOverlay*>(child); overlay && !overlay->isDismissed)
            stack.append(overlay);
    return stack;
}

SheetOverlay* SheetOverlay::topmost(const QWidget* host) {
    const QList<SheetOverlay*> stack = stackOf(host);
    return stack.isEmpty() ? nullptr : stack.last();
}

bool SheetOverlay::isTopmost() const {
    return !isDismissed && topmost(host) == this;
}

void SheetOverlay::refreshStack(const QWidget* host) {
    for (SheetOverlay* overlay : stackOf(host))
        overlay->update();
}

bool SheetOverlay::holds(const QWidget* widget) const {
    return widget && (widget == this || isAncestorOf(widget));
}

QList<QWidget*> SheetOverlay::tabChain() const {
    return tabStopsOf(this);
}

void SheetOverlay::focusEntry() {
    if (!panel_)
        return;
    if (panel_->focusProxy()) {
        panel_->setFocus(Qt::OtherFocusReason);
    } else if (holds(lastFocusInside) && canTakeFocus(lastFocusInside)) {
        lastFocusInside->setFocus(Qt::OtherFocusReason);
    } else if (const QList<QWidget*> chain = tabChain(); !chain.isEmpty()) {
        chain.first()->setFocus(Qt::OtherFocusReason);
    } else {
        panel_->setFocus(Qt::OtherFocusReason); // keys still reach nothing below
    }
}

// Focus that lands behind the topmost overlay, by a click, a program or the focus chain, is
// taken back into it.
void SheetOverlay::keepFocusInside(QWidget* now) {
    if (!now || !isTopmost() || now->window() != window())
        return;
    if (holds(now)) {
        lastFocusInside = now;
        return;
    }
    focusEntry();
}

bool SheetOverlay::focusNextPrevChild(bool next) {
    const QList<QWidget*> chain = tabChain();
    if (chain.isEmpty())
        return true;
    const qsizetype count = chain.size();
    const qsizetype current = chain.indexOf(QApplication::focusWidget());
    const qsizetype target =
        current < 0 ? (next ? 0 : count - 1) : (current + (next ? 1 : count - 1)) % count;
    chain[target]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    revealInScrollAreas(chain[target]);
    return true;
}

void SheetOverlay::dismiss() {
    if (isDismissed)
        return;
    const bool wasTopmost = isTopmost();
    isDismissed = true;
    if (host)
        host->removeEventFilter(this);
    hide();
    // Overlays above that remember a control of this one remember what this one remembered.
    for (SheetOverlay* other : stackOf(host))
        if (holds(other->focusBefore)) {
            other->focusBefore = focusBefore;
            other->focusBeforeShowedRing = focusBeforeShowedRing;
        }
    if (wasTopmost)
        restoreFocusAfterClosing();
    refreshStack(host);
    emit dismissed();
    deleteLater();
}

// Back to the control that had the focus when this overlay opened. When that control is gone or
// disabled now, the first control of the overlay still up below takes it, or with none the first
// control of the host; a ring shows where the opener showed one.
void SheetOverlay::restoreFocusAfterClosing() {
    SheetOverlay* below = topmost(host);
    const Qt::FocusReason reason = focusBeforeShowedRing ? Qt::OtherFocusReason : Qt::MouseFocusReason;
    QWidget* opener = focusBefore;
    if (isTabStop(opener) && canTakeFocus(opener) && (!below || below->holds(opener))) {
        opener->setFocus(reason);
    } else if (below) {
        below->focusFirstControl(reason);
    } else if (const QList<QWidget*> first = host ? tabStopsOf(host, 1) : QList<QWidget*>();
               !first.isEmpty()) {
        first.front()->setFocus(reason);
        revealInScrollAreas(first.front());
    }
}

void SheetOverlay::focusFirstControl(Qt::FocusReason reason) {
    if (!panel_)
        return;
    if (panel_->focusProxy()) {
        panel_->setFocus(reason);
    } else if (const QList<QWidget*> first = tabStopsOf(panel_, 1); !first.isEmpty()) {
        first.front()->setFocus(reason);
        revealInScrollAreas(first.front());
    } else {
        panel_->setFocus(reason);
    }
}

bool SheetOverlay::event(QEvent* event) {
    if (event->type() == QEvent::ZOrderChange)
        refreshStack(host);
    return QWidget::event(event);
}

bool SheetOverlay::eventFilter(QObject* watched, QEvent* event) {
    if (watched == host && event->type() == QEvent::Resize) {
        setGeometry(host->rect());
        layoutPanel();
    } else if (watched == panel_ && event->type() == QEvent::LayoutRequest) {
        // The content changed (a new text, a shown part): size the panel to it again.
        if (QLayout* layout = panel_->layout())
            layout->activate();
        layoutPanel();
    }
    return QWidget::eventFilter(watched, event);
}

void SheetOverlay::layoutPanel() {
    if (!panel_)
        return;
    const QSize hint = panel_->sizeHint().expandedTo(panel_->minimumSize());
    const int room = std::max(height() - 2 * panelTopMargin, 0);
    const int least = std::max(panel_->minimumSizeHint().height(), panel_->minimumHeight());
    const int panelHeight = std::min(std::max(std::min(hint.height(), room), least), height());
    const int panelWidth = std::max(std::min(hint.width(), width()), panel_->minimumWidth());
    const int x = std::max(0, (width() - panelWidth) / 2);
    const int y = std::min(panelTopMargin, std::max(0, (height() - panelHeight) / 2));
    panel_->setGeometry(x, y, panelWidth, panelHeight);
}

void SheetOverlay::paintEvent(QPaintEvent*) {
    if (!isTopmost())
        return; // the topmost overlay dims for the whole stack
    QPainter painter(this);
    painter.fillRect(rect(), black(dimOpacity));
}

void SheetOverlay::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && dismissOnEscape) {
        dismiss();
        return;
    }
    event->accept(); // keys the panel leaves reach nothing below
}

void SheetOverlay::mousePressEvent(QMouseEvent* event) {
    event->accept(); // clicks outside the panel reach nothing below
}

} // namespace vt::ui
