#include "VellumtideBridge/Sources/Interface/Window/BridgeMainWindow.h"

#include "Platform/UI/FocusRing.h"
#include "Platform/UI/Palette.h"
#include "Platform/UI/Widgets.h"
#include "VellumtideBridge/Sources/Interface/EditSheet/SampleEditSheet.h"
#include "VellumtideBridge/Sources/Interface/Samples/BridgeSamplesPane.h"
#include "VellumtideBridge/Sources/Interface/Sheets/BridgeAlertPanel.h"
#include "VellumtideBridge/Sources/Interface/Sheets/BridgePairingSheet.h"
#include "VellumtideBridge/Sources/Interface/Sheets/CompanionAppSheet.h"
#include "VellumtideBridge/Sources/Interface/Sidebar/BridgeSidebar.h"
#include "VellumtideBridge/Sources/Interface/Window/DismissTextEditingOnOutsideClick.h"

#include <QPainter>

namespace {

using Field = BridgeViewModel::Field;
using vt::ui::SheetOverlay;

constexpr QSize initialWindowSize{1100, 720};

// The hairline between the sidebar and the samples pane.
class Divider final : public QWidget {
public:
    explicit Divider(QWidget* parent) : QWidget(parent) { setFixedWidth(1); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), vt::ui::white(0.1));
    }
};

template <typename Panel> Panel* panelOf(const QPointer<SheetOverlay>& overlay) {
    return overlay ? qobject_cast<Panel*>(overlay->panel()) : nullptr;
}

} // namespace

BridgeMainWindow::BridgeMainWindow(BridgeViewModel& model, QWidget* parent) : QWidget(parent), model(model) {
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Vellumtide Bridge"));
    setMinimumSize(minimumWindowSize);
    resize(initialWindowSize);

    auto* row = vt::ui::makeRow(this, 0);
    sidebar_ = new BridgeSidebar(model, this);
    samplesPane_ = new BridgeSamplesPane(model, this);
    row->addWidget(sidebar_);
    row->addWidget(new Divider(this));
    row->addWidget(samplesPane_, 1);

    new DismissTextEditingOnOutsideClick(this);
    vt::ui::showFocusRingsThroughout(this, 6);

    connect(sidebar_, &BridgeSidebar::companionAppRequested, this, [this] { setShowingCompanionApp(true); });
    connect(sidebar_, &BridgeSidebar::unlinkRequested, this, &BridgeMainWindow::confirmDeviceUnlink);
    connect(&model, &BridgeViewModel::changed, this, [this](Field field) {
        if (field == Field::errorMessage)
            followErrorMessage();
        else if (field == Field::editingSample)
            syncEditSheet();
        else if (field == Field::pairingRequest)
            syncPairingSheet();
    });
    syncEditSheet();
    syncPairingSheet();
}

// A pending onboarding timer finds the window gone and does nothing; the destructor leaves the
// controller alone, since the program may end with it.
BridgeMainWindow::~BridgeMainWindow() = default;

void BridgeMainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!isShowingError()) {
        observedErrorMessage = model.errorMessage(); // a text that is already set raises no alert
        isFollowingErrors = true;
    }
    showCompanionAppOnFirstStartupIfNeeded();
    // Browsing for phones starts when the window is shown (the controller ignores a second start).
    QMetaObject::invokeMethod(
        this, [this] { model.startBrowsing(); }, Qt::QueuedConnection);
}

void BridgeMainWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), vt::ui::palette::background);
}

// The first-start onboarding: once per user, scheduled 0.55 s after the window is first shown.
// The setting is written when the sheet is scheduled, so quitting early does not show it again.
void BridgeMainWindow::showCompanionAppOnFirstStartupIfNeeded() {
    if (didScheduleCompanionAppOnboarding)
        return;
    const QString key = QString::fromLatin1(companionAppOnboardingKey);
    const std::optional<QVariant> stored = model.dependencies().settings->value(key);
    if (stored && stored->toBool())
        return;
    didScheduleCompanionAppOnboarding = true;
    model.dependencies().settings->setValue(key, true);
    QPointer<BridgeMainWindow> self(this);
    model.dependencies().scheduler->schedule(companionAppOnboardingDelay, [self] {
        if (self)
            self->setShowingCompanionApp(true);
    });
}

// ---- Error alert ----

void BridgeMainWindow::followErrorMessage() {
    if (!isFollowingErrors)
        return;
    const std::optional<std::string>& message = model.errorMessage();
    if (message == observedErrorMessage)
        return; // an equal write is no change
    observedErrorMessage = message;
    setShowingError(message.has_value());
}

void BridgeMainWindow::setShowingError(bool showing) {
    if (!showing) {
        dismiss(errorOverlay);
        return;
    }
    const QString text = QString::fromStdString(model.errorMessage().value_or(std::string()));
    if (auto* alert = errorAlert()) {
        alert->setMessage(text);
        return;
    }
    auto* alert = new BridgeAlertPanel(QStringLiteral("Vellumtide Bridge"), text,
                                       {{QStringLiteral("OK"), BridgeAlertPanel::Role::defaultAction}});
    alert->setObjectName(QStringLiteral("errorAlert"));
    connect(alert, &BridgeAlertPanel::buttonPressed, this, [this] { model.setErrorMessage(std::nullopt); });
    errorOverlay = presentSheet(alert);
}

