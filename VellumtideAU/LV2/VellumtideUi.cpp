// The LV2 window of the pad instrument: a Qt Widgets window embedded into the host's X11 window
// (or shown on its own through the show interface). Embedded, it follows the host window's size,
// and a host may also set its size through the resize interface. It reaches the unit only
// through the reference the plug-in instance shares (instance access plus data access), and runs
// Qt's events from the host's idle calls when the host has no Qt event loop of its own.

#include "Platform/UI/DarkLook.h"
#include "Platform/UI/Fonts.h"
#include "VellumtideAU/LV2/ParentWindowFollower.h"
#include "VellumtideAU/LV2/VellumtideLV2.h"
#include "VellumtideAU/Window/VellumtideAUViewController.h"
#include "VellumtideAU/Window/VellumtideWindowServices.h"

#include <QApplication>
#include <QImage>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <cstring>
#include <lv2/data-access/data-access.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/ui/ui.h>
#include <memory>

namespace {

constexpr const char* uiURI = "urn:kestrelworks:vellumtide:pad-sampler#ui";

// Notes the user closing a window of its own (shown through the show interface): the desktop's
// close button reaches the top-level widget as a close event.
class CloseWatcher final : public QObject {
public:
    bool closedByUser = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close)
            closedByUser = true;
        return QObject::eventFilter(watched, event);
    }
};

// A GTK host (suil's socket) keeps the X input focus on its own window and forwards its key
// presses to the embedded window, but never tells an X11 child that the keyboard is its: Qt would
// hand the keys to no focused control and show no focus. A key that finds the window inactive
// therefore activates it, within Qt only (an embedded window never takes the X focus from its
// host); the key itself goes on to the window's focus chain.
class ForwardedKeyWatcher final : public QObject {
public:
    explicit ForwardedKeyWatcher(QWidget* view) : view(view) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && view && !view->isActiveWindow())
            view->activateWindow();
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<QWidget> view;
};

struct WindowInstance {
    CloseWatcher closeWatcher; // first, so it outlives the view it watches
    std::unique_ptr<ForwardedKeyWatcher> keyWatcher;
    std::unique_ptr<VellumtideAUViewController> controller;
    std::unique_ptr<QWindow> hostWindow; // the host's X11 window, wrapped
    std::unique_ptr<ParentWindowFollower> parentFollower;
};

// True when this module made the application (the host runs no Qt loop: idle calls drive it).
bool ownsApplication = false;

const void* featureData(const LV2_Feature* const* features, const char* uri) {
    for (auto feature = features; feature && *feature; ++feature)
        if (std::strcmp((*feature)->URI, uri) == 0)
            return (*feature)->data;
    return nullptr;
}

// The application is made once and kept: the module stays loaded (linked as "nodelete"), and Qt
// does not survive being torn down and set up again in one process.
void ensureApplication(bool embedded) {
    if (QApplication::instance())
        return;
    static int argc = embedded ? 3 : 1;
    static char name[] = "vellumtide";
    static char platformOption[] = "-platform";
    static char platform[] = "xcb";
    static char* argv[] = {name, platformOption, platform, nullptr};
    vt::ui::applyDarkLook(*new QApplication(argc, argv));
    ownsApplication = true;
}

// The instance's shared reference, or none when the host gave no way to reach it.
std::shared_ptr<VellumtideAudioUnitReference> instanceReference(const LV2_Feature* const* features) {
    void* instance = const_cast<void*>(featureData(features, LV2_INSTANCE_ACCESS_URI));
    auto* dataAccess =
        static_cast<const LV2_Extension_Data_Feature*>(featureData(features, LV2_DATA_ACCESS_URI));
    if (!instance || !dataAccess || !dataAccess->data_access)
        return nullptr;
    auto* access =
        static_cast<const vt::lv2::UnitAccessInterface*>(dataAccess->data_access(vt::lv2::unitAccessURI));
    if (!access || access->version < 1 || !access->unitReference)
        return nullptr;
    return access->unitReference(instance);
}

