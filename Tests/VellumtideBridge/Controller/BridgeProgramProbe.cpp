// The desktop program's run with the outside world shut off (a browser that finds nothing, no
// network interfaces), for the two-process tests of the URL hand-off, of quitting and of crashes.
// It prints "ready" once the controller exists, then "activated" for each window activation,
// "editing:<UUID>" and "status:<text>" as the controller changes them.
// - VT_PROBE_QUIT_WHILE_RENDERING: it applies an edit to the first sample with a render slowed
//   down by a second and, 0.2 s later, quits ("quit while rendering"), or with the value "signal"
//   says "rendering" and waits for the test's signal.
// - VT_PROBE_EDIT_CYCLE: it edits the samples "again" (one trim after another) and "fresh"
//   (edited, then reset) over and over, saying "applied" after each, until it is killed. Each
//   render takes 20 ms longer after its file is written, as on a slow disk.
// - VT_PROBE_DELETE_RUN: it says "deleting" and deletes ten of the shown samples, newest first,
//   one every 3 ms without waiting for the ones before, then waits to be killed.
// - VT_PROBE_CHOP_IMPORT_CYCLE: a phone of its own on loopback lists the library's samples with
//   chops that change at every sync (a kept chop's times, a chop dropped, a new one); it syncs
//   with it over and over, saying "synced" after each, until it is killed. Renders are slowed
//   down as for the edit cycle.

#include "Platform/Async/Background.h"
#include "Platform/Async/Spawn.h"
#include "Platform/Core/AtomicFile.h"
#include "Platform/Desktop/QuitSignals.h"
#include "Tests/Support/FakePhone/FakePhone.h"
#include "VellumtideBridge/Sources/Controller/BridgeDependencies.h"
#include "VellumtideBridge/Sources/Controller/BridgeProgram.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <qcoro/qcorotimer.h>
#include <set>
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

bool waitsForSignal() {
    return qEnvironmentVariable("VT_PROBE_QUIT_WHILE_RENDERING") == QLatin1String("signal");
}

bool cyclesEdits() {
    return qEnvironmentVariableIsSet("VT_PROBE_EDIT_CYCLE");
}

bool cyclesChopImports() {
    return qEnvironmentVariableIsSet("VT_PROBE_CHOP_IMPORT_CYCLE");
}

constexpr const char* phoneID = "FAKE-PHONE-1";
constexpr const char* phoneToken = "token-1";

QCoro::Task<> pause(std::chrono::milliseconds length) {
    return vt::runInBackground(vt::userInitiatedPool(), [length] { std::this_thread::sleep_for(length); });
}

BridgeViewModel::Dependencies isolatedDependencies(const vt::Paths& paths) {
    auto deps = standardBridgeDependencies(paths);
    if (quitsWhileRendering() || cyclesEdits() || cyclesChopImports()) {
        auto render = deps.audio.render;
        deps.audio.render = [render](std::filesystem::path input, std::filesystem::path output,
                                     BridgeSampleEdit edit) -> QCoro::Task<void> {
            if (quitsWhileRendering())
                co_await pause(std::chrono::seconds(1));
            co_await render(std::move(input), std::move(output), edit);
            if (cyclesEdits() || cyclesChopImports())
                co_await pause(std::chrono::milliseconds(20));
        };
    }
    if (cyclesChopImports())
        BridgePairingStore(*deps.settings).setToken(phoneID, phoneToken);
    deps.browserFactory = std::make_shared<SilentBrowserFactory>();
    deps.interfaces =
        std::make_shared<vt::net::FixedInterfaceSource>(std::vector<vt::net::InterfaceAddress>{});
    deps.windowActivator = std::make_shared<PrintingActivator>();
    return deps;
}

// Applies the edit after the one the sample holds now, over and over.
QCoro::Task<> cycleEdits(BridgeViewModel& model, std::string title, std::vector<BridgeSampleEdit> edits) {
    for (;;) {
        const auto& shown = model.samples();
        auto sample =
            std::find_if(shown.begin(), shown.end(), [&](const SampleItem& s) { return s.title == title; });
        if (sample != shown.end()) {
            auto current = std::find(edits.begin(), edits.end(), sample->edit);
            const std::size_t next =
                current == edits.end()
                    ? 0
                    : (static_cast<std::size_t>(current - edits.begin()) + 1) % edits.size();
            if (co_await model.applyEdit(edits[next], *sample))
                say("applied");
        }
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
    }
}