// ---- Unlink confirmation ----

void BridgeMainWindow::confirmDeviceUnlink(const VellumtideDevice& device) {
    if (isConfirmingDeviceUnlink())
        return;
    auto* confirmation = new BridgeAlertPanel(
        QStringLiteral("Unlink %1?").arg(QString::fromStdString(device.name)),
        QStringLiteral(
            "Bridge will forget this iPhone and the phone will need a fresh pair code before syncing again."),
        {{QStringLiteral("Unlink iPhone"), BridgeAlertPanel::Role::destructive},
         {QStringLiteral("Cancel"), BridgeAlertPanel::Role::cancel}});
    confirmation->setObjectName(QStringLiteral("unlinkConfirmation"));
    connect(confirmation, &BridgeAlertPanel::buttonPressed, this, [this, device](int index) {
        dismiss(unlinkOverlay);
        if (index == 0)
            model.forgetPairing(device);
    });
    unlinkOverlay = presentSheet(confirmation);
}

// ---- Sheets ----

void BridgeMainWindow::setShowingCompanionApp(bool showing) {
    if (!showing) {
        dismiss(companionOverlay);
        return;
    }
    if (isShowingCompanionApp())
        return;
    auto* sheet = new CompanionAppSheet(model.dependencies().urlOpener);
    connect(sheet, &CompanionAppSheet::dismissRequested, this, [this] { setShowingCompanionApp(false); });
    companionOverlay = presentSheet(sheet);
}

// The edit sheet follows editingSample: presented while it is set, replaced when it names another
// sample, removed when it is cleared. Closing the overlay otherwise clears it.
void BridgeMainWindow::syncEditSheet() {
    const std::optional<SampleItem>& editing = model.editingSample();
    if (!editing) {
        presentedEditSampleID.reset();
        dismiss(editOverlay);
        return;
    }
    if (editOverlay && presentedEditSampleID == editing->id)
        return;
    dismiss(editOverlay);
    presentedEditSampleID = editing->id;
    editOverlay = presentSheet(new SampleEditSheet(model, *editing));
    connect(editOverlay, &SheetOverlay::dismissed, this, [this, id = editing->id] {
        if (model.editingSample() && model.editingSample()->id == id)
            model.setEditingSample(std::nullopt);
    });
}

// The pairing sheet follows pairingRequest the same way; a new request gives a fresh sheet.
void BridgeMainWindow::syncPairingSheet() {
    const std::optional<BridgePairingRequest>& request = model.pairingRequest();
    if (!request) {
        presentedPairingRequestID.reset();
        dismiss(pairingOverlay);
        return;
    }
    if (pairingOverlay && presentedPairingRequestID == request->id)
        return;
    dismiss(pairingOverlay);
    presentedPairingRequestID = request->id;
    auto* sheet = new BridgePairingSheet(model, *request);
    connect(sheet, &BridgePairingSheet::dismissRequested, this, [this, sheet, id = request->id] {
        if (model.pairingRequest() && model.pairingRequest()->id == id)
            model.setPairingRequest(std::nullopt);
        if (pairingSheet() == sheet)
            dismiss(pairingOverlay);
    });
    pairingOverlay = presentSheet(sheet);
}

SheetOverlay* BridgeMainWindow::presentSheet(QWidget* panel) {
    SheetOverlay* overlay = SheetOverlay::present(this, panel);
    overlay->setDismissOnEscape(false); // sheets close only through their own controls
    raiseAlerts();
    return overlay;
}

void BridgeMainWindow::raiseAlerts() {
    for (SheetOverlay* overlay : {unlinkOverlay.data(), errorOverlay.data()})
        if (overlay && overlay->panel()) {
            overlay->raise();
            overlay->panel()->setFocus(Qt::OtherFocusReason);
        }
}

void BridgeMainWindow::dismiss(QPointer<SheetOverlay>& overlay) {
    SheetOverlay* current = overlay.data();
    overlay = nullptr;
    if (current)
        current->dismiss();
}

BridgeAlertPanel* BridgeMainWindow::errorAlert() const {
    return panelOf<BridgeAlertPanel>(errorOverlay);
}

BridgeAlertPanel* BridgeMainWindow::unlinkConfirmation() const {
    return panelOf<BridgeAlertPanel>(unlinkOverlay);
}

SampleEditSheet* BridgeMainWindow::editSheet() const {
    return panelOf<SampleEditSheet>(editOverlay);
}

BridgePairingSheet* BridgeMainWindow::pairingSheet() const {
    return panelOf<BridgePairingSheet>(pairingOverlay);
}

CompanionAppSheet* BridgeMainWindow::companionAppSheet() const {
    return panelOf<CompanionAppSheet>(companionOverlay);
}
