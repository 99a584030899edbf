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

using Kind = vt::ui::SheetQueue::Kind;

// The keys of the window's overlays in its sheet queue.
const QString errorKey = QStringLiteral("error");
const QString unlinkKey = QStringLiteral("unlink");
const QString editKey = QStringLiteral("edit");
const QString pairingKey = QStringLiteral("pairing");
const QString companionKey = QStringLiteral("companion");

// Sheets close only through their own controls (alerts handle Escape themselves).
void keepOpenOnEscape(SheetOverlay* overlay) {
    overlay->setDismissOnEscape(false);
}

} // namespace

BridgeMainWindow::BridgeMainWindow(BridgeViewModel& model, QWidget* parent)
    : QWidget(parent), model(model), sheets(this) {
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
    connect(sidebar_->connectedDeviceCard(), &BridgeConnectedDeviceCard::unlinkButtonChanged, this,
            &BridgeMainWindow::followUnlinkButton);
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
            self->requestCompanionApp(Kind::offered);
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
        sheets.withdraw(errorKey);
        return;
    }
    if (auto* alert = errorAlert()) {
        alert->setMessage(QString::fromStdString(model.errorMessage().value_or(std::string())));
        return;
    }
    if (sheets.isWaiting(errorKey))
        return; // it shows the text of its time when its turn comes
    sheets.request(
        errorKey, Kind::alert,
        [this] {
            auto* alert =
                new BridgeAlertPanel(QStringLiteral("Vellumtide Bridge"),
                                     QString::fromStdString(model.errorMessage().value_or(std::string())),
                                     {{QStringLiteral("OK"), BridgeAlertPanel::Role::defaultAction}});
            alert->setObjectName(QStringLiteral("errorAlert"));
            connect(alert, &BridgeAlertPanel::buttonPressed, this,
                    [this] { model.setErrorMessage(std::nullopt); });
            return alert;
        },
        keepOpenOnEscape);
}

// ---- Unlink confirmation ----

void BridgeMainWindow::confirmDeviceUnlink(const VellumtideDevice& device) {
    if (unlinkDevice)
        return;
    unlinkDevice = device;
    sheets.request(
        unlinkKey, Kind::alert,
        [this, device] {
            auto* confirmation = new BridgeAlertPanel(
                QStringLiteral("Unlink %1?").arg(QString::fromStdString(device.name)),
                QStringLiteral("Bridge will forget this iPhone and the phone will need a fresh pair code "
                               "before syncing again."),
                {{QStringLiteral("Unlink iPhone"), BridgeAlertPanel::Role::destructive},
                 {QStringLiteral("Cancel"), BridgeAlertPanel::Role::cancel}});
            confirmation->setObjectName(QStringLiteral("unlinkConfirmation"));
            connect(confirmation, &BridgeAlertPanel::buttonPressed, this, [this, device](int index) {
                sheets.withdraw(unlinkKey);
                if (index == 0)
                    model.forgetPairing(device);
            });
            return confirmation;
        },
        [this](SheetOverlay* overlay) {
            keepOpenOnEscape(overlay);
            connect(overlay, &SheetOverlay::dismissed, this, [this] { unlinkDevice.reset(); });
        });
    followUnlinkButton(); // a button already gone asks for nothing
}

// The confirmation belongs to the card's unlink button: it goes when the button goes or acts
// for another phone.
void BridgeMainWindow::followUnlinkButton() {
    if (!unlinkDevice)
        return;
    const BridgeConnectedDeviceCard* card = sidebar_->connectedDeviceCard();
    if (card->device() && card->device()->id == unlinkDevice->id && card->showsPaired())
        return;
    unlinkDevice.reset();
    sheets.withdraw(unlinkKey);
}

// ---- Sheets ----

void BridgeMainWindow::setShowingCompanionApp(bool showing) {
    if (showing)
        requestCompanionApp(Kind::requested);
    else
        sheets.withdraw(companionKey);
}

void BridgeMainWindow::requestCompanionApp(Kind kind) {
    if (isShowingCompanionApp() || sheets.isWaiting(companionKey))
        return;
    sheets.request(
        companionKey, kind,
        [this] {
            auto* sheet = new CompanionAppSheet(model.dependencies().urlOpener);
            connect(sheet, &CompanionAppSheet::dismissRequested, this,
                    [this] { setShowingCompanionApp(false); });
            return sheet;
        },
        keepOpenOnEscape);
}

// The edit sheet follows editingSample: presented while it is set, replaced when it names another
// sample, removed when it is cleared. Closing the overlay otherwise clears it.
void BridgeMainWindow::syncEditSheet() {
    const std::optional<SampleItem>& editing = model.editingSample();
    if (!editing) {
        presentedEditSampleID.reset();
        sheets.withdraw(editKey);
        return;
    }
    if (presentedEditSampleID == editing->id && (editSheet() || sheets.isWaiting(editKey)))
        return;
    sheets.withdraw(editKey);
    presentedEditSampleID = editing->id;
    sheets.request(
        editKey, Kind::requested,
        [this, sample = *editing] {
            const std::optional<SampleItem>& now = model.editingSample();
            return new SampleEditSheet(model, now && now->id == sample.id ? *now : sample);
        },
        [this, id = editing->id](SheetOverlay* overlay) {
            keepOpenOnEscape(overlay);
            connect(overlay, &SheetOverlay::dismissed, this, [this, id] {
                if (model.editingSample() && model.editingSample()->id == id)
                    model.setEditingSample(std::nullopt);
            });
        });
}

// The pairing sheet follows pairingRequest the same way; a new request gives a fresh sheet.
void BridgeMainWindow::syncPairingSheet() {
    const std::optional<BridgePairingRequest>& request = model.pairingRequest();
    if (!request) {
        presentedPairingRequestID.reset();
        sheets.withdraw(pairingKey);
        return;
    }
    if (presentedPairingRequestID == request->id && (pairingSheet() || sheets.isWaiting(pairingKey)))
        return;
    sheets.withdraw(pairingKey);
    presentedPairingRequestID = request->id;
    sheets.request(
        pairingKey, Kind::offered,
        [this, request = *request] {
            auto* sheet = new BridgePairingSheet(model, request);
            connect(sheet, &BridgePairingSheet::dismissRequested, this, [this, sheet, id = request.id] {
                if (model.pairingRequest() && model.pairingRequest()->id == id)
                    model.setPairingRequest(std::nullopt);
                if (pairingSheet() == sheet)
                    sheets.withdraw(pairingKey);
            });
            return sheet;
        },
        keepOpenOnEscape);
}

template <typename Panel> Panel* BridgeMainWindow::panelUp(const QString& key) const {
    SheetOverlay* overlay = sheets.overlay(key);
    return overlay ? qobject_cast<Panel*>(overlay->panel()) : nullptr;
}

BridgeAlertPanel* BridgeMainWindow::errorAlert() const {
    return panelUp<BridgeAlertPanel>(errorKey);
}

BridgeAlertPanel* BridgeMainWindow::unlinkConfirmation() const {
    return panelUp<BridgeAlertPanel>(unlinkKey);
}

SampleEditSheet* BridgeMainWindow::editSheet() const {
    return panelUp<SampleEditSheet>(editKey);
}

BridgePairingSheet* BridgeMainWindow::pairingSheet() const {
    return panelUp<BridgePairingSheet>(pairingKey);
}

CompanionAppSheet* BridgeMainWindow::companionAppSheet() const {
    return panelUp<CompanionAppSheet>(companionKey);
}
