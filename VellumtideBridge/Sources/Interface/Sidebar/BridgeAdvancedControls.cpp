#include "VellumtideBridge/Sources/Interface/Sidebar/BridgeAdvancedControls.h"

#include "Platform/Async/Spawn.h"
#include "Platform/UI/FocusRing.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Palette.h"

#include <QLineEdit>

namespace {

using vt::ui::FontWeight;
using Field = BridgeViewModel::Field;
namespace palette = vt::ui::palette;

bridge::LabeledButton* makeSmallButton(const QString& text, std::string_view symbol, QWidget* parent) {
    auto* button = new bridge::LabeledButton(text, symbol, bridge::ButtonStyle::bordered, parent);
    button->setControlSize(bridge::ControlSize::small);
    button->setStretch(true);
    return button;
}

QWidget* makeButtonPair(QWidget* parent, QWidget* first, QWidget* second) {
    auto* row = new QWidget(parent);
    auto* layout = vt::ui::makeRow(row, 7);
    layout->addWidget(first, 1);
    layout->addWidget(second, 1);
    return row;
}

vt::ui::CardFrame* makeBox(QWidget* parent) {
    auto* box = new vt::ui::CardFrame(vt::ui::withOpacity(palette::surface, 0.7), std::nullopt, parent);
    auto* layout = vt::ui::makeColumn(box, 7);
    layout->setContentsMargins(8, 8, 8, 8);
    return box;
}

QString addressFieldStyle() {
    return QStringLiteral(
        "QLineEdit { background: rgba(255,255,255,12); border: 1px solid rgba(255,255,255,36);"
        " border-radius: 5px; padding: 3px 6px; color: white; }"
        " QLineEdit:focus { border: 2px solid rgb(82,219,204); padding: 2px 5px; }");
}

// Starts a controller operation on the next loop turn without waiting for it.
template <typename Operation> void start(BridgeViewModel& model, Operation operation) {
    BridgeViewModel* controller = &model;
    vt::spawn([controller, operation] { return (controller->*operation)(); });
}

} // namespace

BridgeAdvancedControls::BridgeAdvancedControls(BridgeViewModel& model, QWidget* parent)
    : QWidget(parent), model(model) {
    setObjectName(QStringLiteral("advancedControls"));
    auto* column = vt::ui::makeColumn(this, 8);
    deviceList_ = new QWidget(this);
    vt::ui::makeColumn(deviceList_, 8);
    column->addWidget(deviceList_);
    column->addWidget(makeDiscoveryRow());
    column->addWidget(makeAddressBox());
    column->addWidget(makeFolderBox());

    rebuildDeviceList();
    refreshBusyStates();
    refreshAddress();
    refreshFolder();
    connect(&model, &BridgeViewModel::changed, this, [this](Field field) {
        switch (field) {
        case Field::devices:
        case Field::selectedDeviceID:
            rebuildDeviceList();
            break;
        case Field::isScanningLAN:
        case Field::isSyncing:
            refreshBusyStates();
            break;
        case Field::manualAddress:
            refreshAddress();
            break;
        case Field::sampleFolderPath:
            refreshFolder();
            break;
        default:
            break;
        }
    });
}

QWidget* BridgeAdvancedControls::makeDiscoveryRow() {
    rescan = makeSmallButton(QStringLiteral("Rescan"), "arrow.clockwise", this);
    lan = makeSmallButton(QStringLiteral("LAN"), "antenna.radiowaves.left.and.right", this);
    connect(rescan, &QAbstractButton::clicked, this, [this] { model.restartBrowsing(); });
    connect(lan, &QAbstractButton::clicked, this, [this] { start(model, &BridgeViewModel::scanLAN); });
    return makeButtonPair(this, rescan, lan);
}

QWidget* BridgeAdvancedControls::makeAddressBox() {
    auto* box = makeBox(this);
    address = new QLineEdit(box);
    address->setObjectName(QStringLiteral("manualAddressField"));
    address->setPlaceholderText(QStringLiteral("Manual address:port"));
    address->setFont(vt::ui::monospacedFont(12, FontWeight::medium));
    address->setStyleSheet(addressFieldStyle());
    box->layout()->addWidget(address);
    paste = makeSmallButton(QStringLiteral("Paste"), "doc.on.clipboard", box);
    connectButton_ = makeSmallButton(QStringLiteral("Connect"), "network", box);
    box->layout()->addWidget(makeButtonPair(box, paste, connectButton_));

    connect(address, &QLineEdit::textEdited, this,
            [this](const QString& text) { model.setManualAddress(text.toStdString()); });
    connect(address, &QLineEdit::returnPressed, this,
            [this] { start(model, &BridgeViewModel::syncManualAddress); });
    connect(paste, &QAbstractButton::clicked, this, [this] { model.pasteManualAddress(); });
    connect(connectButton_, &QAbstractButton::clicked, this,
            [this] { start(model, &BridgeViewModel::syncManualAddress); });
    return box;
}

