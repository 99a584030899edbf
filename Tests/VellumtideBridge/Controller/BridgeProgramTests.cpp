// The program's run in two real processes: a second launch hands its URLs to the running one,
// whose controller opens the named sample. Each process lives in a temporary home with the
// network and desktop shut off.

#include "Platform/Audio/AudioFile.h"
#include "Tests/Platform/Desktop/ProcessOutput.h"
#include "Tests/Support/Audio/AudioFixtures.h"
#include "Tests/Support/TemporaryFolder.h"
#include "Tests/VellumtideBridge/Controller/BridgeViewModelProbe.h"
#include "Tests/VellumtideBridge/Controller/ControllerFixture.h"
#include "VellumtideBridge/Sources/Audio/BridgeSampleRenderer.h"
#include "VellumtideBridge/Sources/Controller/BridgeProgram.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>
#include <unistd.h>

namespace vt::test {
namespace {

const QString probe = QStringLiteral(VT_BRIDGE_PROGRAM_PROBE);

// The environment that makes a child's folders those of paths (see Paths::underRoot).
QProcessEnvironment environmentFor(const Paths& paths) {
    auto environment = QProcessEnvironment::systemEnvironment();
    auto text = [](const std::filesystem::path& path) { return QString::fromStdString(path.string()); };
    environment.insert("HOME", text(paths.home));
    environment.insert("XDG_CONFIG_HOME", text(paths.config));
    environment.insert("XDG_RUNTIME_DIR", text(paths.runtime));
    environment.insert("TMPDIR", text(paths.temp));
    return environment;
}

class BridgeProgramTest : public ControllerTest {
protected:
    void SetUp() override {
        std::filesystem::create_directories(paths.runtime);
        std::filesystem::permissions(paths.runtime, std::filesystem::perms::owner_all);
        std::filesystem::create_directories(paths.temp);
    }
    void TearDown() override {
        if (first.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
            first.waitForFinished(patienceMilliseconds);
        }
    }
    int launchAgain(const QStringList& arguments) {
        QProcess second;
        second.setProcessEnvironment(environment);
        second.start(probe, arguments);
        if (!second.waitForFinished(patienceMilliseconds))
            return -1;
        return second.exitCode();
    }
    // Starts the running program, quietly as the plug-in does.
    bool startFirst() {
        first.setProcessEnvironment(environment);
        first.start(probe, {"--hidden"});
        return waitForOutput(first, seen, "ready\n", patienceMilliseconds);
    }

