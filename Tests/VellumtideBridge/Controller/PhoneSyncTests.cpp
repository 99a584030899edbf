// The library sync against a fake phone on loopback: downloads, the saved list, and the table of
// outcomes in both modes; the typed-address entry.

#include "Platform/Core/AtomicFile.h"
#include "Tests/Support/FileSizeLimit.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Controller/PhoneFixture.h"
#include "VellumtideBridge/Sources/Library/BridgeFormatters.h"

namespace vt::test {
namespace {

using namespace std::chrono_literals;
using Mode = BridgeViewModel::SyncMode;

std::string fileText(const std::filesystem::path& path) {
    return readWholeFile(path).value_or("<missing>");
}

TEST_F(PhoneTest, ManualSyncDownloadsWhatIsMissingAndSavesTheList) {
    auto first = offer("first", 100, "AAAA");
    auto spaced = offer("spaced", 200, "BBBBBB", "My Take 1.m4a");
    auto third = offer("third", 300, "CC");
    trust();
    auto& m = start();
    settle();
    logTexts();
    syncNow(Mode::manual);

    EXPECT_TRUE(logged(statusLog, "Synced 3 new samples"));
    EXPECT_EQ(m.statusMessage(), "Analysis updated"); // the new samples are analysed after the sync
    EXPECT_TRUE(logged(statusLog, "Syncing Studio Phone"));
    EXPECT_TRUE(logged(statusLog, "Fetching library"));
    EXPECT_TRUE(logged(statusLog, "Downloading spaced"));
    EXPECT_EQ(m.watchMessage(), "Background sync on");
    EXPECT_FALSE(m.isSyncing());
    EXPECT_EQ(fileText(samplesFolder() / "My Take 1.m4a"), "BBBBBB");
    EXPECT_EQ(fileText(probe(m).cache->auMirrorSamplesDirectory() / "first.wav"), "AAAA");
    EXPECT_EQ(probe(m).cache->loadManifest(), offered);
    ASSERT_EQ(m.samples().size(), 3u);
    EXPECT_EQ(m.samples()[0].id, third.id);
    EXPECT_EQ(phone.requestedPaths(),
              (std::vector<std::string>{"/health", "/library.json", "/samples/first.wav",
                                        "/samples/My%20Take%201.m4a", "/samples/third.wav"}));
    EXPECT_EQ(phone.requests()[1].header("X-Vellumtide-Token"), "token-1");
    EXPECT_EQ(phone.requests()[4].header("X-Vellumtide-Token"), "token-1");

    // Nothing new: no download and "library.json" is not rewritten.
    const auto written = std::filesystem::last_write_time(probe(m).cache->manifestURL());
    phone.clearRequests();
    syncNow(Mode::manual);
    EXPECT_EQ(m.statusMessage(), "Library is up to date");
    EXPECT_EQ(phone.requestedPaths(), (std::vector<std::string>{"/health", "/library.json"}));
    EXPECT_EQ(std::filesystem::last_write_time(probe(m).cache->manifestURL()), written);

    // A local file of another size is fetched again; a deleted sample never is.
    writeFile(samplesFolder() / "first.wav", "A");
    m.deleteSample(m.samples()[1]);
    phone.clearRequests();
    statusLog.clear();
    syncNow(Mode::manual);
    EXPECT_TRUE(logged(statusLog, "Synced 1 new sample"));
    EXPECT_EQ(fileText(samplesFolder() / "first.wav"), "AAAA");
    EXPECT_EQ(phone.requestCount("/samples/My%20Take%201.m4a"), 0u);
    EXPECT_EQ(m.samples().size(), 2u);
    EXPECT_EQ(probe(m).cache->loadManifest().size(), 3u);
    (void)spaced;
}

// The user deletes samples while the sync runs: one due to be fetched while another file comes is
// not fetched, and one deleted while its own file comes is removed once it has arrived. Neither
// keeps a file in the library or the plug-in's copy, nor counts as synced.
TEST_F(PhoneTest, ASampleDeletedDuringTheSyncKeepsNoFile) {
    auto slow = offer("slow", 100, "slow"); // each file holds its title
    auto skipped = offer("skipped", 200, "skipped");
    auto arriving = offer("arriving", 300, "arriving");
    seedLibrary(offered, false); // listed, but every file is to be fetched again
    trust();
    for (const auto& held : {slow, arriving}) {
        FakeReply late = FakeReply::ok(held.title);
        late.delayBeforeReply = 300ms;
        phone.setReply("/samples/" + held.fileName, late);
    }
    auto& m = start();
    settle();
    logTexts();
    auto syncing = m.sync(device(), Mode::manual);
    for (const auto& deleted : {skipped, arriving}) {
        const SampleItem& fetching = deleted.id == skipped.id ? slow : arriving;
        ASSERT_TRUE(turnUntil([&] { return phone.requestCount("/samples/" + fetching.fileName) == 1; }));
        m.deleteSample(m.displaySamples({deleted})[0]);
    }
    awaitVoid(std::move(syncing));
    settleWrites();

    EXPECT_EQ(phone.requestCount("/samples/" + skipped.fileName), 0u);
    const auto mirrorSamples = probe(m).cache->auMirrorSamplesDirectory();
    for (const auto& deleted : {skipped, arriving}) {
        EXPECT_FALSE(std::filesystem::exists(samplesFolder() / deleted.fileName)) << deleted.title;
        EXPECT_FALSE(std::filesystem::exists(mirrorSamples / deleted.fileName)) << deleted.title;
    }
    EXPECT_EQ(fileText(mirrorSamples / slow.fileName), "slow");
    EXPECT_TRUE(logged(statusLog, "Synced 1 new sample"));
    ASSERT_EQ(m.samples().size(), 1u);
    EXPECT_EQ(m.samples()[0].id, slow.id);
}

// A sample the library folder cannot store (a name too long for the file system) is named and
// tried again later; the samples around it are stored and the list is saved.
TEST_F(PhoneTest, ASampleThatCannotBeStoredDoesNotStopTheSync) {
    auto first = offer("first", 100, "AAAA");
    auto tooLong = offer("Long", 200, "BB", std::string(296, 'x') + ".wav");
    auto longest = offer("Longest", 250, "LL", std::string(251, 'y') + ".wav");
    auto last = offer("last", 300, "CC");
    trust();
    auto& m = start();
    settle();
    syncNow(Mode::manual);

    EXPECT_EQ(m.statusMessage(), "Could not save \"Long\"");
    ASSERT_TRUE(m.errorMessage());
    EXPECT_NE(m.errorMessage()->find("\"Long\" was not saved."), std::string::npos) << *m.errorMessage();
    EXPECT_NE(m.errorMessage()->find("File name too long"), std::string::npos) << *m.errorMessage();
    EXPECT_EQ(fileText(samplesFolder() / first.fileName), "AAAA");
    EXPECT_EQ(fileText(samplesFolder() / longest.fileName), "LL");
    EXPECT_EQ(fileText(samplesFolder() / last.fileName), "CC");
    EXPECT_EQ(probe(m).cache->loadManifest(), offered);
    EXPECT_EQ(m.samples().size(), 4u);
    for (const auto& name : std::filesystem::directory_iterator(samplesFolder()))
        EXPECT_FALSE(name.path().filename().string().starts_with(".")) << name.path();

    // The next sync asks for it again, and only for it; in the background the watch text names it.
    phone.clearRequests();
    syncNow(Mode::automatic);
    EXPECT_EQ(phone.requestCount("/samples/" + tooLong.fileName), 1u);
    EXPECT_EQ(phone.requestedPaths().size(), 3u);
    EXPECT_EQ(m.watchMessage(), "Could not save \"Long\"");
}

// A body the disk cannot take (here no file may grow past 1 MiB) is named with its file and the
// system's reason; nothing of it stays in "Samples" or the mirror, and the samples around it are
// stored.
TEST_F(PhoneTest, ADownloadTheDiskCannotTakeLeavesNothingOfItself) {
    auto first = offer("first", 100, "AAAA");
    auto big = offer("big", 200, std::string(3u << 20, 'b'));
    auto last = offer("last", 300, "CC");
    trust();
    auto& m = start();
    settle();
    {
        FileSizeLimit fullDisk(1u << 20);
        syncNow(Mode::manual);
    }
    EXPECT_EQ(m.statusMessage(), "Could not save \"big\"");
    ASSERT_TRUE(m.errorMessage());
    EXPECT_NE(m.errorMessage()->find("\"big\" was not saved. Could not save \"" +
                                     (samplesFolder() / big.fileName).string() + "\": File too large."),
              std::string::npos)
        << *m.errorMessage();
    for (const auto& folder : {samplesFolder(), probe(m).cache->auMirrorSamplesDirectory()}) {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{first.fileName, last.fileName})) << folder;
    }
    EXPECT_EQ(fileText(probe(m).cache->auMirrorSamplesDirectory() / last.fileName), "CC");
    EXPECT_EQ(probe(m).cache->loadManifest(), offered);

