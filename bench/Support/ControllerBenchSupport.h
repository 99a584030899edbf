// What the benchmarks that run the headless controller share: a millisecond clock and a phone
// browser that finds nothing (no DNS-SD traffic while the figures are taken).
#pragma once

#include "Platform/Net/DnsSdBrowser.h"

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

} // namespace vt::bench
