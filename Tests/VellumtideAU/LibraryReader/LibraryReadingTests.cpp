// Reading and merging hand-written library folders in a temporary home.

#include "Tests/Support/Patience.h"
#include "Tests/Support/TemporaryFolder.h"
#include "VellumtideAU/LibraryReader/LibraryScanner.h"
#include "VellumtideAU/LibraryReader/ManifestIndex.h"
#include "VellumtideAU/LibraryReader/VellumtidePluginLibrary.h"

#include <QCoreApplication>
#include <QThread>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <thread>

namespace {

using Json = nlohmann::json;
using Path = std::filesystem::path;
using vt::test::writeFile;

// A refresh timer that ticks only when the test says so.
class ManualTimer final : public RefreshTimer {
public:
    void start(std::chrono::milliseconds every, std::function<void()> onTick) override {
        interval = every;
        tick = std::move(onTick);
        active = true;
    }
    void stop() override { active = false; }
    bool isActive() const override { return active; }
    void fire() { tick(); }

    std::chrono::milliseconds interval{0};
    bool active = false;
    std::function<void()> tick;
};

const std::string idA = "11111111-1111-1111-1111-111111111111";
const std::string idB = "22222222-2222-2222-2222-222222222222";
const std::string idC = "33333333-3333-3333-3333-333333333333";
const std::string idD = "44444444-4444-4444-4444-444444444444";
const std::string chopA = "AAAAAAAA-0000-0000-0000-000000000001";
const std::string chopB = "AAAAAAAA-0000-0000-0000-000000000002";

Json sampleJson(const std::string& id, const std::string& title, const std::string& fileName,
                const std::string& createdAt = "2024-03-05T07:08:09Z") {
    return Json{{"id", id},          {"title", title},      {"createdAt", createdAt}, {"fileName", fileName},
                {"duration", 10},    {"sampleRate", 44100}, {"channelCount", 2},      {"byteCount", 529200},
                {"peaks", {0.25, 1}}};
}

class LibraryReading : public testing::Test {
protected:
    void SetUp() override {
        LibraryEnvironment environment;
        environment.homesFolder = temp / "home";
        environment.home = home;
        environment.accountHome = home;
        environment.musicFolder = home / "Music";
        environment.userName = "ann";
        auto manual = std::make_unique<ManualTimer>();
        timer = manual.get();
        library = std::make_unique<VellumtidePluginLibrary>(environment, std::move(manual));
    }

