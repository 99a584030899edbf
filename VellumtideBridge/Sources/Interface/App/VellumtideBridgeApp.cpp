#include "VellumtideBridge/Sources/Interface/App/VellumtideBridgeApp.h"

#include "Platform/Desktop/QtWidgetsWindowActivator.h"
#include "Platform/UI/Fonts.h"
#include "Platform/UI/Palette.h"
#include "VellumtideBridge/Sources/Interface/Window/BridgeMainWindow.h"

#include <QApplication>
#include <QStyleFactory>
#include <QToolTip>

namespace {

QPalette darkPalette() {
    namespace palette = vt::ui::palette;
    QPalette dark;
    const auto set = [&dark](QPalette::ColorRole role, const QColor& color, const QColor& disabled) {
        dark.setColor(QPalette::Active, role, color);
        dark.setColor(QPalette::Inactive, role, color);
        dark.setColor(QPalette::Disabled, role, disabled);
    };
    set(QPalette::Window, palette::background, palette::background);
    set(QPalette::WindowText, Qt::white, vt::ui::white(0.35));
    set(QPalette::Base, palette::surface, palette::surface);
    set(QPalette::AlternateBase, palette::surface2, palette::surface2);
    set(QPalette::Text, Qt::white, vt::ui::white(0.35));
    set(QPalette::PlaceholderText, vt::ui::white(0.3), vt::ui::white(0.2));
    set(QPalette::Button, palette::surface2, palette::surface);
    set(QPalette::ButtonText, Qt::white, vt::ui::white(0.35));
    set(QPalette::Highlight, palette::cyan, vt::ui::white(0.2));
    set(QPalette::HighlightedText, Qt::black, vt::ui::white(0.35));
    set(QPalette::ToolTipBase, palette::surface2, palette::surface2);
    set(QPalette::ToolTipText, Qt::white, Qt::white);
    set(QPalette::Link, palette::cyan, palette::cyan);
    set(QPalette::BrightText, palette::danger, palette::danger);
    return dark;
}

} // namespace

VellumtideBridgeApp::VellumtideBridgeApp(BridgeViewModel& model)
    : window_(std::make_unique<BridgeMainWindow>(model)) {
    if (auto activator =
            std::dynamic_pointer_cast<vt::QtWidgetsWindowActivator>(model.dependencies().windowActivator))
        activator->setWindow(window_.get());
}

VellumtideBridgeApp::~VellumtideBridgeApp() = default;

void VellumtideBridgeApp::start(bool hidden) {
    if (!hidden)
        window_->show();
}

void VellumtideBridgeApp::applyLook(QApplication& application) {
    vt::ui::installBundledFonts();
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        application.setStyle(fusion);
    application.setPalette(darkPalette());
    QToolTip::setPalette(darkPalette());
    application.setFont(vt::ui::systemFont(13));
}

int VellumtideBridgeApp::run(QApplication& application, const BridgeDependencyMaker& makeDependencies) {
    applyLook(application);
    QApplication::setQuitOnLastWindowClosed(true);
    const bool hidden = BridgeProgramArguments::parse(QApplication::arguments()).hidden;
    auto activator = std::make_shared<vt::QtWidgetsWindowActivator>();
    std::unique_ptr<VellumtideBridgeApp> entry;
    return runBridgeProgram(
        [&makeDependencies, activator](const vt::Paths& paths) {
            BridgeViewModel::Dependencies deps = makeDependencies(paths);
            deps.windowActivator = activator;
            return deps;
        },
        [&application, &entry, hidden](BridgeViewModel& model) {
            entry = std::make_unique<VellumtideBridgeApp>(model);
            // The window goes before the controller it shows.
            QObject::connect(&application, &QCoreApplication::aboutToQuit, &application,
                             [&entry] { entry.reset(); });
            entry->start(hidden);
        });
}