    QProcessEnvironment environment = environmentFor(paths);
    QProcess first;
    QByteArray seen;
};

TEST_F(BridgeProgramTest, ASecondLaunchHandsItsURLsToTheRunningProgram) {
    auto take = makeSample("take", 100);
    seedLibrary({take});
    const QString id = QString::fromStdString(take.id.string());

    ASSERT_TRUE(startFirst());

    EXPECT_EQ(launchAgain({"vellumtide://edit/" + id.toLower()}), 0);
    EXPECT_TRUE(waitForOutput(first, seen, "status:Editing take\n", patienceMilliseconds));
    EXPECT_TRUE(seen.contains("activated\nediting:" + id.toUtf8() + "\n"));

    // A launch without URLs only brings the running program forward.
    seen.clear();
    EXPECT_EQ(launchAgain({}), 0);
    EXPECT_TRUE(waitForOutput(first, seen, "activated\n", patienceMilliseconds));
    EXPECT_FALSE(seen.contains("editing:"));
    EXPECT_EQ(first.state(), QProcess::Running);
}

TEST_F(BridgeProgramTest, AQuietSecondLaunchLeavesTheRunningProgramUnseen) {
    ASSERT_TRUE(startFirst());
    EXPECT_EQ(launchAgain({"--hidden"}), 0); // the plug-in's quiet start, each time its window opens
    EXPECT_EQ(launchAgain({"--hidden"}), 0);
    // Hand-offs are handled in order: by the time a URL's activation shows, the quiet ones are done.
    EXPECT_EQ(launchAgain({"vellumtide://open"}), 0);
    EXPECT_TRUE(waitForOutput(first, seen, "activated\n", patienceMilliseconds));
    EXPECT_EQ(seen.count("activated\n"), 1) << seen.toStdString();
}

TEST_F(BridgeProgramTest, WithoutARuntimeFolderTheHandOffUsesAPrivateFolderOfOurOwn) {
    environment.remove("XDG_RUNTIME_DIR");
    const auto own = paths.temp / ("vellumtide-" + std::to_string(::getuid()));
    ASSERT_TRUE(startFirst());
    EXPECT_EQ(std::filesystem::symlink_status(own).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    EXPECT_EQ(launchAgain({"vellumtide://open"}), 0) << "handed over, not a second program";
    EXPECT_TRUE(waitForOutput(first, seen, "activated\n", patienceMilliseconds));
}

TEST_F(BridgeProgramTest, AnUnsafeFallbackFolderIsRefusedWithAReason) {
    environment.remove("XDG_RUNTIME_DIR");
    const auto own = paths.temp / ("vellumtide-" + std::to_string(::getuid()));
    std::filesystem::create_directories(own);
    std::filesystem::permissions(own, std::filesystem::perms::owner_all | std::filesystem::perms::others_all);
    ASSERT_TRUE(startFirst()) << "the program runs on its own";
    QByteArray errors = first.readAllStandardError();
    for (int turn = 0; turn < 50 && !errors.contains("0707"); ++turn) {
        first.waitForReadyRead(100);
        errors += first.readAllStandardError();
    }
    EXPECT_TRUE(errors.contains("no single-instance hand-off (" + QByteArray::fromStdString(own.string()) +
                                " has mode 0707, not 0700)"))
        << errors.toStdString();
    EXPECT_EQ(std::filesystem::status(own).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all | std::filesystem::perms::others_all)
        << "an existing folder is never changed";
}

// The processes still running whose environment holds HOME=home: what a program started in that
// home left behind.
std::vector<std::string> processesOf(const std::filesystem::path& home) {
    const std::string mark = "HOME=" + home.string();
    std::vector<std::string> found;
    std::error_code unreadable;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", unreadable)) {
        std::ifstream environ(entry.path() / "environ", std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(environ)), std::istreambuf_iterator<char>());
        std::size_t at = text.find(mark);
        if (at != std::string::npos && (at == 0 || text[at - 1] == '\0') &&
            (at + mark.size() == text.size() || text[at + mark.size()] == '\0')) {
            std::ifstream name(entry.path() / "comm");
            std::string command;
            std::getline(name, command);
            found.push_back(entry.path().filename().string() + " " + command);
        }
    }
    return found;
}

// The real program, started quietly as the plug-in starts it, on an X server but with no session
// bus: it starts no bus daemon through the X server (a stand-in launcher on the PATH notes being
// asked), and nothing it started outlives it. It runs in a network namespace of its own, where
// nothing of the network reaches it.
TEST_F(BridgeProgramTest, WithoutASessionBusTheProgramStartsNoBusDaemonThatOutlivesIt) {
    if (!std::getenv("VT_TEST_X11") || !std::getenv("DISPLAY"))
        GTEST_SKIP() << "no private X server (scripts/test-services.sh starts Xvfb)";
    const auto launchers = paths.temp / "bin";
    const auto asked = paths.temp / "bus-launcher-asked";
    writeFile(launchers / "dbus-launch", "#!/bin/sh\necho \"$@\" >> '" + asked.string() + "'\nexit 1\n");
    std::filesystem::permissions(launchers / "dbus-launch", std::filesystem::perms::owner_all);
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    environment.insert("PATH", QString::fromStdString(launchers.string()) + ":" + environment.value("PATH"));

    QProcess program;
    program.setProcessEnvironment(environment);
    program.start("unshare",
                  {"--user", "--map-root-user", "--net", QStringLiteral(VT_BRIDGE_PROGRAM), "--hidden"});
    ASSERT_TRUE(program.waitForStarted(patienceMilliseconds));
    QElapsedTimer waited;
    waited.start();
    while (!std::filesystem::exists(paths.runtime / "vellumtide-bridge.socket") &&
           program.state() == QProcess::Running && waited.elapsed() < patienceMilliseconds)
        program.waitForFinished(50);
    if (program.state() != QProcess::Running)
        GTEST_SKIP() << "no network namespace of our own: " << program.readAllStandardError().toStdString();
    ASSERT_TRUE(std::filesystem::exists(paths.runtime / "vellumtide-bridge.socket")) << "the program runs";
    program.waitForFinished(1000); // its start-up settles
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(patienceMilliseconds));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << "SIGTERM quits through the program's way out";
    EXPECT_EQ(program.exitCode(), 0);

