#pragma once
// Ends text editing when the user clicks outside any text field: while the watched window is
// shown, a left click in the active window that lands on no text field (nor inside one) takes
// the keyboard focus away from the field being edited, one loop turn later and only if the
// focus has not moved meanwhile. The click itself is always delivered unchanged.

#include <QObject>
#include <QPointer>
#include <QWidget>

class DismissTextEditingOnOutsideClick final : public QObject {
public:
    explicit DismissTextEditingOnOutsideClick(QWidget* window);
    ~DismissTextEditingOnOutsideClick() override;

    bool isMonitoring() const { return monitoring; }
    static bool isTextInput(const QObject* object);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void startMonitoring();
    void stopMonitoring();
    void handleClick(QWidget* target);

    QPointer<QWidget> window;
    bool monitoring = false;
};