    // With room again, the next sync fetches it.
    logTexts();
    syncNow(Mode::manual);
    EXPECT_TRUE(logged(statusLog, "Synced 1 new sample"));
    EXPECT_EQ(std::filesystem::file_size(samplesFolder() / big.fileName), 3u << 20);
}

// A file the phone does not deliver (a 404, a body cut short) or whose name cannot be stored
// is skipped: the others are stored and listed, the broken ones named. The next sync asks again
// for the files the phone failed to send, and names the unusable names no more.
TEST_F(PhoneTest, ABrokenFileOfTheListDoesNotKeepTheOthersOut) {
    auto first = offer("first", 100, "AAAA");
    auto missing = offer("missing", 200, "MM");
    auto cut = offer("cut", 300, "CUTCUT");
    auto nested = offer("nested", 400, "NN", "sub/dir.wav");
    auto withNul = offer("withNul", 450, "ZZ", std::string("nul\0byte.wav", 12));
    auto last = offer("last", 500, "LL");
    phone.setReply("/samples/missing.wav", FakeReply::status("HTTP/1.1 404 Not Found"));
    phone.queueReply("/samples/cut.wav", FakeReply::raw("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nCUT"));
    trust();
    auto& m = start();
    settle();
    syncNow(Mode::manual);

    EXPECT_EQ(m.statusMessage(), "Could not save 4 samples");
    ASSERT_TRUE(m.errorMessage());
    for (const char* text : {"\"missing\" was not saved. The iPhone returned HTTP/1.1 404 Not Found.",
                             "\"cut\" was not saved. The iPhone returned an invalid response.",
                             "\"nested\" was not saved. The file name \"sub/dir.wav\" cannot be used",
                             "\"withNul\" was not saved. The file name \"nul?byte.wav\" cannot be used"})
        EXPECT_NE(m.errorMessage()->find(text), std::string::npos) << *m.errorMessage();
    EXPECT_EQ(fileText(samplesFolder() / first.fileName), "AAAA");
    EXPECT_EQ(fileText(samplesFolder() / last.fileName), "LL");
    EXPECT_FALSE(std::filesystem::exists(samplesFolder() / cut.fileName));
    EXPECT_EQ(probe(m).cache->loadManifest(), offered);
    EXPECT_EQ(m.samples().size(), offered.size());

    phone.clearRequests();
    m.setErrorMessage(std::nullopt);
    syncNow(Mode::manual);
    EXPECT_EQ(phone.requestedPaths(), (std::vector<std::string>{"/health", "/library.json",
                                                                "/samples/missing.wav", "/samples/cut.wav"}));
    EXPECT_EQ(fileText(samplesFolder() / cut.fileName), "CUTCUT");
    EXPECT_EQ(m.statusMessage(), "Could not save \"missing\"");
    (void)missing, (void)nested, (void)withNul;
}