    // Runs the event loop until what the reader's thread found is published.
    void settle() {
        const auto deadline = std::chrono::steady_clock::now() + vt::test::patience;
        while (library->isReading() && std::chrono::steady_clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_FALSE(library->isReading());
    }
    // One tick of the live refresh, carried through to what it publishes.
    void fireAndSettle() {
        timer->fire();
        settle();
    }

    // Writes the library into the mirror folder and returns what one refresh publishes.
    const std::vector<VellumtidePluginSample>& readBack(const Json& manifest, const Json& metadata = Json()) {
        writeFile(mirror / "library.json", manifest.dump(2));
        std::filesystem::remove(mirror / "bridge-metadata.json");
        if (!metadata.is_null())
            writeFile(mirror / "bridge-metadata.json", metadata.dump(2));
        library->refresh();
        return library->samples();
    }

    void touch(const Path& path) { writeFile(path, "RIFF"); }
    void touchSamples(std::initializer_list<const char*> names) {
        for (auto name : names)
            touch(mirror / "Samples" / name);
    }

    int argc = 1;
    char name[8] = "reader";
    char* argv[1] = {name};
    std::unique_ptr<QCoreApplication> application =
        QCoreApplication::instance() ? nullptr : std::make_unique<QCoreApplication>(argc, argv);
    vt::test::TemporaryFolder temp;
    Path home = temp / "home" / "ann";
    Path mirror = home / VellumtidePluginLibrary::mirrorRelativePath;
    Path musicLibrary = home / "Music" / "Vellumtide";
    std::string mirrorDetail = "~/" + std::string(VellumtidePluginLibrary::mirrorRelativePath);
    ManualTimer* timer = nullptr;
    std::unique_ptr<VellumtidePluginLibrary> library;
};

TEST_F(LibraryReading, ChoosesTheFirstCandidateHoldingALibrary) {
    EXPECT_EQ(library->status(), "Waiting for Bridge library");
    EXPECT_EQ(library->detail(), "Open Vellumtide Bridge once");
    EXPECT_EQ(library->rootURL(), mirror);

    // A "library.json" that is no readable file is chosen but still waited for.
    std::filesystem::create_directories(musicLibrary / "library.json");
    library->refresh();
    EXPECT_EQ(library->rootURL(), musicLibrary);
    EXPECT_EQ(library->status(), "Waiting for Bridge library");

    std::filesystem::remove(musicLibrary / "library.json");
    writeFile(musicLibrary / "library.json", "[]");
    library->refresh();
    EXPECT_EQ(library->detail(), "~/Music/Vellumtide");
    EXPECT_EQ(library->status(), "Bridge library is empty");

    readBack(Json::array({sampleJson(idA, "Kick", "kick.wav")}));
    EXPECT_EQ(library->rootURL(), mirror);
    EXPECT_EQ(library->detail(), mirrorDetail);
    std::filesystem::remove(mirror / "library.json");
    library->refresh();
    EXPECT_EQ(library->rootURL(), musicLibrary);
}

TEST_F(LibraryReading, ALibraryThatDoesNotDecodeIsReportedWithItsFile) {
    Json withoutPeaks = sampleJson(idB, "Snare", "snare.wav");
    withoutPeaks.erase("peaks");
    Json wrongType = sampleJson(idB, "Snare", "snare.wav");
    wrongType["byteCount"] = 1.5;
    for (const Json& manifest :
         {Json::object(), Json::array({sampleJson(idA, "Kick", "k.wav"), withoutPeaks}),
          Json::array({wrongType}), Json::array({sampleJson(idB, "S", "s.wav", "yesterday")})}) {
        readBack(manifest);
        EXPECT_TRUE(library->samples().empty()) << manifest;
        EXPECT_EQ(library->status(), "Bridge library could not be read") << manifest;
        EXPECT_EQ(library->detail(), mirrorDetail + "/library.json") << manifest;
    }
}

TEST_F(LibraryReading, OverridesSetTitlesFavouritesDeletionsAndLabels) {
    Json favourite = sampleJson(idA, "Kick", "kick.wav");
    favourite["isFavorite"] = true;
    Json manifest =
        Json::array({favourite, sampleJson(idB, " Snare ", "snare.wav"), sampleJson(idC, "Hat", "hat.wav")});
    Json sure = Json::parse(R"({"bpm": 119.5, "bpmConfidence": 0.42, "rootNote": "C", "rootConfidence": 0.43,
        "musicalKey": "A minor", "keyConfidence": 0.5, "sourceFingerprint": "x"})");
    Json unsure = Json::parse(R"({"bpm": 1e300, "bpmConfidence": 1, "rootNote": "C", "rootConfidence": 0.429,
        "musicalKey": "A minor", "keyConfidence": 0.499})");
    Json metadata = {
        {idA,
         {{"titleOverride", "  Big Kick\n"},
          {"isFavorite", true},
          {"favoriteOverride", false},
          {"analysis", sure}}},
        {idB, {{"titleOverride", " \t\u00a0\u3000"}, {"isFavorite", true}, {"analysis", unsure}}},
        {idC, {{"isDeleted", true}}}};
    touchSamples({"kick.wav", "snare.wav", "hat.wav"});

    auto samples = readBack(manifest, metadata);
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(library->status(), "2 synced samples");
    EXPECT_EQ(samples[0].title, "Big Kick");
    EXPECT_FALSE(samples[0].isFavorite);
    EXPECT_EQ(samples[0].audioURL, mirror / "Samples" / "kick.wav");
    EXPECT_EQ(samples[0].tempoLabel, "120 BPM");
    EXPECT_EQ(samples[0].rootLabel, "Root C");
    EXPECT_EQ(samples[0].keyLabel, "Key A minor");
    EXPECT_EQ(samples[1].title, " Snare ");
    EXPECT_TRUE(samples[1].isFavorite);
    EXPECT_FALSE(samples[1].tempoLabel);
    EXPECT_FALSE(samples[1].rootLabel);
    EXPECT_FALSE(samples[1].keyLabel);