    std::ifstream askedFor(asked);
    EXPECT_FALSE(askedFor.is_open()) << "a bus daemon was asked for: " << askedFor.rdbuf();
    std::vector<std::string> left;
    for (int turn = 0; turn < 20 && !(left = processesOf(paths.home)).empty(); ++turn)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(left.empty()) << "still running: " << left.front();
}

// A quit while an edit renders waits a little for it: the edit is stored with its file. SIGTERM,
// SIGINT and SIGHUP take the same way out, and the exit status is 0.
TEST_F(BridgeProgramTest, AQuitOrAQuitSignalWhileAnEditRendersKeepsTheEdit) {
    auto take = makeSample("take", 100);
    seedLibrary({take});
    makePlayable(take, 1.0);
    const auto rendered = libraryRoot() / "Edited" / (take.id.string() + ".wav");
    for (int signal : {0, SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal ? strsignal(signal) : "quit");
        std::filesystem::remove(rendered);
        writeFile(libraryRoot() / "bridge-metadata.json", "{}");
        seen.clear();
        environment.insert("VT_PROBE_QUIT_WHILE_RENDERING", signal ? "signal" : "self");
        ASSERT_TRUE(startFirst());
        if (signal) {
            ASSERT_TRUE(waitForOutput(first, seen, "rendering\n", patienceMilliseconds))
                << seen.toStdString();
            ::kill(static_cast<pid_t>(first.processId()), signal);
        }
        ASSERT_TRUE(first.waitForFinished(patienceMilliseconds));
        seen += first.readAllStandardOutput();
        EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(first.exitCode(), 0);
        EXPECT_TRUE(seen.contains(signal ? "\nrendering\n" : "quit while rendering\n")) << seen.toStdString();
        EXPECT_TRUE(std::filesystem::exists(rendered));
        const auto overlay = BridgeSampleMetadata::fileFromJsonText(
                                 readWholeFile(libraryRoot() / "bridge-metadata.json").value_or("{}"),
                                 DateForm::referenceSeconds)
                                 .entries;
        ASSERT_TRUE(overlay.count(take.id));
        EXPECT_DOUBLE_EQ(overlay.at(take.id).edit.startTime, 0.25);
    }
}

// The samples of an audio file (its header holds a time), nothing when it cannot be read.
std::optional<std::vector<std::vector<float>>> audioOf(const std::filesystem::path& file) {
    try {
        return readAudioFile(file).channels;
    } catch (const AudioFileError&) {
        return std::nullopt;
    }
}

// kill -9 at any moment while a sample that has an edit is edited again, and while another is
// edited for the first time and reset: at the next start every rendered edit, and the plug-in's
// copy of it, is the render of the edit stored for its sample, and nothing waits any more.
TEST_F(BridgeProgramTest, AKillAtAnyMomentOfAnEditLeavesEachRenderedEditMatchingItsStoredEdit) {
    auto again = makeSample("again", 100), fresh = makeSample("fresh", 90);
    again.duration = fresh.duration = 1.0;
    seedLibrary({again, fresh});
    writeWav(libraryRoot() / "Samples" / again.fileName, 8000, {sineWave(220, 8000, 8000)});
    writeWav(libraryRoot() / "Samples" / fresh.fileName, 8000, {sawWave(330, 8000, 8000)});
    environment.insert("VT_PROBE_EDIT_CYCLE", "1");

    constexpr int killPoints = 24;
    std::set<std::string> storedEdits; // the stored edits seen after a kill
    for (int point = 0; point < killPoints; ++point) {
        SCOPED_TRACE("kill point " + std::to_string(point));
        seen.clear();
        ASSERT_TRUE(startFirst()) << seen.toStdString();
        // After none, one or two edits have been applied (whatever the machine's speed), at a
        // moment spread over the next one.
        const qsizetype after = point % 3;
        QElapsedTimer waited;
        waited.start();
        while (seen.count("applied\n") < after && waited.elapsed() < patienceMilliseconds) {
            first.waitForReadyRead(20);
            seen += first.readAllStandardOutput();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(point * 7 % 45));
        ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
        ASSERT_TRUE(first.waitForFinished(patienceMilliseconds));
        seen += first.readAllStandardOutput();
        ASSERT_GE(seen.count("applied\n"), after) << seen.toStdString();

        start();
        settleWrites();
        BridgeViewModelProbe restarted(*model);
        const auto& cache = *restarted.cache;
        for (const SampleItem& sample : {again, fresh}) {
            SCOPED_TRACE(sample.title);
            auto entry = restarted.sampleMetadata.find(sample.id);
            const BridgeSampleEdit stored =
                entry == restarted.sampleMetadata.end() ? BridgeSampleEdit() : entry->second.edit;
            storedEdits.insert(sample.title + " " + stored.toJson().dump());
            if (!stored.isActive(sample.duration)) {
                EXPECT_FALSE(std::filesystem::exists(cache.editedSampleURL(sample)));
                EXPECT_FALSE(std::filesystem::exists(cache.mirroredEditedSampleURL(sample)));
                continue;
            }
            const auto reference = folder / "reference.wav";
            BridgeSampleRenderer::renderSynchronously(*cache.sampleURL(sample), reference, stored);
            const auto expected = audioOf(reference);
            EXPECT_TRUE(audioOf(cache.editedSampleURL(sample)) == expected);
            EXPECT_TRUE(audioOf(cache.mirroredEditedSampleURL(sample)) == expected);
        }
        for (const auto& file : std::filesystem::directory_iterator(cache.editedDirectory()))
            EXPECT_FALSE(file.path().filename().string().starts_with(".")) << file.path();
        model.reset();
    }
    EXPECT_GE(storedEdits.size(), 4u) << "the kills left different edits stored";
}

