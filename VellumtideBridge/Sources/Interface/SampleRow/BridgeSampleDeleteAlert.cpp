#include "VellumtideBridge/Sources/Interface/SampleRow/BridgeSampleDeleteAlert.h"

#include "Platform/UI/SheetOverlay.h"
#include "VellumtideBridge/Sources/Interface/Sheets/BridgeAlertPanel.h"

#include <QMainWindow>
#include <QPointer>

namespace {

constexpr int noButton = 0;
constexpr int yesButton = 1;

// The alert covers the window's content, as the window's own alerts do.
QWidget* alertHost(QWidget* widget) {
    QWidget* top = widget->window();
    if (auto* main = qobject_cast<QMainWindow*>(top); main && main->centralWidget())
        return main->centralWidget();
    return top;
}

} // namespace

vt::ui::SheetOverlay* confirmSampleDeletion(QWidget* card, BridgeViewModel& model, const QString& title,
                                            std::function<SampleItem()> current) {
    auto* panel = new BridgeAlertPanel(
        QStringLiteral("Delete sample?"),
        QStringLiteral("Remove \"%1\" from Bridge and the AU library on this computer?").arg(title),
        {{QStringLiteral("No"), BridgeAlertPanel::Role::cancel},
         {QStringLiteral("Yes, Delete"), BridgeAlertPanel::Role::destructive}});
    panel->setObjectName(QStringLiteral("deleteAlert"));
    panel->button(noButton)->setObjectName(QStringLiteral("deleteCancelButton"));
    panel->button(yesButton)->setObjectName(QStringLiteral("deleteConfirmButton"));
    auto* overlay = vt::ui::SheetOverlay::present(alertHost(card), panel);
    QPointer<BridgeViewModel> controller(&model);
    QObject::connect(panel, &BridgeAlertPanel::buttonPressed, overlay,
                     [controller, overlay, current = std::move(current)](int index) {
                         const SampleItem sample = current();
                         overlay->dismiss();
                         if (index == yesButton && controller)
                             controller->deleteSample(sample);
                     });
    return overlay;
}