    metadata[idA]["analysis"]["bpmConfidence"] = 0.419;
    EXPECT_FALSE(readBack(manifest, metadata)[0].tempoLabel);
}

TEST_F(LibraryReading, EditsPlayTheRenderedFileOnlyWhenItExists) {
    Json manifest = Json::array({sampleJson(idA, "Trimmed", "a.wav"), sampleJson(idB, "Unrendered", "b.wav"),
                                 sampleJson(idC, "Louder", "c.wav"), sampleJson(idD, "Reaching", "d.wav")});
    Json metadata = {{idA, {{"edit", {{"startTime", 2.0}, {"endTime", 5.0}}}}},
                     {idB, {{"edit", {{"startTime", -1.0}, {"endTime", 30.0}, {"fadeIn", 8.0}}}}},
                     {idC, {{"edit", {{"normalize", true}, {"fadeOut", nullptr}}}}},
                     {idD, {{"edit", {{"startTime", -1.0}, {"fadeIn", 0.5}}}}}};
    touchSamples({"a.wav", "b.wav", "c.wav", "d.wav"});
    for (const auto& id : {idA, idC, idD})
        touch(mirror / "Edited" / (id + ".wav"));

    auto samples = readBack(manifest, metadata);
    ASSERT_EQ(samples.size(), 4u);
    EXPECT_TRUE(samples[0].isEdited);
    EXPECT_EQ(samples[0].audioURL, mirror / "Edited" / (idA + ".wav"));
    EXPECT_DOUBLE_EQ(samples[0].duration, 3.0);
    EXPECT_DOUBLE_EQ(samples[0].originalDuration, 10.0);

    EXPECT_FALSE(samples[1].isEdited);
    EXPECT_EQ(samples[1].audioURL, mirror / "Samples" / "b.wav");
    EXPECT_DOUBLE_EQ(samples[1].duration, 10.0);
    EXPECT_EQ(samples[1].edit, (VellumtidePluginEdit{0, std::nullopt, 5, 0, false, false}));

    EXPECT_TRUE(samples[2].isEdited);
    EXPECT_DOUBLE_EQ(samples[2].duration, 10.0);
    // The stored start lies before the recording; the played length still cannot exceed it.
    EXPECT_TRUE(samples[3].isEdited);
    EXPECT_DOUBLE_EQ(samples[3].duration, 10.0);

    // A neutral edit plays the raw file even when a rendered one is lying around.
    EXPECT_FALSE(readBack(manifest, Json::object())[0].isEdited);
}

TEST_F(LibraryReading, ChopsKeepTheirOrderAndFiles) {
    Json chops = {{{"id", chopB}, {"index", 1}, {"startTime", 1.0}, {"endTime", 2.5}, {"strength", 0.7}},
                  {{"id", chopA}, {"index", 0}, {"startTime", 3.0}, {"endTime", 2.0}, {"strength", 0.2}}};
    touchSamples({"a.wav"});
    const Path chopFile = mirror / "Chops" / (idA + "-chop-" + chopB + ".wav");
    touch(chopFile);

    auto samples = readBack(Json::array({sampleJson(idA, "Loop", "a.wav")}), {{idA, {{"chops", chops}}}});
    ASSERT_EQ(samples[0].chops.size(), 2u);
    const auto& first = samples[0].chops[0];
    EXPECT_EQ(first.id, *vt::Uuid::parse(chopB));
    EXPECT_EQ(first.title, "Chop 02");
    EXPECT_DOUBLE_EQ(first.duration, 1.5);
    EXPECT_EQ(first.audioURL, chopFile);
    EXPECT_TRUE(first.isAvailable);
    EXPECT_EQ(samples[0].chops[1].title, "Chop 01");
    EXPECT_DOUBLE_EQ(samples[0].chops[1].duration, 0);
    EXPECT_FALSE(samples[0].chops[1].isAvailable);
    // A missing chop file is not a missing sample file.
    EXPECT_EQ(library->status(), "1 synced sample");
}

