#include "Platform/Desktop/QtWidgetsWindowActivator.h"

namespace vt {

void QtWidgetsWindowActivator::activate() {
    if (!window_)
        return;
    if (window_->isMinimized())
        window_->showNormal();
    else
        window_->show();
    window_->raise();
    window_->activateWindow();
}

} // namespace vt