QWidget* BridgeAdvancedControls::makeFolderBox() {
    auto* box = makeBox(this);
    auto* title = new QWidget(box);
    auto* titleRow = vt::ui::makeRow(title, 6);
    titleRow->addWidget(
        new vt::ui::GlyphView("folder", 10, palette::cyan, QSize(12, 12), std::nullopt, title));
    titleRow->addWidget(vt::ui::makeText(QStringLiteral("Sample Folder"),
                                         vt::ui::monospacedFont(10, FontWeight::bold), vt::ui::white(0.62),
                                         false, title));
    titleRow->addStretch(1);
    box->layout()->addWidget(title);

    folderPath = new vt::ui::ElidedLabel({}, vt::ui::monospacedFont(10, FontWeight::medium),
                                         vt::ui::white(0.42), Qt::ElideMiddle, box);
    folderPath->setObjectName(QStringLiteral("sampleFolderPath"));
    box->layout()->addWidget(folderPath);

    choose = makeSmallButton(QStringLiteral("Choose"), "folder.badge.gearshape", box);
    reveal = makeSmallButton(QStringLiteral("Reveal"), "arrow.up.forward.app", box);
    box->layout()->addWidget(makeButtonPair(box, choose, reveal));
    reset = makeSmallButton(QStringLiteral("Reset to Default"), "arrow.counterclockwise", box);
    box->layout()->addWidget(reset);

    connect(choose, &QAbstractButton::clicked, this,
            [this] { start(model, &BridgeViewModel::chooseSampleFolder); });
    connect(reveal, &QAbstractButton::clicked, this, [this] { model.openCacheFolder(); });
    connect(reset, &QAbstractButton::clicked, this,
            [this] { start(model, &BridgeViewModel::resetSampleFolderToDefault); });
    return box;
}

void BridgeAdvancedControls::rebuildDeviceList() {
    const auto& devices = model.devices();
    const auto& selectedID = model.selectedDeviceID();
    const bool sameDevices = std::equal(
        rows.begin(), rows.end(), devices.begin(), devices.end(),
        [](const DeviceRow* row, const VellumtideDevice& device) { return row->device() == device; });
    if (!sameDevices) {
        for (DeviceRow* row : rows) {
            row->hide();
            row->deleteLater(); // a row's own click may have led here
        }
        rows.clear();
        if (devices.size() > 1)
            for (const VellumtideDevice& device : devices) {
                auto* row = new DeviceRow(
                    device, false, [this, id = device.id] { model.setSelectedDeviceID(id); }, palette::cyan,
                    deviceList_);
                deviceList_->layout()->addWidget(row);
                rows.push_back(row);
            }
        placeRowsInTabOrder();
    }
    for (DeviceRow* row : rows)
        row->setSelected(selectedID && *selectedID == row->device().id);
    deviceList_->setVisible(!rows.empty());
}

// New rows join the window's focus chain at its end; Tab visits them where they stand, between
// the control before the list and Rescan.
void BridgeAdvancedControls::placeRowsInTabOrder() {
    QWidget* previous = rescan->previousInFocusChain();
    while (previous != rescan && !(previous->focusPolicy() & Qt::TabFocus))
        previous = previous->previousInFocusChain();
    if (previous == rescan)
        return;
    for (DeviceRow* row : rows) {
        QWidget::setTabOrder(previous, row);
        previous = row;
    }
}

void BridgeAdvancedControls::refreshBusyStates() {
    lan->setText(model.isScanningLAN() ? QStringLiteral("Scanning") : QStringLiteral("LAN"));
    vt::ui::setEnabledKeepingFocus(lan, !model.isScanningLAN() && !model.isSyncing());
    vt::ui::setEnabledKeepingFocus(connectButton_, !model.isSyncing());
}

void BridgeAdvancedControls::refreshAddress() {
    const QString text = QString::fromStdString(model.manualAddress());
    if (address->text() != text)
        address->setText(text);
}

void BridgeAdvancedControls::refreshFolder() {
    folderPath->setText(QString::fromStdString(model.sampleFolderPath()));
    reset->setEnabled(!model.isUsingDefaultSampleFolder());
}