TEST_F(LibraryReading, StatusCountsPublishedAndMissingFiles) {
    auto statusFor = [&](const Json& manifest, std::initializer_list<const char*> present,
                         const Json& metadata = Json()) {
        std::filesystem::remove_all(mirror / "Samples");
        touchSamples(present);
        readBack(manifest, metadata);
        return library->status();
    };
    Json one = Json::array({sampleJson(idA, "A", "a.wav")});
    Json three = one;
    three.push_back(sampleJson(idB, "B", "b.wav"));
    three.push_back(sampleJson(idC, "C", "c.wav"));
    EXPECT_EQ(statusFor(three, {}), "Found 3 samples, audio files unavailable");
    EXPECT_EQ(statusFor(three, {"a.wav", "b.wav"}), "3 samples, 1 missing file");
    EXPECT_EQ(statusFor(three, {"a.wav"}), "3 samples, 2 missing files");
    EXPECT_EQ(statusFor(one, {}), "Found 1 samples, audio files unavailable");
    EXPECT_EQ(statusFor(one, {"a.wav"}), "1 synced sample");
    // Deleted samples count neither as published nor as missing.
    Json deleted = {{idB, {{"isDeleted", true}}}, {idC, {{"isDeleted", true}}}};
    EXPECT_EQ(statusFor(three, {"a.wav"}, deleted), "1 synced sample");
    EXPECT_EQ(
        statusFor(three, {},
                  {{idA, {{"isDeleted", true}}}, {idB, {{"isDeleted", true}}}, {idC, {{"isDeleted", true}}}}),
        "Bridge library is empty");
    EXPECT_EQ(library->detail(), mirrorDetail);
}

TEST_F(LibraryReading, UnsafeFileNamesAreListedAsMissingAndNeverRead) {
    // Each name would reach an existing file if it were joined to the "Samples" folder.
    touch(mirror / "outside.wav");
    touch(mirror / "Samples" / "sub" / "inner.wav");
    touch(mirror / "Edited" / (idA + ".wav"));
    Json manifest = Json::array({sampleJson(idA, "Escape", "../outside.wav"),
                                 sampleJson(idB, "Nested", "sub/inner.wav"), sampleJson(idC, "Dot", ".")});
    auto samples = readBack(manifest, {{idA, {{"edit", {{"normalize", true}}}}}});
    ASSERT_EQ(samples.size(), 3u);
    for (const auto& sample : samples) {
        EXPECT_FALSE(sample.isAvailable) << sample.title;
        EXPECT_FALSE(sample.isEdited) << sample.title;
        EXPECT_TRUE(sample.audioURL.empty()) << sample.title;
    }
    EXPECT_EQ(library->status(), "Found 3 samples, audio files unavailable");
}

TEST_F(LibraryReading, MetadataKeysAndBadMetadata) {
    const std::string upperB = "22222222-2222-2222-2222-22222222222B";
    const std::string lowerB = "22222222-2222-2222-2222-22222222222b";
    Json manifest = Json::array({sampleJson(idA, "A", "a.wav"), sampleJson(upperB, "B", "b.wav")});
    auto titleOf = [](const std::string& title) { return Json{{"titleOverride", title}}; };

    // Lower-case keys are accepted and keys that are no UUID ignored; the upper-case key wins a tie.
    EXPECT_EQ(readBack(manifest, {{"aaaa", titleOf("Ignored")}, {lowerB, titleOf("Lower")}})[1].title,
              "Lower");
    EXPECT_EQ(readBack(manifest, {{lowerB, titleOf("Lower")}, {upperB, titleOf("Upper")}})[1].title, "Upper");
    EXPECT_EQ(
        readBack(manifest, {{idA, {{"titleOverride", nullptr}, {"edit", nullptr}, {"chops", nullptr}}}})[0]
            .title,
        "A");

    // One bad value anywhere, even under a key that is no UUID, hides every override.
    for (const Json& bad :
         {Json{{idA, titleOf("One")}, {upperB, {{"isDeleted", "yes"}}}},
          Json{{idA, titleOf("One")}, {"junk", {{"edit", {{"startTime", "0"}}}}}},
          Json{{idA, titleOf("One")}, {upperB, {{"analysis", {{"bpm", 120}}}}}}, Json::array({1})}) {
        auto samples = readBack(manifest, bad);
        ASSERT_EQ(samples.size(), 2u) << bad;
        EXPECT_EQ(samples[0].title, "A") << bad;
    }
}