// A file whose body stops coming halfway while the phone still answers is skipped like one the
// phone refused: the others are stored and listed, it is named, and the next sync asks for it
// again. A phone that no longer answers at all still ends the sync, within bounded time.
TEST_F(PhoneTest, AStalledFileIsSkippedWhileThePhoneStillAnswers) {
    auto first = offer("first", 100, "AAAA");
    auto stalled = offer("stalled", 200, std::string(100000, 's'));
    auto last = offer("last", 300, "LL");
    FakeReply halfway =
        FakeReply::raw("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(40000, 's'));
    halfway.keepOpen = true;
    trust();
    auto& m = start();
    settle();
    // Starts a manual sync and lets virtual time run, a second at a time, from the stalled
    // download on until the client gives it up (the phone sees the connection close); then on
    // only while the sync waits for a phone that does not answer. Returns the virtual time taken.
    auto syncPastTheStall = [&](bool phoneAnswers) {
        phone.clearRequests();
        phone.queueReply("/samples/stalled.wav", halfway);
        auto running = m.sync(device(), Mode::manual);
        EXPECT_TRUE(turnUntil([&] { return phone.requestCount("/samples/stalled.wav") == 1; }));
        turnUntil([] { return false; }, 300ms);
        const auto started = scheduler->now();
        auto givenUp = [&] { return phone.openConnectionCount() == 0 || phone.requestCount("/health") == 2; };
        for (int step = 0; step < 30 && !givenUp(); ++step) {
            scheduler->advanceBy(1s);
            turnUntil(givenUp, 50ms);
        }
        EXPECT_TRUE(turnUntil([&] { return phone.requestCount("/health") == 2; }));
        for (int step = 0; step < 30 && !phoneAnswers && m.isSyncing(); ++step) {
            scheduler->advanceBy(1s);
            turnUntil([&] { return !m.isSyncing(); }, 20ms);
        }
        awaitVoid(std::move(running));
        return scheduler->now() - started;
    };

    EXPECT_LE(syncPastTheStall(true), std::chrono::nanoseconds(30s));
    EXPECT_EQ(m.statusMessage(), "Could not save \"stalled\"");
    EXPECT_NE(m.errorMessage().value_or("").find(
                  "\"stalled\" was not saved. The iPhone did not send the whole file in time."),
              std::string::npos)
        << m.errorMessage().value_or("");
    EXPECT_EQ(fileText(samplesFolder() / first.fileName), "AAAA");
    EXPECT_EQ(fileText(samplesFolder() / last.fileName), "LL");
    EXPECT_FALSE(std::filesystem::exists(samplesFolder() / stalled.fileName));
    EXPECT_EQ(probe(m).cache->loadManifest(), offered);
    EXPECT_EQ(m.samples().size(), 3u);

    // The phone stops answering while the file stalls: the sync ends with the time-out's text and
    // asks for nothing more.
    std::filesystem::remove(samplesFolder() / last.fileName);
    FakeReply silent = FakeReply::ok("{}");
    silent.delayBeforeReply = std::chrono::hours(1);
    phone.queueReply("/health", FakeReply::ok("{\"deviceID\":\"FAKE-PHONE-1\"}"));
    phone.queueReply("/health", silent);
    EXPECT_LE(syncPastTheStall(false), std::chrono::nanoseconds(30s));
    EXPECT_EQ(m.statusMessage(), "Sync failed");
    EXPECT_EQ(m.errorMessage(),
              "The iPhone did not respond. Check the sync address, Wi-Fi, and local-network permissions.");
    EXPECT_EQ(phone.requestCount("/samples/" + last.fileName), 0u);

    // With the phone whole again, the next sync fetches both.
    logTexts();
    syncNow(Mode::manual);
    EXPECT_TRUE(logged(statusLog, "Synced 2 new samples"));
    EXPECT_EQ(std::filesystem::file_size(samplesFolder() / stalled.fileName), 100000u);
}

// A disk that fills up: the samples that fit are stored and listed (also after a restart), and
// the user learns which did not fit and how much space is missing.
TEST_F(PhoneTest, AFullDiskKeepsWhatFitsAndSaysWhatIsMissing) {
    for (int i = 0; i < 6; ++i)
        offer("take " + std::to_string(i), 100 + i, std::string(100000, static_cast<char>('a' + i)));
    trust();
    // 350 000 bytes free before any sample is stored: room for two and the JSON files.
    freeSpace = [this](const std::filesystem::path&) -> std::optional<std::uint64_t> {
        std::uint64_t used = 0;
        for (const auto& entry : std::filesystem::directory_iterator(samplesFolder()))
            used += entry.is_regular_file() ? entry.file_size() : 0;
        return 350000 - std::min<std::uint64_t>(used, 350000);
    };
    auto& m = start();
    settle();
    syncNow(Mode::manual);

    EXPECT_EQ(m.statusMessage(), "Could not save 4 samples");
    ASSERT_TRUE(m.errorMessage());
    EXPECT_NE(m.errorMessage()->find("\"take 5\" was not saved. There is not enough space"),
              std::string::npos);
    EXPECT_NE(m.errorMessage()->find("needs "), std::string::npos) << *m.errorMessage();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(samplesFolder()),
                            std::filesystem::directory_iterator()),
              2);
    EXPECT_EQ(probe(m).cache->loadManifest(), offered);
}

