#pragma once
// An in-window modal sheet: a layer over the whole host window that blocks clicks and keys to
// the content below and shows one panel centred near the top. Overlays stack: only the topmost
// one dims what lies below it (one dim layer however many are stacked), keyboard focus cannot
// leave it and Tab and Backtab cycle through its controls. It remembers where focus was when it
// opened and puts it back when it closes (or, when that control is disabled or gone, on the first
// control of what lies below). The panel is laid out again whenever its content
// changes; a panel taller than the window is given the window's height (it scrolls its own
// body). dismiss() (or Escape, unless disabled) removes overlay and panel and emits dismissed.

#include <QColor>
#include <QPointer>
#include <QWidget>

namespace vt::ui {

class SheetOverlay final : public QWidget {
    Q_OBJECT

public:
    // Shows panel over host (usually the window itself) and focuses the panel: its focus proxy
    // when it has one, otherwise its first control.
    static SheetOverlay* present(QWidget* host, QWidget* panel);
    // The overlay on host that the user now works in; nothing when none is up.
    static SheetOverlay* topmost(const QWidget* host);

    ~SheetOverlay() override;

    QWidget* panel() const { return panel_; }
    void setDismissOnEscape(bool enabled) { dismissOnEscape = enabled; }
    bool isTopmost() const;
    // The controls Tab visits, in order.
    QList<QWidget*> tabChain() const;

public slots:
    // Hides and deletes the overlay and its panel (later, on the event loop); emits dismissed once.
    void dismiss();

signals:
    void dismissed();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    SheetOverlay(QWidget* host, QWidget* panel);
    void layoutPanel();
    bool holds(const QWidget* widget) const;
    void keepFocusInside(QWidget* now);
    // Focuses what the user expects on arriving in this overlay.
    void focusEntry();
    // Focuses the panel's main field (its focus proxy) or else its first control.
    void focusFirstControl(Qt::FocusReason reason);
    void restoreFocusAfterClosing();
    static QList<SheetOverlay*> stackOf(const QWidget* host);
    static void refreshStack(const QWidget* host);

    QPointer<QWidget> host;
    QPointer<QWidget> panel_;
    QPointer<QWidget> focusBefore;
    bool focusBeforeShowedRing = false; // it comes back as it was: a control clicked gets no ring
    QPointer<QWidget> lastFocusInside;
    bool dismissOnEscape = true;
    bool isDismissed = false;
    QMetaObject::Connection focusWatch;
};

} // namespace vt::ui