TEST_F(LibraryReading, SamplesAreListedNewestFirstKeepingTiesInFileOrder) {
    auto samples = readBack(Json::array({sampleJson(idA, "Old", "a.wav", "2024-01-01T00:00:00Z"),
                                         sampleJson(idB, "Tie first", "b.wav", "2024-06-01T12:00:00Z"),
                                         sampleJson(idC, "New", "c.wav", "2024-06-01T13:30:00+02:00"),
                                         sampleJson(idD, "Tie second", "d.wav", "2024-06-01T12:00:00Z")}));
    std::vector<std::string> titles;
    for (const auto& sample : samples)
        titles.push_back(sample.title);
    EXPECT_THAT(titles, testing::ElementsAre("Tie first", "Tie second", "New", "Old"));
}

TEST_F(LibraryReading, LiveRefreshPollsUntilStopped) {
    int samplesSignals = 0;
    int detailSignals = 0;
    QObject::connect(library.get(), &VellumtidePluginLibrary::samplesChanged, [&] { ++samplesSignals; });
    QObject::connect(library.get(), &VellumtidePluginLibrary::detailChanged, [&] { ++detailSignals; });

    library->startLiveRefresh();
    settle();
    EXPECT_TRUE(library->isLiveRefreshing());
    EXPECT_EQ(timer->interval, std::chrono::milliseconds(1000));
    // Nothing changed since the reader was made: nothing is published again.
    EXPECT_EQ(samplesSignals, 0);
    EXPECT_EQ(detailSignals, 0);

    // A pass that reads assigns the values, the detail twice, even when they are unchanged.
    touchSamples({"a.wav"});
    writeFile(mirror / "library.json", Json::array({sampleJson(idA, "Kick", "a.wav")}).dump());
    fireAndSettle();
    EXPECT_EQ(library->status(), "1 synced sample");
    EXPECT_EQ(samplesSignals, 1);
    EXPECT_EQ(detailSignals, 2);

    // Stopping makes one last pass.
    writeFile(mirror / "bridge-metadata.json", Json{{idA, {{"isDeleted", true}}}}.dump());
    library->stopLiveRefresh();
    settle();
    EXPECT_FALSE(library->isLiveRefreshing());
    EXPECT_EQ(library->status(), "Bridge library is empty");
    library->stopLiveRefresh();
    EXPECT_EQ(samplesSignals, 2);
}