// Draws the window once off screen, before the host shows it: its fonts and glyphs are then
// ready, so that the first frame drawn in the host's loop is a short one.
void drawOffScreen(QWidget* view) {
    const qreal ratio = view->devicePixelRatioF();
    QImage image(view->size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    view->render(&image);
}

LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char*, const char* bundlePath, LV2UI_Write_Function,
                         LV2UI_Controller, LV2UI_Widget* widget, const LV2_Feature* const* features) {
    const auto parent = reinterpret_cast<WId>(featureData(features, LV2_UI__parent));
    try {
        ensureApplication(parent != 0);
        vt::ui::installBundledFonts();
        auto window = std::make_unique<WindowInstance>();
        window->controller = std::make_unique<VellumtideAUViewController>(
            VellumtideWindowServices::standard(bundlePath ? bundlePath : ""), instanceReference(features));
        QWidget* view = window->controller->view();
        window->controller->viewDidLoad();
        view->installEventFilter(&window->closeWatcher);
        if (parent) {
            view->setAttribute(Qt::WA_NativeWindow);
            view->winId();
            window->hostWindow.reset(QWindow::fromWinId(parent));
            view->windowHandle()->setParent(window->hostWindow.get());
            window->keyWatcher = std::make_unique<ForwardedKeyWatcher>(view);
            view->windowHandle()->installEventFilter(window->keyWatcher.get());
            view->move(0, 0);
            window->parentFollower = ParentWindowFollower::follow(view, std::uint32_t(parent));
            view->show();
        }
        drawOffScreen(view);
        *widget = reinterpret_cast<LV2UI_Widget>(view->winId());
        const QSize size = VellumtideAUViewController::preferredContentSize;
        if (auto* resize = static_cast<const LV2UI_Resize*>(featureData(features, LV2_UI__resize)))
            resize->ui_resize(resize->handle, size.width(), size.height());
        return window.release();
    } catch (const std::exception&) {
        return nullptr;
    }
}

void cleanup(LV2UI_Handle handle) {
    std::unique_ptr<WindowInstance> window(static_cast<WindowInstance*>(handle));
    window->parentFollower.reset();
    if (QWidget* view = window->controller->view()) {
        view->removeEventFilter(&window->closeWatcher);
        if (window->keyWatcher && view->windowHandle())
            view->windowHandle()->removeEventFilter(window->keyWatcher.get());
        view->hide();
    }
    window->controller.reset();
    window->hostWindow.reset();
    if (ownsApplication)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Non-zero once the user has closed the window, which tells a host using the show interface.
int idle(LV2UI_Handle handle) {
    auto* window = static_cast<WindowInstance*>(handle);
    if (ownsApplication) { // otherwise the host's own Qt loop runs the window
        QApplication::processEvents();
        // Without a running loop, objects let go with deleteLater() are freed here.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return window->closeWatcher.closedByUser ? 1 : 0;
}

int show(LV2UI_Handle handle) {
    auto* window = static_cast<WindowInstance*>(handle);
    window->closeWatcher.closedByUser = false;
    window->controller->view()->show();
    return 0;
}

int hide(LV2UI_Handle handle) {
    static_cast<WindowInstance*>(handle)->controller->view()->hide();
    return 0;
}

// The host sets the window's size (never below its minimum size); 1 for a size of nothing.
int resizeWindow(LV2UI_Feature_Handle handle, int width, int height) {
    if (width <= 0 || height <= 0)
        return 1;
    static_cast<WindowInstance*>(handle)->controller->view()->resize(width, height);
    return 0;
}

const LV2UI_Idle_Interface idleInterface{idle};
const LV2UI_Show_Interface showInterface{show, hide};
const LV2UI_Resize resizeInterface{nullptr, resizeWindow};

const void* extensionData(const char* uri) {
    if (std::strcmp(uri, LV2_UI__idleInterface) == 0)
        return &idleInterface;
    if (std::strcmp(uri, LV2_UI__showInterface) == 0)
        return &showInterface;
    if (std::strcmp(uri, LV2_UI__resize) == 0)
        return &resizeInterface;
    return nullptr;
}

const LV2UI_Descriptor descriptor{uiURI, instantiate, cleanup, nullptr, extensionData};

} // namespace

LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &descriptor : nullptr;
}
