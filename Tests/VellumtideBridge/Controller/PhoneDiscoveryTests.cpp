// Discovery: the browser's states and results, the device list's merge, order and selection, the
// LAN sweep on loopback with a made-up interface, and the fallback loop on virtual time.

#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Controller/PhoneFixture.h"

#include <net/if.h>

namespace vt::test {
namespace {

using namespace std::chrono_literals;
using Field = BridgeViewModel::Field;
using net::DnsSdBrowserState;

net::DnsSdService service(const std::string& name, std::map<std::string, std::string> txt = {}) {
    net::DnsSdService found;
    found.name = name;
    found.type = "_vellumtide._tcp";
    found.domain = "local.";
    found.interfaceName = "lo";
    found.txtRecord = std::move(txt);
    return found;
}

std::vector<std::string> idsOf(const std::vector<VellumtideDevice>& devices) {
    std::vector<std::string> ids;
    for (const auto& device : devices)
        ids.push_back(device.id);
    return ids;
}

VellumtideDevice named(const std::string& id, const std::string& name) {
    return {id, name, VellumtideEndpoint::hostPort("127.0.0.1", 1), "detail", std::nullopt};
}

TEST_F(ControllerTest, BrowserStatesMapToFlagsAndTexts) {
    auto& m = start();
    settle();
    m.startBrowsing();
    m.startBrowsing();
    ASSERT_EQ(browsers->made, 1);
    FakeBrowser& browser = *browsers->last;
    EXPECT_TRUE(browser.started);
    EXPECT_EQ(m.discoveryMessage(), "Starting Bonjour browser");

    browser.state({DnsSdBrowserState::setup, {}});
    settle();
    EXPECT_EQ(m.discoveryMessage(), "setup");
    browser.state({DnsSdBrowserState::ready, {}});
    settle();
    EXPECT_TRUE(m.isBrowsing());
    EXPECT_EQ(m.statusMessage(), "Watch waiting for iPhone");
    EXPECT_EQ(m.discoveryMessage(), "Bonjour browser ready");
    m.setIsWatchModeEnabled(false);
    browser.state({DnsSdBrowserState::ready, {}});
    settle();
    EXPECT_EQ(m.statusMessage(), "Searching for Vellumtide");

    browser.state({DnsSdBrowserState::waiting, "No daemon."});
    settle();
    EXPECT_FALSE(m.isBrowsing());
    EXPECT_EQ(m.statusMessage(), "Waiting");
    EXPECT_EQ(m.discoveryMessage(), "Browser waiting: No daemon.");
    EXPECT_EQ(m.errorMessage(), "No daemon.");
    m.setErrorMessage(std::nullopt);
    browser.state({DnsSdBrowserState::failed, "Bad state."});
    settle();
    EXPECT_EQ(m.statusMessage(), "Browser failed");
    EXPECT_EQ(m.discoveryMessage(), "Browser failed: Bad state.");
    EXPECT_EQ(m.errorMessage(), "Bad state.");
    browser.state({DnsSdBrowserState::cancelled, {}});
    settle();
    EXPECT_EQ(m.discoveryMessage(), "Browser cancelled");
    EXPECT_EQ(m.statusMessage(), "Browser failed");

    // A failed browser stays until the user restarts discovery.
    m.startBrowsing();
    EXPECT_EQ(browsers->made, 1);
    browser.results({service("Pocket", {{"deviceID", "P"}})});
    settle();
    ASSERT_EQ(m.devices().size(), 1u);
    // Late reports of the browser that is replaced must change nothing.
    const auto staleState = browser.state;
    const auto staleResults = browser.results;
    record();
    m.restartBrowsing();
    EXPECT_EQ(*browsers->cancels, 1);
    EXPECT_EQ(browsers->made, 2);
    EXPECT_TRUE(m.devices().empty());
    EXPECT_FALSE(m.selectedDeviceID());
    EXPECT_EQ(m.statusMessage(), "Restarting discovery");
    EXPECT_NE(std::find(changes.begin(), changes.end(), Field::discoveryMessage), changes.end());

    staleState({DnsSdBrowserState::ready, {}});
    staleResults({service("Pocket", {{"deviceID", "P"}})});
    settle();
    EXPECT_TRUE(m.devices().empty());
    EXPECT_FALSE(m.isBrowsing());
    browsers->last->state({DnsSdBrowserState::ready, {}});
    settle();
    EXPECT_TRUE(m.isBrowsing());
}

TEST_F(ControllerTest, BrowseResultsMergeSortSelectAndCount) {
    auto& m = start();
    settle();
    m.setIsWatchModeEnabled(false);
    m.startBrowsing();
    settle();
    FakeBrowser& browser = *browsers->last;

    browser.results({service("Beta", {{"deviceID", "B"}}), service("alpha", {{"deviceID", "A"}})});
    settle();
    EXPECT_EQ(idsOf(m.devices()), (std::vector<std::string>{"phone|A", "phone|B"}));
    EXPECT_EQ(m.selectedDeviceID(), "phone|A");
    EXPECT_EQ(m.statusMessage(), "2 iPhones found");
    EXPECT_EQ(m.discoveryMessage(), "Found 2 Bonjour services");
    EXPECT_TRUE(probe(m).autoSyncTask);

    // Equal names keep their order of arrival; existing entries are not refreshed.
    m.setSelectedDeviceID("phone|B");
    browser.results({service("iPhone", {{"deviceID", "1"}}), service("Renamed", {{"deviceID", "A"}})});
    settle();
    browser.results({service("IPHONE", {{"deviceID", "2"}})});
    settle();
    EXPECT_EQ(idsOf(m.devices()), (std::vector<std::string>{"phone|A", "phone|B", "phone|1", "phone|2"}));
    EXPECT_EQ(m.devices()[0].name, "alpha");
    EXPECT_EQ(m.selectedDeviceID(), "phone|B");
    EXPECT_EQ(m.statusMessage(), "4 iPhones found");

    // A browse result that is no service gives no device; the detail counts every listed phone.
    m.restartBrowsing();
    m.merge({named("scan|10.0.0.2:51234", "Vellumtide 10.0.0.2")});
    m.applyBrowseResults(
        {VellumtideBrowseResult{VellumtideEndpoint::hostPort("10.0.0.3", 51234), std::nullopt}});
    EXPECT_EQ(m.devices().size(), 1u);
    EXPECT_EQ(m.statusMessage(), "1 iPhone found");
    EXPECT_EQ(m.discoveryMessage(), "Found 1 Bonjour service");
    m.restartBrowsing();
    m.applyBrowseResults({});
    EXPECT_EQ(m.statusMessage(), "Searching for Vellumtide");
    EXPECT_EQ(m.discoveryMessage(), "No Bonjour services found");

    // The same phone from sweep and browse is listed once; the first arrival stays.
    m.merge({named("phone|A", "Swept")});
    browsers->last->results({service("alpha", {{"deviceID", "A"}})});
    settle();
    ASSERT_EQ(m.devices().size(), 1u);
    EXPECT_EQ(m.devices()[0].name, "Swept");

    // Watch mode on: only "Waiting for iPhone" turns into "Background sync on".
    m.setIsWatchModeEnabled(true);
    m.setWatchMessage("Waiting for iPhone");
    m.setStatusMessage("kept");
    m.applyBrowseResults({});
    EXPECT_EQ(m.watchMessage(), "Background sync on");
    EXPECT_EQ(m.statusMessage(), "kept");
    m.setWatchMessage("Something else");
    m.applyBrowseResults({});
    EXPECT_EQ(m.watchMessage(), "Something else");

    // While a sync runs only the detail line is written.
    m.setIsWatchModeEnabled(false);
    m.setIsSyncing(true);
    m.setStatusMessage("syncing");
    m.applyBrowseResults({});
    EXPECT_EQ(m.statusMessage(), "syncing");
    m.setIsSyncing(false);
}

class LANSweepTest : public PhoneTest {
protected:
    LANSweepTest()
        : prefix(uniqueLoopbackPrefix()), first(prefix + ".5", VellumtideLANScanner::vellumtidePort),
          second(prefix + ".77", VellumtideLANScanner::vellumtidePort) {
        second.setIdentity(std::nullopt, std::nullopt);
        second.setReply("/health", FakeReply::ok("not the health record"));
        // A made-up interface, up and not loopback: the sweep covers prefix.1 to .254 on loopback.
        interfaces = std::make_shared<net::FixedInterfaceSource>(std::vector<net::InterfaceAddress>{
            {"test0", IFF_UP, net::SocketAddress::numeric(prefix + ".9", 0)},
            {"lo", IFF_UP | IFF_LOOPBACK, net::SocketAddress::numeric("127.0.0.1", 0)}});
    }

