#pragma once
// An in-window modal sheet: a dimming layer over the whole host window that blocks clicks and
// keys to the content below and shows one panel centred near the top. The panel widget is
// owned by the overlay; dismiss() (or Escape, unless disabled) removes both and emits dismissed.

#include <QColor>
#include <QPointer>
#include <QWidget>

namespace vt::ui {

class SheetOverlay final : public QWidget {
    Q_OBJECT

public:
    // Shows panel over host (usually the window's central widget) and gives it focus.
    static SheetOverlay* present(QWidget* host, QWidget* panel);

    QWidget* panel() const { return panel_; }
    void setDismissOnEscape(bool enabled) { dismissOnEscape = enabled; }

public slots:
    // Hides and deletes the overlay and its panel (later, on the event loop); emits dismissed once.
    void dismiss();

signals:
    void dismissed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    SheetOverlay(QWidget* host, QWidget* panel);
    void layoutPanel();

    QPointer<QWidget> panel_;
    bool dismissOnEscape = true;
    bool isDismissed = false;
};

} // namespace vt::ui
