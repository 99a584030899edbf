#include "Platform/UI/FocusRing.h"

#include "Platform/UI/Palette.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QHash>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QVariant>
#include <algorithm>

namespace vt::ui {

namespace {

constexpr double ringWidth = 2;
constexpr double haloWidth = 1.5;
constexpr const char* radiusProperty = "vtFocusRingRadius";
constexpr const char* insetProperty = "vtFocusRingInset";
constexpr const char* visibleProperty = "vtFocusRingVisible";
constexpr const char* parkedProperty = "vtFocusParkedWithRing";

// One filter serves every control: it paints the ring after the control has painted itself.
class FocusRingPainter final : public QObject {
public:
    static FocusRingPainter& shared() {
        static auto* instance = new FocusRingPainter;
        return *instance;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = static_cast<QWidget*>(watched);
        switch (event->type()) {
        case QEvent::FocusIn:
            widget->setProperty(visibleProperty,
                                static_cast<QFocusEvent*>(event)->reason() != Qt::MouseFocusReason);
            widget->update();
            break;
        case QEvent::FocusOut:
            widget->setProperty(visibleProperty, false);
            widget->update();
            break;
        case QEvent::Paint:
            if (widget == paintingControl || !isShowingFocusRing(widget))
                break;
            paintingControl = widget; // the control paints itself first, undisturbed
            QCoreApplication::sendEvent(watched, event);
            paintingControl = nullptr;
            paintRing(widget);
            return true;
        default:
            break;
        }
        return false;
    }

private:
    QWidget* paintingControl = nullptr;

    static void paintRing(QWidget* widget) {
        const QVariantList margins = widget->property(insetProperty).toList();
        const QMargins inset = margins.size() == 4 ? QMargins(margins[0].toInt(), margins[1].toInt(),
                                                              margins[2].toInt(), margins[3].toInt())
                                                   : QMargins();
        const QRectF area = QRectF(widget->rect().marginsRemoved(inset))
                                .adjusted(ringWidth / 2, ringWidth / 2, -ringWidth / 2, -ringWidth / 2);
        double radius = widget->property(radiusProperty).toDouble();
        if (radius < 0)
            radius = std::min(area.width(), area.height()) / 2;
        QPainter painter(widget);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(palette::cyan, ringWidth));
        painter.drawRoundedRect(area, radius, radius);
        // A dark line inside the ring keeps it apart from a control filled with the same colour.
        const double gap = ringWidth / 2 + haloWidth / 2;
        const QRectF inner = area.adjusted(gap, gap, -gap, -gap);
        const double innerRadius = std::max(radius - gap, 0.0);
        painter.setPen(QPen(withOpacity(palette::background, 0.9), haloWidth));
        painter.drawRoundedRect(inner, innerRadius, innerRadius);
    }
};

// Clicks the focused button on Return or Enter, as Space does.
class ReturnActivator final : public QObject {
public:
    static ReturnActivator& shared() {
        static auto* instance = new ReturnActivator;
        return *instance;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier))
            return false;
        auto* button = static_cast<QAbstractButton*>(watched);
        if (!button->isEnabled())
            return false;
        if (!key->isAutoRepeat())
            button->click();
        return true;
    }
};

// Gives a ring to each control of the watched windows that takes the focus without one.
class DefaultFocusRings final : public QObject {
public:
    static DefaultFocusRings& shared() {
        static auto* instance = [] {
            auto* rings = new DefaultFocusRings;
            qApp->installEventFilter(rings); // runs before the control's own filters
            return rings;
        }();
        return *instance;
    }
    void watch(QWidget* window, double radius) {
        windows.insert(window, radius);
        connect(window, &QObject::destroyed, this, [this, window] { windows.remove(window); });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::FocusIn || !watched->isWidgetType())
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        const auto window = windows.constFind(widget->window());
        if (window == windows.cend() || widget->property(radiusProperty).isValid() ||
            qobject_cast<QLineEdit*>(widget) || qobject_cast<QAbstractScrollArea*>(widget))
            return false;
        showFocusRing(widget, window.value());
        return false;
    }

private:
    QHash<QWidget*, double> windows;
};

} // namespace

void showFocusRingsThroughout(QWidget* window, double cornerRadius) {
    DefaultFocusRings::shared().watch(window, cornerRadius);
}

void showFocusRing(QWidget* widget, double cornerRadius, QMargins inset) {
    widget->setProperty(radiusProperty, cornerRadius);
    widget->setProperty(insetProperty,
                        QVariantList{inset.left(), inset.top(), inset.right(), inset.bottom()});
    widget->removeEventFilter(&FocusRingPainter::shared());
    widget->installEventFilter(&FocusRingPainter::shared());
}

bool isShowingFocusRing(const QWidget* widget) {
    return widget->hasFocus() && widget->property(visibleProperty).toBool();
}

void setEnabledKeepingFocus(QWidget* control, bool enabled) {
    QWidget* parent = control->parentWidget();
    if (!enabled && control->isEnabled() && control->hasFocus() && parent) {
        control->setProperty(parkedProperty, isShowingFocusRing(control));
        parent->setFocus(Qt::MouseFocusReason); // a resting place that shows no ring
    }
    control->setEnabled(enabled);
    const QVariant parked = control->property(parkedProperty);
    if (!enabled || !parked.isValid())
        return;
    control->setProperty(parkedProperty, QVariant());
    if (parent && parent->hasFocus() && control->isVisible())
        control->setFocus(parked.toBool() ? Qt::OtherFocusReason : Qt::MouseFocusReason);
}

QWidget* controlResting(const QWidget* place) {
    if (!place)
        return nullptr;
    for (QWidget* child : place->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (child->property(parkedProperty).isValid())
            return child;
    return nullptr;
}

bool restedWithRing(const QWidget* control) {
    return control->property(parkedProperty).toBool();
}

void activateOnReturn(QAbstractButton* button) {
    button->removeEventFilter(&ReturnActivator::shared());
    button->installEventFilter(&ReturnActivator::shared());
}

} // namespace vt::ui
