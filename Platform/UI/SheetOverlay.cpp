#include "Platform/UI/SheetOverlay.h"

#include "Platform/UI/Palette.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPainter>

namespace vt::ui {

namespace {
constexpr int panelTopMargin = 28;
}

SheetOverlay* SheetOverlay::present(QWidget* host, QWidget* panel) {
    auto* overlay = new SheetOverlay(host, panel);
    overlay->show();
    overlay->raise();
    panel->setFocus(Qt::OtherFocusReason);
    return overlay;
}

SheetOverlay::SheetOverlay(QWidget* host, QWidget* panel) : QWidget(host), panel_(panel) {
    setAttribute(Qt::WA_StyledBackground, false);
    setFocusPolicy(Qt::StrongFocus);
    panel->setParent(this);
    panel->show();
    host->installEventFilter(this);
    setGeometry(host->rect());
    layoutPanel();
}

void SheetOverlay::dismiss() {
    if (isDismissed)
        return;
    isDismissed = true;
    if (parentWidget())
        parentWidget()->removeEventFilter(this);
    hide();
    emit dismissed();
    deleteLater();
}

bool SheetOverlay::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) {
        setGeometry(parentWidget()->rect());
        layoutPanel();
    }
    return QWidget::eventFilter(watched, event);
}

void SheetOverlay::layoutPanel() {
    if (!panel_)
        return;
    const QSize wanted = panel_->sizeHint().expandedTo(panel_->minimumSize()).boundedTo(size());
    const int x = (width() - wanted.width()) / 2;
    const int y = std::min(panelTopMargin, std::max(0, height() - wanted.height()));
    panel_->setGeometry(x, y, wanted.width(), wanted.height());
}

void SheetOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), black(0.45));
}

void SheetOverlay::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && dismissOnEscape) {
        dismiss();
        return;
    }
    event->accept();
}

void SheetOverlay::mousePressEvent(QMouseEvent* event) {
    event->accept(); // clicks outside the panel reach nothing below
}

} // namespace vt::ui
