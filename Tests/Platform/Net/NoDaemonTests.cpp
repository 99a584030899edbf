#include "Platform/Net/DnsSdBrowser.h"
#include "Tests/Support/FakePhone/QtTestLoop.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using vt::net::DnsSdBrowserState;
using vt::net::DnsSdBrowserStateUpdate;

namespace {

// A system bus address where nothing listens stands for a machine without the daemon. It is set
// before any test runs, since the bus library reads it only once per process.
const bool busAddressSet = [] {
    return ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/vellumtide-test-bus", 1) == 0;
}();

TEST(DnsSdBrowserTest, ReportsWaitingWithoutADaemonAndNothingAfterCancel) {
    vt::test::testApplication();
    ASSERT_TRUE(busAddressSet);
    vt::net::AvahiBrowserFactory factory;
    auto browser = factory.makeBrowser("_vellumtide._tcp");
    std::vector<DnsSdBrowserStateUpdate> states;
    browser->setStateHandler([&](const DnsSdBrowserStateUpdate& update) { states.push_back(update); });
    browser->start();
    EXPECT_TRUE(states.empty()) << "reports arrive on a later loop turn";
    vt::test::turnLoopUntil([&] { return !states.empty(); }, vt::test::patience);
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.front().state, DnsSdBrowserState::waiting);
    EXPECT_FALSE(states.front().errorDescription.empty());
    // It keeps trying (every 2 s) but says so only once: each report raises an alert.
    vt::test::turnLoopUntil([] { return false; }, 2500ms);
    EXPECT_EQ(states.size(), 1u);

    auto second = factory.makeBrowser("_vellumtide._tcp");
    std::vector<DnsSdBrowserStateUpdate> quiet;
    second->setStateHandler([&](const DnsSdBrowserStateUpdate& update) { quiet.push_back(update); });
    second->start();
    second->cancel(); // its queued waiting report is dropped
    vt::test::turnLoopUntil([] { return false; }, 300ms);
    EXPECT_TRUE(quiet.empty());
}

} // namespace
