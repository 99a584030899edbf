#include "Platform/Net/DnsSdBrowser.h"
#include "Platform/Net/NetworkInterfaces.h"
#include "Tests/Support/FakePhone/QtTestLoop.h"

#include <QProcess>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono_literals;
using vt::net::DnsSdBrowserState;
using vt::net::DnsSdBrowserStateUpdate;
using vt::net::DnsSdService;

namespace {

struct Recorder {
    std::vector<DnsSdBrowserStateUpdate> states;
    std::vector<std::vector<DnsSdService>> results;

    void attach(vt::net::DnsSdBrowser& browser) {
        browser.setStateHandler([this](const DnsSdBrowserStateUpdate& update) { states.push_back(update); });
        browser.setResultsHandler([this](const std::vector<DnsSdService>& set) { results.push_back(set); });
    }
    const DnsSdService* find(const std::string& name) const {
        if (results.empty())
            return nullptr;
        for (const auto& service : results.back())
            if (service.name == name)
                return &service;
        return nullptr;
    }
};

bool avahiAvailable() {
    return std::getenv("VT_TEST_AVAHI") != nullptr;
}

TEST(DnsSdBrowserTest, FindsAndResolvesAPublishedPhoneOnLoopbackAvahi) {
    if (!avahiAvailable())
        GTEST_SKIP()
            << "VT_TEST_AVAHI is not set: no private avahi-daemon on loopback (see scripts/test-services.sh)";
    vt::test::testApplication();
    // A name of this run's own: runs side by side on one loopback see each other's services.
    const std::string name =
        "Test Phone " + std::to_string(::getpid()) + " " + std::to_string(std::random_device()() % 1'000'000);
    QProcess publisher;
    publisher.start("avahi-publish", {"-s", QString::fromStdString(name), "_vellumtide._tcp", "51234",
                                      "deviceID=ABC", "device=Studio Phone"});
    ASSERT_TRUE(publisher.waitForStarted(vt::test::patienceMilliseconds));

    auto book = std::make_shared<vt::net::ServiceAddressBook>();
    vt::net::AvahiBrowserFactory factory(book);
    auto browser = factory.makeBrowser("_vellumtide._tcp");
    Recorder recorder;
    recorder.attach(*browser);
    browser->start();
    const bool found =
        vt::test::turnLoopUntil([&] { return recorder.find(name) != nullptr; }, vt::test::patience);
    publisher.kill();
    publisher.waitForFinished(2000);
    ASSERT_TRUE(found) << "the published service was not reported";

    ASSERT_FALSE(recorder.states.empty());
    EXPECT_EQ(recorder.states.front().state, DnsSdBrowserState::ready);
    const DnsSdService& service = *recorder.find(name);
    EXPECT_EQ(service.type, "_vellumtide._tcp");
    EXPECT_EQ(service.domain, "local.");
    EXPECT_EQ(service.interfaceName, "lo");
    EXPECT_EQ(service.txtRecord.at("deviceID"), "ABC");
    EXPECT_EQ(service.txtRecord.at("device"), "Studio Phone");
    ASSERT_TRUE(service.address.has_value());
    EXPECT_EQ(service.address->port(), 51234);
    EXPECT_EQ(service.address->hostText().rfind("127.", 0), 0u);
    const auto looked = book->lookup({name, "_vellumtide._tcp", "local.", "lo"});
    ASSERT_TRUE(looked.has_value());
    EXPECT_EQ(looked->port(), 51234);

    // After cancel nothing more is reported, also not the removal of the service.
    const auto reportsBefore = recorder.results.size() + recorder.states.size();
    browser->cancel();
    vt::test::turnLoopUntil([] { return false; }, 1500ms);
    EXPECT_EQ(recorder.results.size() + recorder.states.size(), reportsBefore);
}

TEST(NetworkHelpersTest, AddressBookAndOpenFileLimit) {
    vt::net::ServiceAddressBook book;
    const auto address = *vt::net::SocketAddress::numeric("127.0.0.5", 51234);
    book.set({"Pocket", "_vellumtide._tcp", "local.", "lo"}, address);
    EXPECT_EQ(book.lookup({"Pocket", "_vellumtide._tcp", "local.", "lo"})->hostText(), "127.0.0.5");
    // An endpoint without an interface still finds the service seen on one.
    EXPECT_TRUE(book.lookup({"Pocket", "_vellumtide._tcp", "local.", ""}).has_value());
    EXPECT_FALSE(book.lookup({"Other", "_vellumtide._tcp", "local.", ""}).has_value());
    book.remove({"Pocket", "_vellumtide._tcp", "local.", "lo"});
    EXPECT_FALSE(book.lookup({"Pocket", "_vellumtide._tcp", "local.", ""}).has_value());

    EXPECT_FALSE(vt::net::SocketAddress::numeric("phone.local", 1).has_value());
    EXPECT_EQ(vt::net::SocketAddress::numeric("::1", 8080)->port(), 8080);

    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
    const std::size_t limit = vt::net::raiseOpenFileLimit(before.rlim_cur + 16);
    if (before.rlim_max == RLIM_INFINITY || before.rlim_max >= before.rlim_cur + 16)
        EXPECT_GE(limit, before.rlim_cur + 16);
    else
        EXPECT_EQ(limit, before.rlim_max);
}

} // namespace
