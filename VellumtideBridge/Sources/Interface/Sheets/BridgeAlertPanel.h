#pragma once
// A small in-window alert: a bold title, a message and a row of buttons. Focus starts on the
// default button (else the cancel button); Return presses the focused button, or the default
// one; Escape presses the cancel button, or the only button when there is one.

#include "VellumtideBridge/Sources/Interface/Sheets/BridgeSheetPanel.h"

#include <vector>

class QLabel;

class BridgeAlertPanel final : public BridgeSheetPanel {
    Q_OBJECT

public:
    enum class Role { standard, defaultAction, destructive, cancel };
    struct Button {
        QString title;
        Role role = Role::standard;
    };

    BridgeAlertPanel(const QString& title, const QString& message, std::vector<Button> buttons,
                     QWidget* parent = nullptr);

    QString title() const;
    QString message() const;
    void setMessage(const QString& message);
    QAbstractButton* button(int index) const { return buttonWidgets.at(std::size_t(index)); }

signals:
    void buttonPressed(int index);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    int indexOf(Role role) const;

    QLabel* titleLabel;
    QLabel* messageLabel;
    std::vector<Button> buttons;
    std::vector<QAbstractButton*> buttonWidgets;
};