// The plug-in's copy is checked by every sync: when its disk cannot take the files (here none may
// grow past 64 KiB, and its file system has 1000 bytes free), the sync's own outcome says what
// it lacks and how much space is missing, also when nothing else is new; once there is room, a
// sync completes it.
TEST_F(PhoneTest, APluginCopyShortOfSpaceIsSaidInTheSyncsOutcome) {
    auto bigOne = offer("big one", 100, std::string(100000, 'a'));
    auto bigTwo = offer("big two", 200, std::string(100000, 'b'));
    seedLibrary(offered, false);
    writeFile(samplesFolder() / bigOne.fileName, std::string(100000, 'a'));
    writeFile(samplesFolder() / bigTwo.fileName, std::string(100000, 'b'));
    auto small = offer("small", 300, "SS");
    trust();
    const std::filesystem::path mirror = paths.home / BridgeSampleCache::mirrorRelativePath;
    freeSpace = [mirror](const std::filesystem::path& folder) -> std::optional<std::uint64_t> {
        if (folder.string().starts_with(mirror.string()))
            return 1000;
        return std::nullopt;
    };
    {
        FileSizeLimit fullDisk(64u << 10);
        auto& m = start();
        settle();
        m.setErrorMessage(std::nullopt);
        syncNow(Mode::manual);
        EXPECT_EQ(m.statusMessage(), "Plug-in library incomplete");
        for (const auto& text : {bigOne.fileName, bigTwo.fileName,
                                 std::string("The plug-in's library needs 199 KB more free space for them.")})
            EXPECT_NE(m.errorMessage().value_or("").find(text), std::string::npos)
                << m.errorMessage().value_or("");
        EXPECT_EQ(fileText(mirror / "Samples" / small.fileName), "SS");

        // Nothing new on the phone: the copy is still short, and the sync says so.
        m.setErrorMessage(std::nullopt);
        syncNow(Mode::manual);
        EXPECT_EQ(m.statusMessage(), "Plug-in library incomplete");
        EXPECT_TRUE(m.errorMessage());
        syncNow(Mode::automatic);
        EXPECT_EQ(m.watchMessage(), "Plug-in library incomplete");
    }
    syncNow(Mode::manual);
    EXPECT_EQ(model->statusMessage(), "Library is up to date");
    EXPECT_EQ(fileText(mirror / "Samples" / bigTwo.fileName), std::string(100000, 'b'));
}