TEST_F(LibraryReading, ThePollReadsTheFilesOnlyWhenTheyChange) {
    touchSamples({"a.wav"});
    const std::string kick = Json::array({sampleJson(idA, "Kick", "a.wav")}).dump();
    writeFile(mirror / "library.json", kick);
    library->startLiveRefresh();
    settle();
    const auto reads = library->readCount();
    int samplesSignals = 0;
    QObject::connect(library.get(), &VellumtidePluginLibrary::samplesChanged, [&] { ++samplesSignals; });
    for (int tick = 0; tick < 5; ++tick)
        fireAndSettle();
    EXPECT_EQ(library->readCount(), reads) << "an unchanged library is not read again";
    EXPECT_EQ(samplesSignals, 0);

    // Another size, a new metadata file, the same size written later, a replacement by rename
    // with the old size and time: each is read once.
    writeFile(mirror / "library.json", Json::array({sampleJson(idA, "Kick two", "a.wav")}).dump());
    fireAndSettle();
    EXPECT_EQ(library->readCount(), reads + 1);
    EXPECT_EQ(library->samples().at(0).title, "Kick two");
    writeFile(mirror / "bridge-metadata.json", Json{{idA, {{"titleOverride", "Kick 3"}}}}.dump());
    fireAndSettle();
    EXPECT_EQ(library->samples().at(0).title, "Kick 3");
    const auto modified = std::filesystem::last_write_time(mirror / "bridge-metadata.json");
    writeFile(mirror / "bridge-metadata.json", Json{{idA, {{"titleOverride", "Kick 4"}}}}.dump());
    std::filesystem::last_write_time(mirror / "bridge-metadata.json", modified + std::chrono::seconds(1));
    fireAndSettle();
    EXPECT_EQ(library->samples().at(0).title, "Kick 4");
    const auto lastTime = std::filesystem::last_write_time(mirror / "bridge-metadata.json");
    writeFile(mirror / "replacement.json", Json{{idA, {{"titleOverride", "Kick 5"}}}}.dump());
    std::filesystem::last_write_time(mirror / "replacement.json", lastTime);
    std::filesystem::rename(mirror / "replacement.json", mirror / "bridge-metadata.json");
    fireAndSettle();
    EXPECT_EQ(library->samples().at(0).title, "Kick 5");
    EXPECT_EQ(library->readCount(), reads + 4);
    fireAndSettle();
    EXPECT_EQ(library->readCount(), reads + 4);

    // A removed file, and a library that goes away, are noticed too.
    std::filesystem::remove(mirror / "bridge-metadata.json");
    fireAndSettle();
    EXPECT_EQ(library->samples().at(0).title, "Kick two");
    std::filesystem::remove(mirror / "library.json");
    fireAndSettle();
    EXPECT_TRUE(library->samples().empty());
    EXPECT_EQ(library->readCount(), reads + 6);
}

TEST_F(LibraryReading, ThePollSeesAudioFilesComeAndGoWithoutReadingAgain) {
    touchSamples({"a.wav", "b.wav"});
    touch(mirror / "Chops" / (idA + "-chop-" + chopA + ".wav"));
    writeFile(mirror / "library.json",
              Json::array({sampleJson(idA, "Kick", "a.wav"), sampleJson(idB, "Snare", "b.wav")}).dump());
    writeFile(mirror / "bridge-metadata.json",
              Json{{idA,
                    {{"chops",
                      {{{"id", chopA}, {"index", 0}, {"startTime", 1}, {"endTime", 2}, {"strength", 0.5}}}}}},
                   {idB, {{"edit", {{"startTime", 2}, {"endTime", 5}}}}}}
                  .dump());
    library->startLiveRefresh();
    settle();
    const auto reads = library->readCount();
    auto find = [this](const std::string& id) {
        for (const auto& sample : library->samples())
            if (sample.id.string() == id)
                return sample;
        return VellumtidePluginSample{};
    };
    ASSERT_EQ(library->status(), "2 synced samples");
    const auto listBefore = library->sharedSamples();

    std::filesystem::remove(mirror / "Samples" / "a.wav");
    std::filesystem::remove(mirror / "Chops" / (idA + "-chop-" + chopA + ".wav"));
    fireAndSettle();
    EXPECT_FALSE(find(idA).isAvailable);
    EXPECT_FALSE(find(idA).chops.at(0).isAvailable);
    EXPECT_EQ(library->status(), "2 samples, 1 missing file");
    EXPECT_TRUE(listBefore->front().isAvailable) << "a published list never changes under its holder";

    // The rendered edit appears: the sample now plays it, with the edited length.
    touch(mirror / "Edited" / (idB + ".wav"));
    touchSamples({"a.wav"});
    fireAndSettle();
    EXPECT_TRUE(find(idA).isAvailable);
    EXPECT_TRUE(find(idB).isEdited);
    EXPECT_EQ(find(idB).audioURL, mirror / "Edited" / (idB + ".wav"));
    EXPECT_DOUBLE_EQ(find(idB).duration, 3.0);
    EXPECT_EQ(library->status(), "2 synced samples");
    EXPECT_EQ(library->readCount(), reads) << "no library file changed, so none was read again";

    int samplesSignals = 0;
    QObject::connect(library.get(), &VellumtidePluginLibrary::samplesChanged, [&] { ++samplesSignals; });
    fireAndSettle();
    EXPECT_EQ(samplesSignals, 0) << "nothing changed, nothing is published";
}

