// What the benchmarks that run the controller share: a millisecond clock, a phone browser that
// finds nothing (no DNS-SD traffic while the figures are taken) and the rest of a controller's
// quiet dependencies.
#pragma once

#include "Platform/Core/Dates.h"
#include "Platform/Core/SettingsStore.h"
#include "Platform/Net/DnsSdBrowser.h"
#include "Platform/Net/NetworkInterfaces.h"
#include "VellumtideBridge/Sources/Controller/BridgeViewModel.h"

#include <chrono>
#include <memory>
#include <string>

namespace vt::bench {

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A browser that starts and never finds anything, for a window that browses as it shows.
class QuietBrowser final : public vt::net::DnsSdBrowser {
public:
    void setStateHandler(StateHandler) override {}
    void setResultsHandler(ResultsHandler) override {}
    void start() override {}
    void cancel() override {}
};

class NoBrowsers final : public vt::net::DnsSdBrowserFactory {
public:
    std::unique_ptr<vt::net::DnsSdBrowser> makeBrowser(const std::string&) override {
        return std::make_unique<QuietBrowser>();
    }
};

// Settings in memory, the system's wall clock, no phone to find and no network interface: the
// caller adds its scheduler's kind, the audio and whatever else it measures.
inline BridgeViewModel::Dependencies quietDependencies(const vt::Paths& paths,
                                                       std::shared_ptr<vt::Scheduler> scheduler) {
    BridgeViewModel::Dependencies deps;
    deps.paths = paths;
    deps.settings = std::make_shared<vt::MemorySettingsStore>();
    deps.scheduler = std::move(scheduler);
    deps.wallClock = std::make_shared<vt::SystemWallClock>();
    deps.browserFactory = std::make_shared<NoBrowsers>();
    deps.addressBook = std::make_shared<vt::net::ServiceAddressBook>();
    deps.interfaces =
        std::make_shared<vt::net::FixedInterfaceSource>(std::vector<vt::net::InterfaceAddress>{});
    return deps;
}

} // namespace vt::bench
