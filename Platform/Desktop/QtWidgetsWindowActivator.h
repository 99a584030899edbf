#pragma once
// Brings one widget window to the front: shows it (also when it was never shown, as after a
// hidden start), restores it when minimised, raises and activates it.

#include "Platform/Desktop/DesktopServices.h"

#include <QPointer>
#include <QWidget>

namespace vt {

class QtWidgetsWindowActivator final : public WindowActivator {
public:
    void setWindow(QWidget* window) { window_ = window; }
    QWidget* window() const { return window_; }
    void activate() override;

private:
    QPointer<QWidget> window_;
};

} // namespace vt