// The desktop program's form, tricky titles included, is read in two steps (the samples, then
// the peak lists); other forms are left to the strict decoding of the whole file.
TEST_F(LibraryReading, TheDesktopProgramsFormIsReadInTwoSteps) {
    const std::string title = R"(Kick "peaks: [9] ]}{[ \)";
    const auto file = mirror / "library.json";
    Json second = sampleJson(idB, "Snare", "b.wav");
    second["peaks"] = {0.75, 1e-3};
    writeFile(file, Json::array({sampleJson(idA, title, "a.wav"), second}).dump(2));
    const std::atomic_bool stop{false};
    auto index = ManifestIndex::read(file, stop);
    ASSERT_TRUE(index);
    ASSERT_EQ(index->samples().size(), 2u);
    EXPECT_EQ(index->samples()[0].title, title);
    EXPECT_TRUE(index->samples()[1].peaks.empty());
    EXPECT_EQ(index->peaks(1), (std::vector<float>{0.75f, 1e-3f}));
    std::vector<std::vector<float>> lists;
    EXPECT_TRUE(
        index->readPeaks([&](std::size_t, std::vector<float> peaks) { lists.push_back(peaks); }, stop));
    EXPECT_EQ(lists, (std::vector<std::vector<float>>{{0.25f, 1}, {0.75f, 1e-3f}}));

    const std::string kick = sampleJson(idA, "Kick", "a.wav").dump();
    const std::string withoutKey = kick.substr(0, kick.size() - 1);
    for (const std::string& text :
         {"[" + withoutKey + R"(,"p\u0065aks":[0.5]})" + "]", "[" + withoutKey + R"(,"peaks":null})" + "]",
          "[" + withoutKey + R"(,"peaks":[1,[2]]})" + "]", std::string("{}"), "[" + kick + "] x"}) {
        writeFile(file, text);
        EXPECT_FALSE(ManifestIndex::read(file, stop)) << text;
    }
}

TEST_F(LibraryReading, ABackgroundReadEndsWithItsReaderAndPublishesNothingAfterwards) {
    Json manifest = Json::array();
    for (int index = 0; index < 4000; ++index) {
        char id[40];
        std::snprintf(id, sizeof id, "%08X-0000-4000-8000-000000000000", index);
        manifest.push_back(sampleJson(id, "Sample", "s.wav"));
        manifest.back()["peaks"] = std::vector<float>(200, 0.5f);
    }
    const std::string text = manifest.dump(2);
    int published = 0;
    // A new reader, made before the library is there, to which the library then comes.
    auto freshReader = [&] {
        library.reset();
        std::filesystem::remove(mirror / "library.json");
        SetUp();
        QObject::connect(library.get(), &VellumtidePluginLibrary::samplesChanged, [&] {
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            ++published;
        });
        writeFile(mirror / "library.json", text);
    };

    // Destroyed at once, while its thread reads, and destroyed once its result is likely posted
    // but not delivered: neither touches the reader after its end.
    freshReader();
    library->refreshInBackground();
    library.reset();
    freshReader();
    library->refreshInBackground();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    library.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(published, 0);

    // Left alone, the same read is published on the thread the reader lives on: a library that
    // shows nothing yet gets its first rows (as the whole list begins) before the whole list.
    freshReader();
    VellumtidePluginLibrary::SampleList first;
    QObject::connect(library.get(), &VellumtidePluginLibrary::samplesChanged, [&] {
        if (!first)
            first = library->sharedSamples();
    });
    library->refreshInBackground();
    EXPECT_TRUE(library->isReading());
    settle();
    EXPECT_FALSE(library->isReading());
    EXPECT_EQ(published, 2);
    ASSERT_EQ(library->samples().size(), 4000u);
    ASSERT_TRUE(first);
    ASSERT_EQ(first->size(), LibraryScanner::firstRowCount);
    EXPECT_TRUE(std::equal(first->begin(), first->end(), library->samples().begin()));
    EXPECT_EQ(library->status(), "Found 4000 samples, audio files unavailable");
}