    // Starts a sweep; its probes wait for their time-outs on the virtual clock.
    QCoro::Task<> startSweep() {
        settle();
        timersBefore = scheduler->pendingTimers();
        return model->scanLAN();
    }

    // Runs a sweep to its end: once both phones have answered on real sockets (their probes drop
    // their time-outs), the silent hosts time out together.
    void sweep(QCoro::Task<> running) {
        ASSERT_TRUE(turnUntil([&] { return scheduler->pendingTimers() == timersBefore + 254 - 2; }));
        scheduler->advanceBy(450ms);
        awaitVoid(std::move(running));
    }

    std::string prefix;
    FakePhone first;
    FakePhone second;
    std::size_t timersBefore = 0;
};

TEST_F(LANSweepTest, FindsThePhonesOnTheLoopbackNetworkAndWritesTexts) {
    auto& m = start();
    settle();
    m.setIsWatchModeEnabled(false);
    auto running = startSweep();
    EXPECT_TRUE(m.isScanningLAN());
    EXPECT_EQ(m.statusMessage(), "Scanning LAN");
    EXPECT_EQ(m.discoveryMessage(), "Trying port 51234 on local Wi-Fi");
    record();
    awaitVoid(m.scanLAN()); // pressing "LAN" again meanwhile does nothing
    EXPECT_TRUE(changes.empty());
    sweep(std::move(running));

    EXPECT_FALSE(m.isScanningLAN());
    EXPECT_EQ(m.statusMessage(), "2 iPhones found by LAN scan");
    EXPECT_EQ(m.discoveryMessage(), "Bonjour fallback found 2 devices");
    const std::string port = std::to_string(VellumtideLANScanner::vellumtidePort);
    EXPECT_EQ(idsOf(m.devices()),
              (std::vector<std::string>{"phone|FAKE-PHONE-1", "scan|" + prefix + ".77:" + port}));
    EXPECT_EQ(m.devices()[1].name, "Vellumtide " + prefix + ".77");
    EXPECT_EQ(m.devices()[0].endpoint, VellumtideEndpoint::hostPort(prefix + ".5", 51234));
    EXPECT_EQ(m.selectedDeviceID(), "phone|FAKE-PHONE-1");
    EXPECT_TRUE(probe(m).autoSyncTask);

    // Found again: listed once, and the texts still count this sweep's answers.
    probe(m).autoSyncTask->cancel();
    first.setIdentity(std::string("SECOND-ID"), std::string("Another"));
    second.clearReplies();
    second.setIdentity(std::string("FAKE-PHONE-1"), std::string("Same Phone"));
    sweep(startSweep());
    EXPECT_EQ(m.devices().size(), 3u);
    EXPECT_EQ(m.statusMessage(), "2 iPhones found by LAN scan");
}

TEST_F(ControllerTest, FallbackLoopSweepsWhileNoPhoneIsKnown) {
    auto& m = start();
    settle();
    m.setIsWatchModeEnabled(false);
    int sweeps = 0;
    QObject::connect(model.get(), &BridgeViewModel::changed, model.get(), [&](Field field) {
        if (field == Field::isScanningLAN && model->isScanningLAN())
            ++sweeps;
    });
    m.startBrowsing();
    settle();
    EXPECT_EQ(sweeps, 1);
    EXPECT_EQ(m.statusMessage(), "No iPhone found");
    EXPECT_EQ(m.discoveryMessage(), "LAN scan found nothing");
    scheduler->advanceBy(2500ms); // the delayed second chance
    EXPECT_EQ(sweeps, 2);
    scheduler->advanceBy(5500ms); // 8 s after the first pass
    EXPECT_EQ(sweeps, 3);

    m.merge({named("phone|A", "alpha")});
    scheduler->advanceBy(24s);
    EXPECT_EQ(sweeps, 3);

    m.restartBrowsing();
    settle();
    EXPECT_EQ(sweeps, 4);
    scheduler->advanceBy(2500ms);
    EXPECT_EQ(sweeps, 5);
}

} // namespace
} // namespace vt::test