void startEditCycles(BridgeViewModel& model) {
    BridgeSampleEdit early, late, faded;
    early.startTime = 0.01;
    late.startTime = 0.03;
    faded.startTime = 0.02;
    faded.fadeIn = 0.1;
    faded.normalize = true;
    BridgeSampleEdit trimmed;
    trimmed.startTime = 0.05;
    trimmed.fadeOut = 0.2;
    vt::spawn(
        [&model, edits = std::vector{early, late, faded}] { return cycleEdits(model, "again", edits); });
    vt::spawn([&model, edits = std::vector{trimmed, BridgeSampleEdit::neutral()}] {
        return cycleEdits(model, "fresh", edits);
    });
}

bool runsDeletes() {
    return qEnvironmentVariableIsSet("VT_PROBE_DELETE_RUN");
}

QCoro::Task<> deleteTen(BridgeViewModel& model) {
    say("deleting");
    std::set<vt::Uuid> asked; // shown until their deletion is stored
    for (int deleted = 0; deleted < 10; ++deleted) {
        const auto& shown = model.samples();
        auto next = std::find_if(shown.begin(), shown.end(),
                                 [&](const SampleItem& sample) { return !asked.count(sample.id); });
        if (next == shown.end())
            co_return;
        asked.insert(next->id);
        model.deleteSample(*next);
        co_await QCoro::sleepFor(std::chrono::milliseconds(3));
    }
}

// The chops the phone lists for every sample in a round: three sets that follow one another.
std::vector<BridgeSampleChop> phoneChops(std::size_t round) {
    auto chop = [](const char* id, std::int64_t index, double start, double end) {
        BridgeSampleChop made;
        made.id = *vt::Uuid::parse(id);
        made.index = index;
        made.startTime = start;
        made.endTime = end;
        made.strength = 0.5;
        return made;
    };
    constexpr const char* kept = "0C000000-0000-4000-8000-000000000001";
    constexpr const char* dropped = "0C000000-0000-4000-8000-000000000002";
    constexpr const char* added = "0C000000-0000-4000-8000-000000000003";
    switch (round % 3) {
    case 0:
        return {chop(kept, 0, 0.0, 0.3), chop(dropped, 1, 0.3, 0.6)};
    case 1:
        return {chop(kept, 0, 0.1, 0.5), chop(dropped, 1, 0.5, 0.9)};
    default:
        return {chop(kept, 0, 0.05, 0.4), chop(added, 1, 0.4, 0.8)};
    }
}

// Syncs with a phone that serves the library's own files and changes its chops every round.
QCoro::Task<> cycleChopImports(BridgeViewModel& model, std::shared_ptr<vt::test::FakePhone> phone) {
    std::vector<SampleItem> listed = model.samples();
    for (auto& sample : listed) {
        const std::string bytes = vt::readWholeFile(model.rawSampleURL(sample)).value_or(std::string());
        phone->setFile(sample.fileName, bytes);
        sample.byteCount = static_cast<std::int64_t>(bytes.size());
        sample.analysis = {};
        sample.isChopEnabled = true;
    }
    const VellumtideDevice device{std::string("phone|") + phoneID, "Studio Phone", phone->endpoint(),
                                  "local. via lo", phoneID};
    for (std::size_t round = 0;; ++round) {
        for (auto& sample : listed) {
            sample.chops = phoneChops(round);
            sample.chopSensitivity = 0.3 + 0.1 * static_cast<double>(round % 3);
        }
        phone->setLibrary(listed);
        co_await model.sync(device, BridgeViewModel::SyncMode::automatic);
        say("synced");
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
    }
}

void report(BridgeViewModel& model) {
    QObject::connect(&model, &BridgeViewModel::changed, &model, [&model](BridgeViewModel::Field field) {
        if (field == BridgeViewModel::Field::statusMessage)
            say("status:" + model.statusMessage());
        if (field == BridgeViewModel::Field::editingSample && model.editingSample())
            say("editing:" + model.editingSample()->id.string());
    });
    say("ready");
    if (cyclesEdits())
        startEditCycles(model);
    if (runsDeletes())
        vt::spawn([&model] { return deleteTen(model); });
    if (cyclesChopImports())
        vt::spawn([&model, phone = std::make_shared<vt::test::FakePhone>()] {
            return cycleChopImports(model, phone);
        });
    if (!quitsWhileRendering() || model.samples().empty())
        return;
    BridgeSampleEdit edit;
    edit.startTime = 0.25;
    vt::spawn([&model, edit]() -> QCoro::Task<> { co_await model.applyEdit(edit, model.samples()[0]); });
    QTimer::singleShot(200, &model, [&model] {
        const bool rendering = model.renderingEditSampleID().has_value();
        if (waitsForSignal()) {
            say(rendering ? "rendering" : "not rendering");
            return;
        }
        say(rendering ? "quit while rendering" : "quit");
        QCoreApplication::quit();
    });
}

} // namespace

int main(int argc, char** argv) {
    vt::catchQuitSignals();
    QCoreApplication app(argc, argv);
    return runBridgeProgram(isolatedDependencies, report);
}