TEST_F(LibraryReading, TheManifestIsReadAsStrictlyAsEver) {
    touchSamples({"a.wav"});
    auto sample = [](Json changes) {
        Json element = sampleJson(idA, "Kick", "a.wav");
        for (auto& [key, value] : changes.items())
            element[key] = value;
        return element;
    };
    auto readable = [&](const std::string& text) {
        writeFile(mirror / "library.json", text);
        library->refresh();
        return library->status() != "Bridge library could not be read";
    };
    const std::string kick = sample({}).dump();
    const std::string withoutKey = kick.substr(0, kick.size() - 1);
    EXPECT_TRUE(readable("[]"));
    EXPECT_TRUE(readable("[" + kick + "]"));
    // Of two equal keys the last counts; null is absent; unknown keys may hold anything.
    EXPECT_TRUE(readable("[" + withoutKey + R"(,"title":5,"title":"Again"})" + "]"));
    EXPECT_EQ(library->samples().at(0).title, "Again");
    EXPECT_TRUE(readable("[" + withoutKey + R"(,"isFavorite":null,"extra":{"peaks":[{"x":[1]}]}})" + "]"));
    EXPECT_FALSE(library->samples().at(0).isFavorite);
    EXPECT_TRUE(readable("[" + sample({{"byteCount", 2.0}}).dump() + "]"));
    EXPECT_TRUE(readable("[" + withoutKey + R"(,"peaks":7,"peaks":[0.5]})" + "]"));
    EXPECT_EQ(library->samples().at(0).peaks, std::vector<float>{0.5f});
    EXPECT_TRUE(readable("[" + withoutKey + R"(,"p\u0065aks":[0.25]})" + "]"));
    EXPECT_EQ(library->samples().at(0).peaks, std::vector<float>{0.25f});
    // Key-like text, brackets and braces inside strings are text; each sample keeps its own
    // peaks, whatever place it is listed at.
    const std::string title = R"(Kick "peaks: [9] ]}{[ \)";
    EXPECT_TRUE(readable(
        Json::array({sample({{"title", title}, {"peaks", {0.25}}}),
                     sample({{"id", idB}, {"peaks", {0.75, 1}}, {"createdAt", "2025-01-01T00:00:00Z"}})})
            .dump(2)));
    ASSERT_EQ(library->samples().size(), 2u);
    EXPECT_EQ(library->samples().at(0).peaks, (std::vector<float>{0.75f, 1}));
    EXPECT_EQ(library->samples().at(1).title, title);
    EXPECT_EQ(library->samples().at(1).peaks, std::vector<float>{0.25f});

    for (const std::string& text :
         {std::string("{}"), std::string("[5]"), std::string("[[]]"), std::string("[" + kick + "] x"),
          "[" + sample({{"byteCount", 1.5}}).dump() + "]", "[" + sample({{"peaks", nullptr}}).dump() + "]",
          "[" + sample({{"peaks", {1, {2}}}}).dump() + "]",
          "[" + sample({{"peaks", {1, {{"a", 1}}}}}).dump() + "]",
          "[" + sample({{"peaks", {1e39}}}).dump() + "]", "[" + sample({{"peaks", "none"}}).dump() + "]",
          "[" + sample({{"title", {{"text", "Kick"}}}}).dump() + "]",
          "[" + sample({{"id", "not-a-uuid"}}).dump() + "]",
          "[" + sample({{"createdAt", "yesterday"}}).dump() + "]",
          "[" + withoutKey + R"(,"peaks":[0.5],"peaks":null})" + "]",
          "[" + kick + "," + sample({{"duration", "ten"}}).dump() + "]"})
        EXPECT_FALSE(readable(text)) << text;
    EXPECT_TRUE(library->samples().empty());
}

} // namespace