// kill -9 at any moment of a run of deletions (each sample with its raw file, a rendered edit and
// a chop): after the next start no sample marked deleted has a file left, in the library or the
// plug-in's copy, both copies of the overlay agree, and every other sample keeps all its files.
TEST_F(BridgeProgramTest, AKillAtAnyMomentOfADeleteLeavesNoFileOfADeletedSample) {
    constexpr int killPoints = 16;
    std::vector<SampleItem> takes;
    BridgeMetadataMap overlay;
    for (int i = 0; i < killPoints * 10; ++i) {
        takes.push_back(makeSample("take " + std::to_string(i), 1000 - i));
        overlay[takes.back().id].edit.startTime = 0.25;
        overlay[takes.back().id].chops = {makeChop(0, 0, 0.5)};
    }
    seedLibrary(takes);
    const BridgeSampleCache seeded(paths, libraryRoot());
    seeded.saveLocalMetadata(overlay);
    for (const auto& take : takes) {
        writeFile(seeded.editedSampleURL(take), "edit");
        writeFile(seeded.chopSampleURL(take, overlay[take.id].chops[0]), "chop");
    }
    environment.insert("VT_PROBE_DELETE_RUN", "1");

    std::size_t deleted = 0;
    for (int point = 0; point < killPoints; ++point) {
        SCOPED_TRACE("kill point " + std::to_string(point));
        seen.clear();
        ASSERT_TRUE(startFirst()) << seen.toStdString();
        ASSERT_TRUE(waitForOutput(first, seen, "deleting\n", patienceMilliseconds));
        std::this_thread::sleep_for(std::chrono::milliseconds(point * 7 % 60));
        ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
        ASSERT_TRUE(first.waitForFinished(patienceMilliseconds));

        start();
        settleWrites();
        BridgeViewModelProbe restarted(*model);
        const auto& cache = *restarted.cache;
        deleted = 0;
        for (const auto& take : takes) {
            SCOPED_TRACE(take.title);
            auto entry = restarted.sampleMetadata.find(take.id);
            const bool gone = entry != restarted.sampleMetadata.end() && entry->second.isDeleted;
            deleted += gone ? 1 : 0;
            const auto chop = cache.chopSampleURL(take, overlay[take.id].chops[0]);
            const auto mirroredChop = cache.mirroredChopSampleURL(take, overlay[take.id].chops[0]);
            for (const auto& file :
                 {*cache.sampleURL(take), cache.auMirrorSamplesDirectory() / take.fileName,
                  cache.editedSampleURL(take), cache.mirroredEditedSampleURL(take), chop, mirroredChop})
                EXPECT_EQ(std::filesystem::exists(file), !gone) << file;
        }
        EXPECT_EQ(model->samples().size(), takes.size() - deleted);
        EXPECT_EQ(readWholeFile(cache.metadataURL()),
                  readWholeFile(cache.auMirrorRootURL() / BridgeSampleCache::metadataFileName));
        model.reset();
    }
    // However slow the build (a sanitizer's), some kills came once deletions were stored.
    EXPECT_GT(deleted, 0u) << "no kill came after a deletion was stored";
}

