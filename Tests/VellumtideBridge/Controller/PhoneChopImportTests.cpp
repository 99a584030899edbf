// The import of the phone's chops: who owns a sample's chops, when they are rendered again, and
// what a failure leaves behind.

#include "Platform/Core/AtomicFile.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Controller/ControllerFixture.h"

#include <algorithm>
#include <map>

namespace vt::test {
namespace {

std::filesystem::path chopPath(const std::filesystem::path& root, const SampleItem& sample,
                               const BridgeSampleChop& chop) {
    return root / (sample.id.string() + "-chop-" + chop.id.string() + ".wav");
}

// The sample as the phone lists it, offering three chops.
SampleItem offering(SampleItem sample, double sensitivity = 0.4) {
    sample.isChopEnabled = true;
    sample.chopSensitivity = sensitivity;
    sample.chops = {makeChop(0, 0.0, 0.5), makeChop(1, 0.5, 1.2), makeChop(2, 1.2, 2.0)};
    return sample;
}

BridgeSampleAnalysis analysis(double bpm) {
    BridgeSampleAnalysis result;
    result.bpm = bpm;
    result.bpmConfidence = 0.9;
    result.analyzedAt = Date{1'000};
    return result;
}

TEST_F(ControllerTest, PhoneChopsAreImportedOnlyWhereThePhoneOwnsThem) {
    auto fresh = makeSample("fresh", 100), bridged = makeSample("bridged", 200),
         missing = makeSample("missing", 300), deleted = makeSample("deleted", 400),
         unsourced = makeSample("unsourced", 500);
    seedLibrary({fresh, bridged, missing, deleted, unsourced});
    std::filesystem::remove(libraryRoot() / "Samples" / missing.fileName);
    auto& m = start();
    settle();
    probe(m).sampleMetadata.clear(); // no start-up analyses: the phone's analysis may be taken over
    BridgeSampleMetadata bridgeEntry;
    bridgeEntry.chopSource = "bridge";
    bridgeEntry.chops = {makeChop(0, 0, 1)};
    m.updateSampleMetadata(bridgeEntry, bridged.id);
    BridgeSampleMetadata tombstone;
    tombstone.isDeleted = true;
    m.updateSampleMetadata(tombstone, deleted.id);
    BridgeSampleMetadata sourceless;
    sourceless.chops = {makeChop(0, 0, 1)};
    m.updateSampleMetadata(sourceless, unsourced.id);
    const BridgeMetadataMap before = probe(m).sampleMetadata;

    std::vector<SampleItem> phone = {offering(fresh), offering(bridged), offering(missing), offering(deleted),
                                     offering(unsourced)};
    phone[0].analysis = analysis(120);
    awaitVoid(m.syncPhoneChops(phone));

    EXPECT_EQ(audio.renders, 3);
    const auto chops = probe(m).cache->chopsDirectory();
    for (const auto& chop : phone[0].chops) {
        EXPECT_TRUE(std::filesystem::exists(chopPath(chops, fresh, chop)));
        EXPECT_TRUE(std::filesystem::exists(chopPath(probe(m).cache->auMirrorChopsDirectory(), fresh, chop)));
    }
    const BridgeSampleMetadata imported = probe(m).sampleMetadata.at(fresh.id);
    EXPECT_EQ(imported.chopSource, "phone");
    EXPECT_EQ(imported.chops, phone[0].chops);
    EXPECT_DOUBLE_EQ(imported.chopSensitivity, 0.4);
    EXPECT_EQ(imported.analysis, analysis(120));
    for (const auto& id : {bridged.id, deleted.id, unsourced.id})
        EXPECT_EQ(probe(m).sampleMetadata.at(id), before.at(id));
    EXPECT_FALSE(probe(m).sampleMetadata.count(missing.id));
    EXPECT_EQ(probe(m).cache->loadLocalMetadata().at(fresh.id), imported);
    EXPECT_EQ(m.samples().back().chops.size(), 3u);

    // Nothing changed on the phone and every file present: nothing rendered or written.
    const auto written = std::filesystem::last_write_time(probe(m).cache->metadataURL());
    awaitVoid(m.syncPhoneChops(phone));
    EXPECT_EQ(audio.renders, 3);
    EXPECT_EQ(std::filesystem::last_write_time(probe(m).cache->metadataURL()), written);

    // One file gone: every chop of that sample is rendered again.
    std::filesystem::remove(chopPath(chops, fresh, phone[0].chops[1]));
    awaitVoid(m.syncPhoneChops(phone));
    EXPECT_EQ(audio.renders, 6);

    // The sensitivity counts only beyond a ten-thousandth; a local analysis stays.
    phone[0].chopSensitivity = 0.40005;
    phone[0].analysis = analysis(90);
    awaitVoid(m.syncPhoneChops(phone));
    EXPECT_EQ(audio.renders, 6);
    phone[0].chopSensitivity = 0.401;
    awaitVoid(m.syncPhoneChops(phone));
    EXPECT_EQ(audio.renders, 9);
    EXPECT_DOUBLE_EQ(probe(m).sampleMetadata.at(fresh.id).chopSensitivity, 0.401);
    EXPECT_EQ(probe(m).sampleMetadata.at(fresh.id).analysis, analysis(120));

    // The phone withdraws its chops: files and source go, its sensitivity is kept.
    phone[0].isChopEnabled = false;
    phone[0].chopSensitivity = 0.3;
    awaitVoid(m.syncPhoneChops(phone));
    for (const auto& chop : phone[0].chops)
        EXPECT_FALSE(std::filesystem::exists(chopPath(chops, fresh, chop)));
    EXPECT_FALSE(probe(m).sampleMetadata.at(fresh.id).chopSource);
    EXPECT_TRUE(probe(m).sampleMetadata.at(fresh.id).chops.empty());
    EXPECT_DOUBLE_EQ(probe(m).sampleMetadata.at(fresh.id).chopSensitivity, 0.3);
    EXPECT_EQ(audio.renders, 9);
}

TEST_F(ControllerTest, FailedChopRendersAndMetadataSavesAreReported) {
    auto first = makeSample("first", 100), second = makeSample("second", 200);
    seedLibrary({first, second});
    auto& m = start();
    settle();
    std::vector<SampleItem> phone = {offering(first), offering(second)};

    // The second render of the first sample fails: it keeps its metadata, the next sample goes on.
    audio.failRenderAt = 2;
    awaitVoid(m.syncPhoneChops(phone));
    EXPECT_EQ(m.errorMessage(), "The sample audio could not be read.");
    EXPECT_EQ(m.statusMessage(), "Phone chops failed");
    EXPECT_FALSE(probe(m).sampleMetadata.at(first.id).chopSource);
    EXPECT_TRUE(probe(m).sampleMetadata.at(first.id).chops.empty());
    EXPECT_EQ(probe(m).sampleMetadata.at(second.id).chopSource, "phone");
    EXPECT_EQ(audio.renders, 5);

    // The next run finds the missing files and imports again.
    audio.failRenderAt.reset();
    awaitVoid(m.syncPhoneChops(phone));
    EXPECT_EQ(probe(m).sampleMetadata.at(first.id).chopSource, "phone");
    EXPECT_EQ(audio.renders, 8);

    // The overlay cannot be saved: the texts say why, and the result is taken back (no later save
    // stores it).
    const double stored = probe(m).sampleMetadata.at(second.id).chopSensitivity;
    std::filesystem::remove(probe(m).cache->metadataURL());
    std::filesystem::create_directories(probe(m).cache->metadataURL() / "in-the-way");
    phone[1].chopSensitivity = 0.9;
    m.setErrorMessage(std::nullopt);
    awaitVoid(m.syncPhoneChops(phone));
    EXPECT_EQ(m.statusMessage(), "Metadata save failed");
    EXPECT_TRUE(m.errorMessage());
    EXPECT_DOUBLE_EQ(probe(m).sampleMetadata.at(second.id).chopSensitivity, stored);
}

// The user's automatic chopping and an import of the phone's chops for the same sample, in both
// orders: the import arriving while the user's run renders, and the user starting while the import
// renders. Either way the user's chops are stored with their files, in the library and the
// plug-in's copy, and the import leaves no file behind.
TEST_F(ControllerTest, TheUsersChoppingOfASampleWinsOverAnImportOfItsPhoneChops) {
    auto first = makeSample("first", 100), second = makeSample("second", 200);
    seedLibrary({first, second});
    // A render of a chop named here waits at its gate before it writes the file.
    std::map<Uuid, Completion<bool>> gates;
    BridgeAudioServices services = audio.services();
    services.render = [&gates](std::filesystem::path, std::filesystem::path output,
                               BridgeSampleEdit edit) -> QCoro::Task<void> {
        auto* held = &gates; // kept in the frame
        auto gate = std::find_if(held->begin(), held->end(), [&](const auto& named) {
            return output.filename().string().find(named.first.string()) != std::string::npos;
        });
        if (gate != held->end()) {
            auto open = gate->second;
            co_await open;
        }
        writeSound(output, edit.endTime.value_or(1.0) - edit.startTime);
    };
    realAudio = services;
    auto& m = start();
    settle();
    auto expectUsersChops = [&](const SampleItem& sample, const std::vector<BridgeSampleChop>& chops) {
        const auto entry = probe(m).cache->loadLocalMetadata().at(sample.id);
        EXPECT_EQ(entry.chopSource, "bridge");
        EXPECT_EQ(entry.chops, chops);
        for (const auto& chop : chops) {
            EXPECT_TRUE(std::filesystem::exists(chopPath(probe(m).cache->chopsDirectory(), sample, chop)));
            EXPECT_TRUE(
                std::filesystem::exists(chopPath(probe(m).cache->auMirrorChopsDirectory(), sample, chop)));
        }
        std::size_t files = 0;
        for (const auto& file : std::filesystem::directory_iterator(probe(m).cache->chopsDirectory()))
            files += file.path().filename().string().find(sample.id.string()) != std::string::npos;
        EXPECT_EQ(files, chops.size());
    };

    // The import arrives when the user's first chop is rendered and the second is rendering.
    audio.chopsToFind = {makeChop(0, 0.0, 0.5), makeChop(1, 0.5, 1.0)};
    const auto usersFirst = audio.chopsToFind;
    gates[usersFirst[1].id] = Completion<bool>();
    auto chopping = m.autoChop(first, 0.5);
    ASSERT_TRUE(turnLoopUntil(
        [&] {
            return std::filesystem::exists(chopPath(probe(m).cache->chopsDirectory(), first, usersFirst[0]));
        },
        patience));
    awaitVoid(m.syncPhoneChops({offering(first)}));
    gates[usersFirst[1].id].resolve(true);
    awaitVoid(std::move(chopping));
    settleWrites();
    EXPECT_EQ(m.statusMessage(), "Made 2 chops");
    expectUsersChops(first, usersFirst);

    // The user starts chopping while the import renders the phone's second chop.
    const SampleItem offered = offering(second);
    gates[offered.chops[1].id] = Completion<bool>();
    auto importing = m.syncPhoneChops({offered});
    audio.chopsToFind = {makeChop(0, 0.0, 0.4), makeChop(1, 0.4, 1.0)};
    const auto usersSecond = audio.chopsToFind;
    chopping = m.autoChop(second, 0.5);
    EXPECT_TRUE(m.choppingSampleIDs().count(second.id));
    gates[offered.chops[1].id].resolve(true);
    awaitVoid(std::move(importing));
    awaitVoid(std::move(chopping));
    settleWrites();
    EXPECT_EQ(m.statusMessage(), "Made 2 chops");
    expectUsersChops(second, usersSecond);
    for (const auto& file : std::filesystem::directory_iterator(probe(m).cache->chopsDirectory()))
        EXPECT_FALSE(file.path().filename().string().starts_with(".")) << file.path();
}

} // namespace
} // namespace vt::test
