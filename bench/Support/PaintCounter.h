#pragma once
// Counts the paint events of every widget of the application while it exists.

#include <QApplication>
#include <QEvent>
#include <QObject>

namespace vt::bench {

class PaintCounter final : public QObject {
public:
    PaintCounter() { QApplication::instance()->installEventFilter(this); }
    ~PaintCounter() override { QApplication::instance()->removeEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace vt::bench