// kill -9 at any moment while the phone's chops are imported, sync after sync with the phone
// changing them each time (a kept chop's times, a chop dropped, a new one): at the next start,
// without a sync, each stored chop has the render of its own times in "Chops" and in the plug-in's
// copy, "Chops" holds no other chop of the sample, and nothing waits any more.
TEST_F(BridgeProgramTest, AKillAtAnyMomentOfAChopImportLeavesEachStoredChopWithItsOwnRender) {
    auto loop = makeSample("loop", 100), beat = makeSample("beat", 90);
    loop.duration = beat.duration = 1.0;
    seedLibrary({loop, beat});
    writeWav(libraryRoot() / "Samples" / loop.fileName, 8000, {sineWave(220, 8000, 8000)});
    writeWav(libraryRoot() / "Samples" / beat.fileName, 8000, {sawWave(330, 8000, 8000)});
    environment.insert("VT_PROBE_CHOP_IMPORT_CYCLE", "1");

    constexpr int killPoints = 24;
    std::set<std::string> storedChops; // the stored chop lists seen after a kill
    for (int point = 0; point < killPoints; ++point) {
        SCOPED_TRACE("kill point " + std::to_string(point));
        seen.clear();
        ASSERT_TRUE(startFirst()) << seen.toStdString();
        // After none to three syncs (whatever the machine's speed), at a moment spread over the
        // next one.
        const qsizetype after = point % 4;
        QElapsedTimer waited;
        waited.start();
        while (seen.count("synced\n") < after && waited.elapsed() < patienceMilliseconds) {
            first.waitForReadyRead(20);
            seen += first.readAllStandardOutput();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(point * 13 % 150));
        ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
        ASSERT_TRUE(first.waitForFinished(patienceMilliseconds));
        seen += first.readAllStandardOutput();
        ASSERT_GE(seen.count("synced\n"), after) << seen.toStdString();

        start();
        settleWrites();
        BridgeViewModelProbe restarted(*model);
        const auto& cache = *restarted.cache;
        for (const SampleItem& sample : {loop, beat}) {
            SCOPED_TRACE(sample.title);
            auto entry = restarted.sampleMetadata.find(sample.id);
            const std::vector<BridgeSampleChop> chops = entry == restarted.sampleMetadata.end()
                                                            ? std::vector<BridgeSampleChop>()
                                                            : entry->second.chops;
            std::string list = sample.title;
            for (const auto& chop : chops) {
                list += " " + chop.toJson().dump();
                const auto reference = folder / "reference.wav";
                BridgeSampleRenderer::renderSynchronously(*cache.sampleURL(sample), reference,
                                                          chop.edit(BridgeSampleChop::defaultFade));
                const auto expected = audioOf(reference);
                EXPECT_TRUE(audioOf(cache.chopSampleURL(sample, chop)) == expected) << chop.toJson().dump();
                EXPECT_TRUE(audioOf(cache.mirroredChopSampleURL(sample, chop)) == expected)
                    << chop.toJson().dump();
            }
            // A file of a chop the stored ones replaced may stay (a kill between the store and the
            // placing): no entry names it, and nothing is removed for want of an entry.
            storedChops.insert(list);
        }
        for (const auto& file : std::filesystem::directory_iterator(cache.chopsDirectory()))
            EXPECT_FALSE(file.path().filename().string().starts_with(".")) << file.path();
        model.reset();
    }
    EXPECT_GE(storedChops.size(), 6u) << "the kills left different chops stored";
}

TEST(BridgeProgramArguments, URLsAndTheQuietStart) {
    auto parsed = BridgeProgramArguments::parse(
        {"vellumtide-bridge", "--hidden", "vellumtide://open", "", "--verbose", "vellumtide://edit/x"});
    EXPECT_TRUE(parsed.hidden);
    EXPECT_EQ(parsed.urls, (QStringList{"vellumtide://open", "vellumtide://edit/x"}));
    EXPECT_FALSE(BridgeProgramArguments::parse({"vellumtide-bridge"}).hidden);

    // The hand-off carries the quiet start along with the URLs.
    EXPECT_EQ(parsed.handOffMessages(),
              (QStringList{"--hidden", "vellumtide://open", "vellumtide://edit/x"}));
    auto handedOff = BridgeProgramArguments::fromHandOff(parsed.handOffMessages());
    EXPECT_TRUE(handedOff.hidden);
    EXPECT_EQ(handedOff.urls, parsed.urls);
    EXPECT_FALSE(BridgeProgramArguments::fromHandOff({}).hidden);
}

} // namespace
} // namespace vt::test
