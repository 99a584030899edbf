#include "Platform/Async/Scheduler.h"
#include "Tests/Support/FakePhone/FakePhone.h"
#include "Tests/Support/FakePhone/QtTestLoop.h"
#include "VellumtideBridge/Sources/PhoneLink/VellumtideLANScanner.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>

using namespace std::chrono_literals;
using vt::net::FixedInterfaceSource;
using vt::net::InterfaceAddress;
using vt::test::FakePhone;
using vt::test::FakeReply;

namespace {

InterfaceAddress entry(const std::string& name, const std::string& host, unsigned flags) {
    return {name, flags, vt::net::SocketAddress::numeric(host, 0)};
}

TEST(LANScannerHostsTest, OneSweepPerDistinctIPv4NetworkOfUpNonLoopbackInterfaces) {
    const FixedInterfaceSource source({{
        entry("wlan0", "192.168.1.5", IFF_UP),
        entry("eth0", "192.168.1.9", IFF_UP | IFF_RUNNING),
        entry("lo", "127.0.0.1", IFF_UP | IFF_LOOPBACK),
        entry("eth1", "10.0.0.7", IFF_UP),
        entry("down0", "172.16.0.4", 0),
        entry("wlan0", "fe80::1", IFF_UP),
        InterfaceAddress{"noaddr", IFF_UP, std::nullopt},
    }});
    const auto hosts = VellumtideLANScanner::hostsToProbe(source);
    ASSERT_EQ(hosts.size(), 508u);
    EXPECT_EQ(hosts.front(), "192.168.1.1");
    EXPECT_EQ(hosts[253], "192.168.1.254");
    EXPECT_EQ(hosts[254], "10.0.0.1");
    EXPECT_EQ(hosts.back(), "10.0.0.254");

    EXPECT_TRUE(VellumtideLANScanner::hostsToProbe(FixedInterfaceSource(std::nullopt)).empty());
    EXPECT_TRUE(VellumtideLANScanner::hostsToProbe(
                    FixedInterfaceSource(std::vector<InterfaceAddress>{
                        entry("lo", "127.0.0.1", IFF_UP | IFF_LOOPBACK), entry("eth0", "::1", IFF_UP)}))
                    .empty());
}

TEST(LANScannerHostsTest, DeviceRecordsFromHealthReplies) {
    auto device = VellumtideLANScanner::deviceFor(
        "192.168.1.23", 51234, R"({"status":"ok","deviceID":"ABC","deviceName":"Studio"})");
    EXPECT_EQ(device.id, "phone|ABC");
    EXPECT_EQ(device.name, "Studio");
    EXPECT_EQ(device.detail, "192.168.1.23:51234");
    EXPECT_EQ(device.pairingID, "ABC");
    EXPECT_EQ(device.endpoint, VellumtideEndpoint::hostPort("192.168.1.23", 51234));

    for (const std::string body : {"not json", R"({"deviceID":"ABC"})", ""}) {
        device = VellumtideLANScanner::deviceFor("10.0.0.2", 51234, body);
        EXPECT_EQ(device.id, "scan|10.0.0.2:51234");
        EXPECT_EQ(device.name, "Vellumtide 10.0.0.2");
        EXPECT_FALSE(device.pairingID.has_value());
    }
}

// Sweeps on loopback, timed on a virtual clock: the hosts that answer do so on real sockets, the
// silent ones wait for their probe time-out together.
class LANScannerSweepTest : public ::testing::Test {
protected:
    void SetUp() override { vt::test::testApplication(); }

    // Waits until `answering` probes have ended (each drops its time-out), then runs the clock.
    std::vector<VellumtideDevice> finish(QCoro::Task<std::vector<VellumtideDevice>>& sweeping,
                                         std::size_t answering, std::size_t probed = 254) {
        EXPECT_TRUE(vt::test::turnLoopUntil([&] { return time.pendingTimers() == probed - answering; },
                                            vt::test::patience));
        bool ended = false;
        std::vector<VellumtideDevice> found;
        vt::spawn([&]() -> QCoro::Task<> {
            found = co_await std::move(sweeping);
            ended = true;
        });
        time.advanceBy(449ms);
        EXPECT_FALSE(ended) << "silent hosts are given the whole probe time-out";
        time.advanceBy(1ms);
        EXPECT_TRUE(vt::test::turnLoopUntil([&] { return ended; }, vt::test::patience)) << "and no more";
        return found;
    }

    vt::VirtualScheduler time;
    const std::string prefix = vt::test::uniqueLoopbackPrefix();
    // The machine's interfaces are never read: one made-up address, up and not loopback.
    const FixedInterfaceSource source{{{entry("test0", prefix + ".9", IFF_UP)}}};
};

TEST_F(LANScannerSweepTest, FindsThePhonesOnALoopbackNetworkWithinTheProbeTimeOut) {
    FakePhone first(prefix + ".5");
    FakePhone second(prefix + ".77", first.port());
    second.setIdentity(std::nullopt, std::nullopt);
    second.setReply("/health", FakeReply::ok("hello"));
    FakePhone refusing(prefix + ".90", first.port());
    refusing.setReply("/health", FakeReply::status("HTTP/1.1 503 Busy"));

    VellumtideLANScanner scanner(time, source, first.port());
    auto sweeping = scanner.scan();
    const auto found = finish(sweeping, 3);
    std::vector<std::string> ids;
    for (const auto& device : found)
        ids.push_back(device.id);
    std::sort(ids.begin(), ids.end());
    const std::string port = std::to_string(first.port());
    EXPECT_EQ(ids, (std::vector<std::string>{"phone|FAKE-PHONE-1", "scan|" + prefix + ".77:" + port}));
    EXPECT_EQ(first.requestCount("/health"), 1u);
    EXPECT_EQ(refusing.requestCount("/health"), 1u);
}

TEST_F(LANScannerSweepTest, TwoNetworksAreProbedAllAtOnceWithinOneTimeOut) {
    const std::string neighbour = vt::test::neighbourLoopbackPrefix(prefix);
    FakePhone phone(neighbour + ".200");
    const FixedInterfaceSource twoNetworks{
        {{entry("test0", prefix + ".9", IFF_UP), entry("test1", neighbour + ".9", IFF_UP)}}};
    VellumtideLANScanner scanner(time, twoNetworks, phone.port());
    auto sweeping = scanner.scan();
    // Every silent host of both networks waits on its time-out at the same moment.
    const auto found = finish(sweeping, 1, 508);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.front().detail, neighbour + ".200:" + std::to_string(phone.port()));
}

TEST(LANScannerLimitsTest, ProbesInFlightFollowTheOpenFileLimitLessAMargin) {
    EXPECT_EQ(VellumtideLANScanner::probesInFlight(20000), 20000 - VellumtideLANScanner::descriptorMargin);
    EXPECT_GE(VellumtideLANScanner::probesInFlight(1024), 508u)
        << "two networks at once under a common limit";
    EXPECT_EQ(VellumtideLANScanner::probesInFlight(300), 300 - VellumtideLANScanner::descriptorMargin);
    EXPECT_EQ(VellumtideLANScanner::probesInFlight(100), 16u) << "a tiny limit still sweeps, slowly";
}

TEST_F(LANScannerSweepTest, ASweepOutlivesItsScanner) {
    FakePhone phone(prefix + ".5");
    auto scanner = std::make_unique<VellumtideLANScanner>(time, source, phone.port());
    auto sweeping = scanner->scan();
    scanner.reset();
    const auto found = finish(sweeping, 1);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.front().id, "phone|FAKE-PHONE-1");
}

} // namespace
