// The desktop program's run with the outside world shut off (a browser that finds nothing, no
// network interfaces), for the two-process tests of the URL hand-off. It prints "ready" once
// the controller exists, then "activated" for each window activation, "editing:<UUID>" and
// "status:<text>" as the controller changes them. With VT_PROBE_QUIT_WHILE_RENDERING set, it
// applies an edit to the first sample with a render slowed down by a second, and quits while
// that render runs.

#include "Platform/Async/Background.h"
#include "Platform/Async/Spawn.h"
#include "VellumtideBridge/Sources/Controller/BridgeDependencies.h"
#include "VellumtideBridge/Sources/Controller/BridgeProgram.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

class SilentBrowser final : public vt::net::DnsSdBrowser {
public:
    void setStateHandler(StateHandler) override {}
    void setResultsHandler(ResultsHandler) override {}
    void start() override {}
    void cancel() override {}
};

class SilentBrowserFactory final : public vt::net::DnsSdBrowserFactory {
public:
    std::unique_ptr<vt::net::DnsSdBrowser> makeBrowser(const std::string&) override {
        return std::make_unique<SilentBrowser>();
    }
};

void say(const std::string& line);

class PrintingActivator final : public vt::WindowActivator {
public:
    void activate() override { say("activated"); }
};

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

bool quitsWhileRendering() {
    return qEnvironmentVariableIsSet("VT_PROBE_QUIT_WHILE_RENDERING");
}

BridgeViewModel::Dependencies isolatedDependencies(const vt::Paths& paths) {
    auto deps = standardBridgeDependencies(paths);
    if (quitsWhileRendering()) {
        auto render = deps.audio.render;
        deps.audio.render = [render](std::filesystem::path input, std::filesystem::path output,
                                     BridgeSampleEdit edit) -> QCoro::Task<void> {
            co_await vt::runInBackground(vt::userInitiatedPool(),
                                         [] { std::this_thread::sleep_for(std::chrono::seconds(1)); });
            co_await render(std::move(input), std::move(output), edit);
        };
    }
    deps.browserFactory = std::make_shared<SilentBrowserFactory>();
    deps.interfaces =
        std::make_shared<vt::net::FixedInterfaceSource>(std::vector<vt::net::InterfaceAddress>{});
    deps.windowActivator = std::make_shared<PrintingActivator>();
    return deps;
}

void report(BridgeViewModel& model) {
    QObject::connect(&model, &BridgeViewModel::changed, &model, [&model](BridgeViewModel::Field field) {
        if (field == BridgeViewModel::Field::statusMessage)
            say("status:" + model.statusMessage());
        if (field == BridgeViewModel::Field::editingSample && model.editingSample())
            say("editing:" + model.editingSample()->id.string());
    });
    say("ready");
    if (!quitsWhileRendering() || model.samples().empty())
        return;
    BridgeSampleEdit edit;
    edit.startTime = 0.25;
    vt::spawn([&model, edit]() -> QCoro::Task<> { co_await model.applyEdit(edit, model.samples()[0]); });
    QTimer::singleShot(200, &model, [&model] {
        say(model.renderingEditSampleID() ? "quit while rendering" : "quit");
        QCoreApplication::quit();
    });
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return runBridgeProgram(isolatedDependencies, report);
}
