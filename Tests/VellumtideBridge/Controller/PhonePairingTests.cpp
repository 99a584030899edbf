// Pairing flows against the fake phone: the prompt and its dismissals, the code exchange, the
// token store, unlinking and the paste of a typed address.

#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Controller/PhoneFixture.h"

namespace vt::test {
namespace {

using namespace std::chrono_literals;
using Mode = BridgeViewModel::SyncMode;

TEST_F(PhoneTest, PromptKeepsOneSheetPerPhoneAndHonoursDismissals) {
    auto& m = start();
    settle();
    m.promptPairing(device(), phoneID, "Studio Phone", Mode::automatic);
    ASSERT_TRUE(m.pairingRequest());
    const Uuid sheet = m.pairingRequest()->id;
    EXPECT_EQ(m.pairingRequest()->detail, "local. via lo");
    EXPECT_EQ(m.statusMessage(), "Pair Studio Phone");
    EXPECT_EQ(m.watchMessage(), "Enter iPhone pair code");
    m.promptPairing(device(), phoneID, "Studio Phone", Mode::manual);
    EXPECT_EQ(m.pairingRequest()->id, sheet);
    EXPECT_TRUE(turnUntil([&] { return phone.requestCount("/pairing/request") == 2; }));

    m.cancelPairing();
    EXPECT_FALSE(m.pairingRequest());
    EXPECT_TRUE(probe(m).dismissedPairingIDs.count(phoneID));
    EXPECT_EQ(m.statusMessage(), "Pairing cancelled");
    EXPECT_EQ(m.watchMessage(), "Pair iPhone to sync");
    EXPECT_TRUE(turnUntil([&] { return phone.requestCount("/pairing/cancel") == 1; }));

    // A background prompt for the dismissed phone: texts only, no sheet, nothing sent.
    m.promptPairing(device(), phoneID, "Studio Phone", Mode::automatic);
    EXPECT_FALSE(m.pairingRequest());
    EXPECT_EQ(m.statusMessage(), "Pair Studio Phone");
    EXPECT_EQ(m.watchMessage(), "Enter iPhone pair code");
    turnLoopUntil([] { return false; }, 100ms);
    EXPECT_EQ(phone.requestCount("/pairing/request"), 2u);

    // A user-started prompt opens it again; a prompt for another phone replaces it.
    m.promptPairing(device(), phoneID, "Studio Phone", Mode::manual);
    ASSERT_TRUE(m.pairingRequest());
    EXPECT_NE(m.pairingRequest()->id, sheet);
    m.promptPairing(device(), "OTHER", "Other Phone", Mode::automatic);
    EXPECT_EQ(m.pairingRequest()->deviceID, "OTHER");
    m.requestPairingCode(*m.pairingRequest());
    EXPECT_TRUE(turnUntil([&] { return phone.requestCount("/pairing/request") == 5; }));
}

TEST_F(PhoneTest, PairingSendsTheDigitsStoresTheTokenAndSyncs) {
    offer("take", 100);
    auto& m = start();
    settle();
    m.promptPairing(device(), phoneID, "Studio Phone", Mode::manual);
    const BridgePairingRequest request = *m.pairingRequest();
    probe(m).dismissedPairingIDs.insert(phoneID);

    awaitVoid(m.pair(request, "12 34 567"));
    EXPECT_EQ(m.statusMessage(), "Enter the 6-digit iPhone code");
    EXPECT_EQ(
        m.errorMessage(),
        "Open Vellumtide on the iPhone and enter the PAIR code shown while this pairing window is open.");
    EXPECT_EQ(phone.requestCount("/pair"), 0u);

    // A wrong code: the phone refuses, the sheet stays for another try.
    awaitVoid(m.pair(request, "654321"));
    EXPECT_EQ(m.statusMessage(), "Pairing failed");
    EXPECT_EQ(m.errorMessage(),
              "Could not pair with Studio Phone: The iPhone returned HTTP/1.1 403 Forbidden.");
    EXPECT_TRUE(m.pairingRequest());
    EXPECT_FALSE(storedToken());

    // Numeric characters of any script count as digits.
    awaitVoid(m.pair(request, QString::fromUtf8("١٢٣٤٥٦")));
    std::vector<std::string> codes;
    for (const auto& sent : phone.requests())
        if (sent.path == "/pair")
            codes.push_back(sent.header("X-Vellumtide-Pair-Code").value_or(""));
    EXPECT_EQ(codes, (std::vector<std::string>{"654321", "١٢٣٤٥٦"}));

    // A token that could break a header line is no token.
    phone.queueReply("/pair",
                     FakeReply::ok(R"({"deviceID":"FAKE-PHONE-1","deviceName":"S","token":"a\r\nX: y"})"));
    awaitVoid(m.pair(request, "123456"));
    EXPECT_EQ(m.statusMessage(), "Pairing failed");
    EXPECT_FALSE(storedToken());

    logTexts();
    awaitVoid(m.pair(request, " 123 456 "));
    // The sync fetched the sample (the watch loop may poll the phone again while the library
    // files are written off the main thread).
    EXPECT_TRUE(phone.requestCount("/samples/take.wav") >= 1);
    EXPECT_TRUE(logged(statusLog, "Pairing Studio Phone"));
    EXPECT_TRUE(logged(statusLog, "Paired Studio Phone"));
    EXPECT_TRUE(logged(watchLog, "Trusted sync on"));
    EXPECT_EQ(storedToken(), "token-1");
    EXPECT_FALSE(probe(m).dismissedPairingIDs.count(phoneID));
    EXPECT_FALSE(m.pairingRequest());
    EXPECT_TRUE(logged(statusLog, "Synced 1 new sample"));
    EXPECT_EQ(m.watchMessage(), "Background sync on");
    bool sentDigits = false;
    for (const auto& sent : phone.requests())
        sentDigits |= sent.path == "/pair" && sent.header("X-Vellumtide-Pair-Code") == "123456";
    EXPECT_TRUE(sentDigits);

    // The token is filed under the id the phone answers with.
    phone.setIdentity(std::string("RENAMED-ID"), std::string("Renamed"));
    awaitVoid(m.pair(request, "123456"));
    EXPECT_EQ(storedToken("RENAMED-ID"), "token-1");
}

TEST_F(PhoneTest, UnlinkingAndIsPairedUseThePairingId) {
    auto& m = start();
    settle();
    VellumtideDevice typed{"manual|10.0.0.2:51234", "Manual iPhone", phone.endpoint(), "10.0.0.2:51234",
                           std::nullopt};
    VellumtideDevice idOnly{"phone|abc", "Pocket", phone.endpoint(), "local. via lo", std::nullopt};
    EXPECT_FALSE(m.isPaired(typed));
    EXPECT_FALSE(m.isPaired(idOnly));
    BridgePairingStore(*settings).setToken("abc", "");
    EXPECT_TRUE(m.isPaired(idOnly));

    m.forgetPairing(typed);
    EXPECT_EQ(m.statusMessage(), "No saved pairing");

    trust();
    m.promptPairing(device(), phoneID, "Studio Phone", Mode::manual);
    probe(m).dismissedPairingIDs.insert(phoneID);
    m.forgetPairing(device());
    EXPECT_FALSE(storedToken());
    EXPECT_FALSE(m.pairingRequest());
    EXPECT_FALSE(probe(m).dismissedPairingIDs.count(phoneID));
    EXPECT_EQ(m.statusMessage(), "Unlinked Studio Phone");
    EXPECT_EQ(m.watchMessage(), "Pair iPhone to sync");
    ASSERT_TRUE(turnUntil([&] { return phone.requestCount("/pairing/forget") == 1; }));
    for (const auto& sent : phone.requests()) {
        if (sent.path == "/pairing/forget") {
            EXPECT_EQ(sent.header("X-Vellumtide-Token"), "token-1");
        }
    }

    // Without a stored token the phone is not contacted.
    m.setStatusMessage("before");
    m.forgetPairing(device());
    EXPECT_EQ(m.statusMessage(), "Unlinked Studio Phone");
    turnLoopUntil([] { return false; }, 100ms);
    EXPECT_EQ(phone.requestCount("/pairing/forget"), 1u);
}

TEST_F(PhoneTest, PasteTakesTheTrimmedClipboardText) {
    auto& m = start();
    m.setManualAddress("kept");
    m.pasteManualAddress();
    EXPECT_EQ(m.manualAddress(), "kept");
    desktop->pasteboardText = QStringLiteral("  192.168.1.23:51234\n");
    m.pasteManualAddress();
    EXPECT_EQ(m.manualAddress(), "192.168.1.23:51234");
}

} // namespace
} // namespace vt::test
