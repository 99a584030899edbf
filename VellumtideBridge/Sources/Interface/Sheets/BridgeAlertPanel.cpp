#include "VellumtideBridge/Sources/Interface/Sheets/BridgeAlertPanel.h"

#include "Platform/UI/Fonts.h"
#include "Platform/UI/Palette.h"
#include "VellumtideBridge/Sources/Interface/Window/BridgeWidgetKit.h"

#include <QKeyEvent>
#include <QLabel>

namespace {
constexpr int alertWidth = 340;
}

BridgeAlertPanel::BridgeAlertPanel(const QString& title, const QString& message,
                                   std::vector<Button> buttonList, QWidget* parent)
    : BridgeSheetPanel(alertWidth, 20, 10, parent), buttons(std::move(buttonList)) {
    using vt::ui::FontWeight;
    titleLabel = vt::ui::makeText(title, vt::ui::systemFont(14, FontWeight::bold), Qt::white, true, this);
    messageLabel = vt::ui::makeText(message, vt::ui::systemFont(12, FontWeight::regular), vt::ui::white(0.72),
                                    true, this);
    messageLabel->setVisible(!message.isEmpty());
    column()->addWidget(titleLabel);
    column()->addWidget(messageLabel);
    column()->addSpacing(6);

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addStretch(1);
    for (std::size_t index = 0; index < buttons.size(); ++index) {
        const Button& spec = buttons[index];
        const auto style = spec.role == Role::defaultAction ? bridge::ButtonStyle::borderedProminent
                                                            : bridge::ButtonStyle::bordered;
        auto* button = new bridge::LabeledButton(spec.title, {}, style, this);
        button->setMinimumWidth(80);
        if (spec.role == Role::destructive)
            button->setTextColor(vt::ui::palette::danger);
        connect(button, &QAbstractButton::clicked, this, [this, index] { emit buttonPressed(int(index)); });
        row->addWidget(button);
        buttonWidgets.push_back(button);
    }
    column()->addLayout(row);

    // Focus starts on the default button, else on the one that cancels.
    int entry = indexOf(Role::defaultAction);
    if (entry < 0)
        entry = indexOf(Role::cancel);
    if (entry < 0 && !buttonWidgets.empty())
        entry = 0;
    if (entry >= 0)
        setFocusProxy(buttonWidgets[std::size_t(entry)]);
}

QString BridgeAlertPanel::title() const {
    return titleLabel->text();
}

QString BridgeAlertPanel::message() const {
    return messageLabel->text();
}

void BridgeAlertPanel::setMessage(const QString& message) {
    messageLabel->setText(message);
    messageLabel->setVisible(!message.isEmpty());
    updateGeometry();
}

int BridgeAlertPanel::indexOf(Role role) const {
    for (std::size_t index = 0; index < buttons.size(); ++index)
        if (buttons[index].role == role)
            return int(index);
    return -1;
}

void BridgeAlertPanel::keyPressEvent(QKeyEvent* event) {
    int index = -1;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        index = indexOf(Role::defaultAction);
    else if (event->key() == Qt::Key_Escape)
        index = buttons.size() == 1 ? 0 : indexOf(Role::cancel);
    if (index < 0)
        return BridgeSheetPanel::keyPressEvent(event);
    event->accept();
    emit buttonPressed(index);
}
