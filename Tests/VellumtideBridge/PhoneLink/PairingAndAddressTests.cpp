#include "Platform/Core/SettingsStore.h"
#include "Tests/Support/TemporaryFolder.h"
#include "VellumtideBridge/Sources/PhoneLink/BridgePairing.h"
#include "VellumtideBridge/Sources/PhoneLink/PhoneLinkTexts.h"
#include "VellumtideBridge/Sources/PhoneLink/VellumtideHTTPClient.h"

#include <QVariantMap>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

TEST(PairingStoreTest, KeepsOneTokenPerPhoneAndTreatsUnreadableValuesAsEmpty) {
    vt::MemorySettingsStore settings;
    BridgePairingStore store(settings);
    EXPECT_TRUE(store.tokens().empty());
    store.setToken("ABC", "t1");
    store.setToken("DEF", "");
    store.setToken("ABC", "t2");
    EXPECT_EQ(store.tokens(), (std::map<std::string, std::string>{{"ABC", "t2"}, {"DEF", ""}}));
    EXPECT_EQ(store.token("DEF"), "");
    store.removeToken("ABC");
    EXPECT_FALSE(store.token("ABC").has_value());

    // A dictionary holding a non-text value counts as empty; removing rewrites it as empty.
    QVariantMap mixed;
    mixed.insert("ABC", QString("t"));
    mixed.insert("NUM", 5);
    settings.setValue("VellumtideBridge.pairedPhoneTokens", mixed);
    EXPECT_TRUE(store.tokens().empty());
    store.removeToken("missing");
    EXPECT_EQ(settings.value("VellumtideBridge.pairedPhoneTokens")->toMap().size(), 0);
    settings.setValue("VellumtideBridge.pairedPhoneTokens", QString("not a dictionary"));
    EXPECT_TRUE(store.tokens().empty());
}

TEST(PairingStoreTest, TokenFileIsReadableByTheOwnerOnly) {
    vt::test::TemporaryFolder folder;
    const auto path = folder / "settings.ini";
    {
        vt::IniSettingsStore settings(QString::fromStdString(path.string()));
        BridgePairingStore store(settings);
        store.setToken("ABC", "secret");
    }
    const auto permissions = std::filesystem::status(path).permissions();
    using std::filesystem::perms;
    EXPECT_EQ(permissions & (perms::group_all | perms::others_all), perms::none);
    vt::IniSettingsStore reopened(QString::fromStdString(path.string()));
    EXPECT_EQ(BridgePairingStore(reopened).token("ABC"), "secret");
}

TEST(PairingRulesTest, PairingIdsUnauthorizedErrorsAndRequests) {
    VellumtideDevice typed{"manual|10.0.0.2:51234", "Manual iPhone",
                           VellumtideEndpoint::hostPort("10.0.0.2", 51234), "10.0.0.2:51234", std::nullopt};
    EXPECT_FALSE(pairingIDOf(typed).has_value());
    VellumtideDevice browsed = typed;
    browsed.id = "phone|abc";
    EXPECT_EQ(pairingIDOf(browsed), "abc");
    browsed.pairingID = "XYZ";
    EXPECT_EQ(pairingIDOf(browsed), "XYZ");

    auto error = [](auto value) { return std::make_exception_ptr(value); };
    EXPECT_TRUE(isUnauthorized(error(VellumtideHTTPClientError::httpStatus("HTTP/1.1 401 Unauthorized"))));
    EXPECT_TRUE(isUnauthorized(error(VellumtideHTTPClientError::httpStatus("HTTP/1.1 401"))));
    EXPECT_FALSE(isUnauthorized(error(VellumtideHTTPClientError::httpStatus("HTTP/1.1 4010 X"))));
    EXPECT_FALSE(isUnauthorized(error(VellumtideHTTPClientError::timedOut())));
    EXPECT_FALSE(isUnauthorized(error(std::runtime_error(" 401 "))));
    EXPECT_FALSE(isUnauthorized(nullptr));

    const BridgePairingRequest first(browsed, "XYZ", "Studio", "local. via lo");
    const BridgePairingRequest second(browsed, "XYZ", "Studio", "local. via lo");
    EXPECT_NE(first.id, second.id);
}

TEST(TypedAddressTest, ParsesHostColonPortAndRefusesTheRest) {
    auto parsed = PhoneLink::endpointFromAddress("http://192.168.1.23:51234/library.json");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, VellumtideEndpoint::hostPort("192.168.1.23", 51234));
    EXPECT_EQ(*PhoneLink::endpointFromAddress("phone.local:8080"),
              VellumtideEndpoint::hostPort("phone.local", 8080));
    EXPECT_EQ(*PhoneLink::endpointFromAddress("::host:1"), VellumtideEndpoint::hostPort("host", 1));
    for (const std::string bad :
         {"192.168.1.23", "192.168.1.23:", "[fe80::1]:51234", "fe80::1:51234", "192.168.1.23:65536",
          "192.168.1.23:0", "192.168.1.23:12ab", ":51234", "192.168.1.23:-1", "192.168.1.23:+80"})
        EXPECT_FALSE(PhoneLink::endpointFromAddress(bad).has_value()) << bad;
    EXPECT_TRUE(PhoneLink::endpointFromAddress("192.168.1.23:65535").has_value());
}

TEST(TypedAddressTest, PercentEncodesFileNamesAndCountsNouns) {
    EXPECT_EQ(PhoneLink::percentEncodedPath("My Take 1.m4a"), "My%20Take%201.m4a");
    EXPECT_EQ(PhoneLink::percentEncodedPath("a/b?c#d%e"), "a/b%3Fc%23d%25e");
    EXPECT_EQ(PhoneLink::percentEncodedPath("Café.wav"), "Caf%C3%A9.wav");
    EXPECT_EQ(PhoneLink::counted(1, " iPhone", " found"), "1 iPhone found");
    EXPECT_EQ(PhoneLink::counted(2, " iPhone", " found"), "2 iPhones found");
    EXPECT_EQ(PhoneLink::counted(0, " device"), "0 devices");
}

} // namespace
