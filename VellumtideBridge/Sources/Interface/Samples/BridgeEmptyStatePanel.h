#pragma once
// A panel that fills the samples pane when there is nothing to list: a large glyph, a title, a
// short message and optionally one button, centred on a faint rounded card.

#include "Platform/UI/Widgets.h"

class BridgeEmptyStatePanel final : public vt::ui::CardFrame {
public:
    BridgeEmptyStatePanel(std::string_view symbol, QColor symbolColor, const QString& title,
                          const QString& message, QWidget* parent = nullptr);

    QString title() const { return titleLabel->text(); }
    QString message() const { return messageLabel->text(); }
    // Adds the panel's one button below the message.
    void addButton(QAbstractButton* button);

private:
    QLabel* titleLabel;
    QLabel* messageLabel;
};
