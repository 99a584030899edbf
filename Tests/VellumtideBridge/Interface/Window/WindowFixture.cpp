#include "Tests/VellumtideBridge/Interface/Window/WindowFixture.h"

#include "Platform/UI/Widgets.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

namespace vt::test {

WindowTest::~WindowTest() {
    window.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

BridgeMainWindow& WindowTest::openWindow(bool show) {
    if (!model)
        start();
    window = std::make_unique<BridgeMainWindow>(*model);
    if (show) {
        window->show();
        window->activateWindow();
        QApplication::setActiveWindow(window.get());
    }
    settleUI();
    return *window;
}

void WindowTest::settleUI() {
    for (int round = 0; round < 4; ++round) {
        scheduler->runReady();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    if (model) {
        settleWrites(); // the library writes run off the main thread
        QCoreApplication::processEvents();
    }
}

void WindowTest::advance(std::chrono::milliseconds delta) {
    scheduler->advanceBy(delta);
    settleUI();
}

VellumtideDevice WindowTest::makeDevice(const std::string& name, const std::string& pairingID) {
    VellumtideDevice device;
    device.id = "phone|" + pairingID;
    device.name = name;
    device.endpoint = VellumtideEndpoint::hostPort("127.0.0.1", 9);
    device.detail = "Found on the local network";
    device.pairingID = pairingID;
    return device;
}

void WindowTest::showDevices(const std::vector<VellumtideDevice>& devices) {
    model->setDevices(devices);
    model->setSelectedDeviceID(devices.empty() ? std::nullopt : std::optional(devices.front().id));
    settleUI();
}

QStringList visibleTexts(const QWidget* root) {
    QStringList texts;
    for (const QWidget* widget : root->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(root))
            continue;
        if (auto* label = qobject_cast<const QLabel*>(widget))
            texts << label->text();
        else if (auto* elided = dynamic_cast<const vt::ui::ElidedLabel*>(widget))
            texts << elided->text();
        else if (auto* button = qobject_cast<const QAbstractButton*>(widget);
                 button && !button->text().isEmpty())
            texts << button->text();
    }
    return texts;
}

QAbstractButton* findButton(const QWidget* root, const QString& text) {
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>())
        if (button->isVisibleTo(root) && (button->text() == text || button->accessibleName() == text))
            return button;
    return nullptr;
}

void click(QWidget* widget) {
    QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
}

} // namespace vt::test
