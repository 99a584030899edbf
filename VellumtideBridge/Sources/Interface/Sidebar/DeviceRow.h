#pragma once
// One discovered phone in the sidebar's phone list: its glyph, name and detail as one clickable
// row. The selected row has a lighter fill and a cyan outline; the list decides what a click does.

#include "VellumtideBridge/Sources/Library/VellumtideDevice.h"

#include <QAbstractButton>
#include <functional>

class DeviceRow final : public QAbstractButton {
public:
    DeviceRow(VellumtideDevice device, bool isSelected, std::function<void()> action, QColor cyan,
              QWidget* parent = nullptr);

    const VellumtideDevice& device() const { return device_; }
    bool isSelected() const { return selected; }
    void setSelected(bool isSelected);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    VellumtideDevice device_;
    bool selected;
    std::function<void()> action;
    QColor cyan;
};