TEST_F(PhoneTest, BackgroundSyncWritesOnlyTheWatchText) {
    offer("one", 100);
    offer("two", 200);
    // A file name that is not one path component is never requested; it is named once.
    offer("escape", 300, "XX", "../escape.wav");
    offer("nested", 400, "XX", "sub/nested.wav");
    trust();
    auto& m = start();
    settle();
    m.setStatusMessage("untouched");
    logTexts();
    syncNow(Mode::automatic);
    EXPECT_TRUE(logged(watchLog, "Added 2 at " + BridgeFormatters::shortTime().format(Date{1'700'000'000})));
    EXPECT_EQ(m.watchMessage(), "Could not save 2 samples");
    EXPECT_TRUE(logged(watchLog, "Receiving new sample"));
    EXPECT_EQ(std::count(watchLog.begin(), watchLog.end(), "Receiving new sample"), 1);
    EXPECT_TRUE(statusLog.empty());
    EXPECT_FALSE(probe(m).isWatchSyncing);
    EXPECT_EQ(phone.requestCount("/samples/..%2Fescape.wav") + phone.requestCount("/samples/../escape.wav"),
              0u);
    EXPECT_FALSE(std::filesystem::exists(libraryRoot() / "escape.wav"));
    EXPECT_EQ(m.samples().size(), 4u);

    syncNow(Mode::automatic);
    EXPECT_EQ(m.watchMessage(), "Background sync on");
    EXPECT_EQ(m.statusMessage(), "untouched");
}

// Each failing case in both modes: what the user sees, and that nothing half-done is kept.
TEST_F(PhoneTest, FailuresFollowTheTableOfOutcomes) {
    auto kept = offer("kept", 100, "KEPT");
    offer("second", 200, "SECOND");
    trust();
    auto& m = start();
    settle();
    const auto manifestBefore = fileText(probe(m).cache->manifestURL());

    struct Case {
        std::string name;
        std::function<void()> arrange;
        std::string manualStatus;
        std::optional<std::string> manualError;
        std::string automaticWatch;
    };
    const std::vector<Case> cases = {
        {"server error", [&] { phone.queueReply("/library.json", FakeReply::status("HTTP/1.1 500 Oops")); },
         "Sync failed", "The iPhone returned HTTP/1.1 500 Oops.", "Waiting for iPhone"},
        {"list does not decode",
         [&] { phone.queueReply("/library.json", FakeReply::ok("{\"not\":\"a list\"}")); }, "Sync failed",
         std::nullopt, "Waiting for iPhone"},
        {"reset mid-body",
         [&] {
             FakeReply reset = FakeReply::ok(std::string(4000, 'x'));
             reset.resetAfterBytes = 100;
             phone.queueReply("/samples/second.wav", reset);
         },
         "Sync failed", std::nullopt, "Waiting for iPhone"},
    };
    for (const Mode mode : {Mode::manual, Mode::automatic}) {
        for (const auto& item : cases) {
            SCOPED_TRACE(item.name + (mode == Mode::manual ? " (manual)" : " (automatic)"));
            std::filesystem::remove(samplesFolder() / "second.wav");
            m.setErrorMessage(std::nullopt);
            m.setWatchMessage("before");
            m.setStatusMessage("before");
            item.arrange();
            syncNow(mode);
            if (mode == Mode::manual) {
                EXPECT_EQ(m.statusMessage(), item.manualStatus);
                ASSERT_TRUE(m.errorMessage());
                if (item.manualError) {
                    EXPECT_EQ(*m.errorMessage(), *item.manualError);
                }
            } else {
                EXPECT_EQ(m.watchMessage(), item.automaticWatch);
                EXPECT_EQ(m.statusMessage(), "before");
                EXPECT_FALSE(m.errorMessage());
            }
            EXPECT_FALSE(std::filesystem::exists(samplesFolder() / "second.wav"));
            EXPECT_EQ(fileText(probe(m).cache->manifestURL()), manifestBefore);
            EXPECT_EQ(storedToken(), "token-1");
            phone.clearReplies();
        }
    }

    // A file that cannot be written is named; the others stay and the list is saved.
    std::filesystem::create_directories(samplesFolder() / "second.wav" / "in-the-way");
    syncNow(Mode::manual);
    EXPECT_EQ(m.statusMessage(), "Could not save \"second\"");
    EXPECT_EQ(fileText(samplesFolder() / "kept.wav"), "KEPT");
    EXPECT_EQ(probe(m).cache->loadManifest(), offered);
    (void)kept;
}

TEST_F(PhoneTest, UnreachablePhoneWaitsForTheTimeOutOfItsMode) {
    std::uint16_t closedPort = 0;
    {
        FakePhone gone;
        closedPort = gone.port();
    }
    auto& m = start();
    settle();
    VellumtideDevice silent = device();
    silent.endpoint = VellumtideEndpoint::hostPort("127.0.0.1", closedPort);

    auto background = m.sync(silent, Mode::automatic);
    scheduler->advanceBy(1100ms);
    EXPECT_TRUE(probe(m).isWatchSyncing);
    scheduler->advanceBy(100ms);
    awaitVoid(std::move(background));
    EXPECT_EQ(m.watchMessage(), "Waiting for iPhone");

    auto manual = m.sync(silent, Mode::manual);
    scheduler->advanceBy(7900ms);
    EXPECT_TRUE(m.isSyncing());
    // Another sync of either mode meanwhile changes nothing.
    record();
    awaitVoid(m.sync(device(), Mode::automatic));
    EXPECT_TRUE(changes.empty());
    scheduler->advanceBy(100ms);
    awaitVoid(std::move(manual));
    EXPECT_EQ(m.statusMessage(), "Sync failed");
    EXPECT_EQ(m.errorMessage(),
              "The iPhone did not respond. Check the sync address, Wi-Fi, and local-network permissions.");
    EXPECT_FALSE(m.isSyncing());
}

TEST_F(PhoneTest, MissingOrRejectedTokensAskForPairing) {
    offer("kept", 100, "KEPT");
    offer("second", 200, "SECOND");
    auto& m = start();
    settle();

    // No token: the sheet opens for a user-started sync, only the watch text for a background one.
    syncNow(Mode::manual);
    EXPECT_EQ(m.statusMessage(), "Pair Studio Phone");
    ASSERT_TRUE(m.pairingRequest());
    EXPECT_EQ(m.pairingRequest()->deviceID, phoneID);
    EXPECT_TRUE(turnUntil([&] { return phone.requestCount("/pairing/request") == 1; }));
    m.cancelPairing();
    syncNow(Mode::automatic);
    EXPECT_EQ(m.watchMessage(), "Pair iPhone to sync");
    EXPECT_FALSE(m.pairingRequest());
    EXPECT_EQ(phone.requestCount("/library.json"), 0u);

    // The second download answered with 401: the token goes, the first file stays, the list is
    // not saved, and the sheet opens again for a user-started sync.
    trust();
    phone.queueReply("/samples/second.wav", FakeReply::status("HTTP/1.1 401 Unauthorized"));
    const auto manifestBefore = fileText(probe(m).cache->manifestURL());
    syncNow(Mode::manual);
    EXPECT_EQ(m.statusMessage(), "Pair Studio Phone");
    EXPECT_FALSE(storedToken());
    EXPECT_EQ(fileText(samplesFolder() / "kept.wav"), "KEPT");
    EXPECT_FALSE(std::filesystem::exists(samplesFolder() / "second.wav"));
    EXPECT_EQ(fileText(probe(m).cache->manifestURL()), manifestBefore);
    EXPECT_TRUE(m.pairingRequest());

    // A rejected list request in the background: token removed, watch text only.
    m.cancelPairing();
    trust("stale-token");
    m.setStatusMessage("before");
    syncNow(Mode::automatic);
    EXPECT_FALSE(storedToken());
    EXPECT_EQ(m.watchMessage(), "Pair iPhone to sync");
    EXPECT_FALSE(m.pairingRequest());

    // A "/health" reply that is not JSON: the pairing id falls back to the device's own.
    phone.setReply("/health", FakeReply::ok("hello"));
    VellumtideDevice typed{"manual|typed", "Manual iPhone", phone.endpoint(), "typed", std::nullopt};
    awaitVoid(m.sync(typed, Mode::manual));
    ASSERT_TRUE(m.pairingRequest());
    EXPECT_EQ(m.pairingRequest()->deviceID, "manual|typed");
    EXPECT_EQ(m.statusMessage(), "Pair Manual iPhone");
}

TEST_F(PhoneTest, TypedAddressIsParsedTrimmedAndSyncedAsAUserSync) {
    offer("one", 100);
    trust();
    auto& m = start();
    settle();
    m.setManualAddress("  \n");
    awaitVoid(m.syncManualAddress());
    EXPECT_EQ(m.statusMessage(), "Manual address empty");
    EXPECT_EQ(m.errorMessage(), "Paste the full Sync Address from the iPhone, including the port.");
    for (const std::string bad :
         {"127.0.0.1", "127.0.0.1:", "[::1]:51234", "127.0.0.1:65536", "127.0.0.1:0"}) {
        m.setManualAddress(bad);
        awaitVoid(m.syncManualAddress());
        EXPECT_EQ(m.statusMessage(), "Manual address invalid") << bad;
        EXPECT_EQ(m.errorMessage(), "Enter the iPhone sync address as 192.168.1.23:51234.");
    }
    EXPECT_EQ(phone.connectionCount(), 0u);

    const std::string address = "127.0.0.1:" + std::to_string(phone.port());
    m.setManualAddress(" http://" + address + "/library.json \n");
    logTexts();
    awaitVoid(m.syncManualAddress());
    EXPECT_TRUE(logged(statusLog, "Synced 1 new sample"));
    EXPECT_TRUE(logged(statusLog, "Syncing Manual iPhone"));
    EXPECT_TRUE(m.devices().empty());

    // While a background sync runs, the typed address starts nothing.
    probe(m).isWatchSyncing = true;
    record();
    awaitVoid(m.syncManualAddress());
    EXPECT_TRUE(changes.empty());
    probe(m).isWatchSyncing = false;

    // The selected phone: none listed, then listed with its cancelled prompt allowed again.
    awaitVoid(m.syncSelectedDevice());
    EXPECT_EQ(m.statusMessage(), "No iPhone found");
    m.merge({device()});
    probe(m).dismissedPairingIDs.insert(phoneID);
    awaitVoid(m.syncSelectedDevice());
    EXPECT_FALSE(probe(m).dismissedPairingIDs.count(phoneID));
    EXPECT_EQ(m.statusMessage(), "Library is up to date");
}

} // namespace
} // namespace vt::test
