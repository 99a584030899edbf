// The desktop program without its window, from start-up to the edit sheet: the browse reports a
// phone, the automatic sync asks for pairing, the code earns a token, syncs download and analyse
// (the background one quietly), an edit and automatic chops are rendered with the real audio
// code, and a "vellumtide" URL opens the editor.

#include "Platform/Core/AtomicFile.h"
#include "Tests/Support/Audio/AudioFixtures.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Controller/PhoneFixture.h"

namespace vt::test {
namespace {

using namespace std::chrono_literals;

// A recording with three clear hits, as the phone would store it.
std::string recordingWithHits(const std::filesystem::path& scratch) {
    const double rate = 44100;
    const auto frames = framesFor(2.0, rate);
    writeWav(scratch, rate, replicate(hitsAt({0.1, 0.7, 1.3}, rate, frames), 1));
    return *readWholeFile(scratch);
}

class HeadlessRoadTest : public PhoneTest {
protected:
    SampleItem offerRecording(const std::string& title, double createdAt, const std::string& fileName) {
        const std::string bytes = recordingWithHits(folder.path() / "scratch" / fileName);
        SampleItem sample = offer(title, createdAt, bytes, fileName);
        offered.back().sampleRate = 44100;
        offered.back().isChopEnabled = true;
        offered.back().chopSensitivity = 0.5;
        offered.back().chops = {makeChop(0, 0.05, 0.6), makeChop(1, 0.65, 1.2)};
        phone.setLibrary(offered);
        return offered.back();
    }

    net::DnsSdService announcement() const {
        net::DnsSdService service;
        service.name = "Studio Phone";
        service.type = "_vellumtide._tcp";
        service.domain = "local.";
        service.interfaceName = "lo";
        service.txtRecord = {{"deviceID", phoneID}, {"device", "Studio Phone"}};
        return service;
    }
};

TEST_F(HeadlessRoadTest, FromDiscoveryThroughSyncEditAndChopsToTheEditor) {
    realAudio = BridgeAudioServices::standard();
    const SampleItem take = offerRecording("Morning take", 100, "take.wav");
    // The browse resolves the service to the fake phone's loopback address.
    addressBook->set({"Studio Phone", "_vellumtide._tcp", "local.", "lo"},
                     *net::SocketAddress::numeric("127.0.0.1", phone.port()));

    auto& m = start();
    settle();
    logTexts();
    m.startBrowsing();
    settle();
    browsers->last->state({net::DnsSdBrowserState::ready, {}});
    browsers->last->results({announcement()});
    settle();
    ASSERT_EQ(m.devices().size(), 1u);
    EXPECT_EQ(m.selectedDeviceID(), "phone|FAKE-PHONE-1");
    EXPECT_EQ(m.devices()[0].detail, "local. via lo");

    // The automatic sync 0.35 s later finds no token: the sheet opens, the phone shows its code.
    scheduler->advanceBy(350ms);
    ASSERT_TRUE(turnUntil([&] { return m.pairingRequest().has_value() && !probe(m).isWatchSyncing; }));
    EXPECT_EQ(m.watchMessage(), "Pair iPhone to sync");
    ASSERT_TRUE(turnUntil([&] { return phone.requestCount("/pairing/request") == 1; }));

    // The code earns the token; the user sync that follows downloads, imports and analyses.
    awaitVoid(m.pair(*m.pairingRequest(), "123 456"));
    EXPECT_EQ(storedToken(), "token-1");
    EXPECT_TRUE(logged(statusLog, "Synced 1 new sample"));
    EXPECT_EQ(readWholeFile(samplesFolder() / "take.wav"),
              readWholeFile(folder.path() / "scratch" / "take.wav"));
    EXPECT_TRUE(std::filesystem::exists(probe(m).cache->auMirrorSamplesDirectory() / "take.wav"));
    ASSERT_TRUE(probe(m).sampleMetadata.count(take.id));
    EXPECT_EQ(probe(m).sampleMetadata.at(take.id).chopSource, "phone");
    EXPECT_TRUE(std::filesystem::exists(probe(m).cache->chopSampleURL(take, take.chops[1])));
    EXPECT_TRUE(probe(m).sampleMetadata.at(take.id).analysis.sourceFingerprint.has_value());
    EXPECT_EQ(m.statusMessage(), "Analysis updated");

    // A new recording arrives through the watch loop: the background sync and its analysis are quiet.
    const SampleItem later = offerRecording("Evening take", 200, "later.wav");
    statusLog.clear();
    scheduler->advanceBy(1500ms);
    ASSERT_TRUE(
        turnUntil([&] { return phone.requestCount("/samples/later.wav") == 1 && !probe(m).isWatchSyncing; }));
    EXPECT_TRUE(statusLog.empty()) << statusLog.front();
    EXPECT_EQ(m.watchMessage().rfind("Added 1 at ", 0), 0u) << m.watchMessage();
    ASSERT_TRUE(probe(m).sampleMetadata.count(later.id));
    EXPECT_TRUE(probe(m).sampleMetadata.at(later.id).analysis.sourceFingerprint.has_value());

    // An edit is rendered into "Edited" and copied into the mirror.
    BridgeSampleEdit edit;
    edit.fadeIn = 0.05;
    edit.normalize = true;
    const SampleItem shown = m.samples().back();
    ASSERT_EQ(shown.id, take.id);
    EXPECT_TRUE(await(m.applyEdit(edit, shown)));
    EXPECT_TRUE(std::filesystem::exists(probe(m).cache->editedSampleURL(take)));
    EXPECT_TRUE(std::filesystem::exists(probe(m).cache->mirroredEditedSampleURL(take)));

    // Automatic chops replace the phone's and belong to the desktop program from now on.
    awaitVoid(m.autoChop(m.samples().back(), 0.65));
    const BridgeSampleMetadata chopped = probe(m).sampleMetadata.at(take.id);
    EXPECT_EQ(chopped.chopSource, "bridge");
    ASSERT_FALSE(chopped.chops.empty());
    for (const auto& chop : chopped.chops)
        EXPECT_TRUE(std::filesystem::exists(probe(m).cache->chopSampleURL(take, chop)));
    EXPECT_FALSE(std::filesystem::exists(probe(m).cache->chopSampleURL(take, take.chops[1])));
    scheduler->advanceBy(1500ms);
    ASSERT_TRUE(
        turnUntil([&] { return phone.requestCount("/library.json") == 3 && !probe(m).isWatchSyncing; }));
    EXPECT_EQ(probe(m).sampleMetadata.at(take.id).chops, chopped.chops);

    // The plug-in asks for the editor.
    m.handleOpenURL(QString::fromStdString("vellumtide://edit/" + take.id.string()));
    ASSERT_TRUE(m.editingSample());
    EXPECT_EQ(m.editingSample()->id, take.id);
}

} // namespace
} // namespace vt::test
