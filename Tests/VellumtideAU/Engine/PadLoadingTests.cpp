#include "Tests/VellumtideAU/Engine/UnitHarness.h"
#include "VellumtideAU/Engine/VellumtideAudioUnitReference.h"

#include <chrono>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <thread>

namespace {

using vt::test::TemporaryFolder;
using vt::test::UnitHarness;

struct PadLoadingTest : ::testing::Test {
    TemporaryFolder folder;
    UnitHarness host;

    VellumtidePadKitState kit(std::vector<VellumtidePadAssignment> assignments) {
        return {std::move(assignments)};
    }
};

TEST_F(PadLoadingTest, UnloadableFilesLeaveTheSlotSilentButInTheKit) {
    auto missing = host.padFor(folder, 0, 10);
    missing.filePath = (folder / "missing.wav").string();
    auto empty = host.padFor(folder, 1, 10);
    vt::test::writeFloatWav(empty.filePath, 44100, {{}});
    auto garbage = host.padFor(folder, 2, 10);
    vt::test::writeFile(garbage.filePath, "RIFF not really");
    auto fifo = host.padFor(folder, 3, 10);
    fifo.filePath = (folder / "pipe.wav").string();
    ASSERT_EQ(::mkfifo(fifo.filePath.c_str(), 0600), 0);
    auto directory = host.padFor(folder, 4, 10);
    directory.filePath = folder.path().string();
    auto good = host.padFor(folder, 5, 10);

    // A FIFO would block the caller forever if it were opened: this returns at once.
    host.unit->applyPadKit(kit({missing, empty, garbage, fifo, directory, good}));
    EXPECT_EQ(host.unit->padKitState().assignments.size(), 6u);
    for (int slot = 0; slot < 5; ++slot)
        EXPECT_EQ(host.unit->loadedPad(slot), nullptr) << slot;
    EXPECT_NE(host.unit->loadedPad(5), nullptr);
    for (int note = 36; note < 41; ++note)
        host.noteOn(0, note);
    host.render(4);
    EXPECT_TRUE(host.unit->voiceSnapshot().empty());
}

TEST_F(PadLoadingTest, ChannelsMonoCopiesAndFourChannelsGiveTheFirstTwo) {
    auto mono = host.padFor(folder, 0, 50, 44100, 1);
    auto quad = host.padFor(folder, 1, 50, 48000, 4);
    host.unit->applyPadKit(kit({mono, quad}));
    auto monoPad = host.unit->loadedPad(0);
    auto quadPad = host.unit->loadedPad(1);
    ASSERT_TRUE(monoPad && quadPad);
    EXPECT_EQ(monoPad->left(), monoPad->right());
    EXPECT_EQ(monoPad->frameCount(), 50u);
    auto channels = vt::test::rampChannels(50, 4);
    EXPECT_EQ(quadPad->left(), channels[0]);
    EXPECT_EQ(quadPad->right(), channels[1]);
    EXPECT_EQ(quadPad->sampleRate, 48000);
}

TEST_F(PadLoadingTest, UnchangedFilesAreReusedAndRerenderedFilesReadAgain) {
    auto a = host.padFor(folder, 2, 100);
    host.unit->applyPadKit(kit({a}));
    auto first = host.unit->loadedPad(2);
    host.unit->applyPadKit(kit({a}));
    EXPECT_EQ(host.unit->loadedPad(2)->left().data(), first->left().data()); // shared, not read again

    // The desktop program re-renders the sample in place: same path, new contents.
    vt::test::writeFloatWav(a.filePath, 44100,
                            {std::vector<float>(100, 0.9f), std::vector<float>(100, 0.9f)});
    std::filesystem::last_write_time(a.filePath,
                                     std::filesystem::last_write_time(a.filePath) + std::chrono::seconds(2));
    host.unit->applyPadKit(kit({a}));
    EXPECT_EQ(host.unit->loadedPad(2)->left(), std::vector<float>(100, 0.9f));

    // Moving the assignment to another slot reads the file again.
    auto moved = a;
    moved.slot = 3;
    host.unit->applyPadKit(kit({moved}));
    EXPECT_EQ(host.unit->loadedPad(2), nullptr);
    EXPECT_EQ(host.unit->loadedPad(3)->left(), std::vector<float>(100, 0.9f));
}

TEST_F(PadLoadingTest, SoundingVoicesKeepTheirPadWhileRemovedSlotsFallSilent) {
    auto two = host.padFor(folder, 2, 1000);
    auto five = host.padFor(folder, 5, 1000);
    host.unit->applyPadKit(kit({two, five}));
    host.noteOn(0, 38);
    host.noteOn(0, 41);
    host.render(8);

    auto quieter = two;
    quieter.volume = 0.5f;
    host.unit->applyPadKit(kit({quieter, five}));
    host.noteOn(static_cast<std::int64_t>(host.sampleTime), 38);
    host.render(8);
    auto voices = host.unit->voiceSnapshot();
    ASSERT_EQ(voices.size(), 3u);
    EXPECT_EQ(voices[0].gain, 1.0f); // the sounding voice keeps its gain
    EXPECT_EQ(voices[2].gain, 0.5f); // the next note-on uses the new volume

    host.unit->applyPadKit(kit({five}));
    voices = host.unit->voiceSnapshot();
    ASSERT_EQ(voices.size(), 1u);
    EXPECT_EQ(voices[0].slot, 5);
    EXPECT_EQ(voices[0].position, 16.0);
}

TEST_F(PadLoadingTest, TheLaterOfTwoConcurrentKitsIsTheOneInstalled) {
    // The first kit takes a while to read; the second, applied meanwhile, must not be overwritten.
    auto slow = host.padFor(folder, 0, 4'000'000, 44100, 2);
    auto quick = host.padFor(folder, 1, 10);
    std::thread restore([&] { host.unit->applyPadKit(kit({slow})); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    host.unit->applyPadKit(kit({quick}));
    restore.join();
    EXPECT_EQ(host.unit->padKitState(), kit({quick}));
    EXPECT_EQ(host.unit->loadedPad(0), nullptr);
}

// 16-bit FLAC of a silent mono file whose header does not tell its length (total samples 0).
void writeFlacWithoutLength(const std::filesystem::path& path, int rate, std::size_t frames) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    std::vector<short> silence(frames, 0);
    sf_write_short(file, silence.data(), static_cast<sf_count_t>(frames));
    sf_close(file);
    // STREAMINFO follows "fLaC" and its block header; its 36-bit sample count ends at byte 25.
    std::fstream stream(path, std::ios::in | std::ios::out | std::ios::binary);
    char bytes[26];
    stream.read(bytes, sizeof bytes);
    bytes[21] = static_cast<char>(bytes[21] & 0xF0);
    std::fill(bytes + 22, bytes + 26, 0);
    stream.seekp(0);
    stream.write(bytes, sizeof bytes);
}

// Grows a WAV file to 2 GB of (sparse) audio data, its header telling the new length.
void makeTwoGigabyteWav(const std::filesystem::path& path) {
    constexpr std::uint32_t size = 2'000'000'000;
    std::string header(4096, '\0');
    {
        std::ifstream stream(path, std::ios::binary);
        stream.read(header.data(), static_cast<std::streamsize>(header.size()));
    }
    auto data = header.find("data");
    ASSERT_NE(data, std::string::npos);
    auto littleEndian = [](std::uint32_t value) {
        return std::string{char(value & 0xFF), char((value >> 8) & 0xFF), char((value >> 16) & 0xFF),
                           char(value >> 24)};
    };
    std::filesystem::resize_file(path, size);
    std::fstream stream(path, std::ios::in | std::ios::out | std::ios::binary);
    stream.seekp(4);
    stream.write(littleEndian(size - 8).data(), 4);
    stream.seekp(static_cast<std::streamoff>(data + 4));
    stream.write(littleEndian(size - static_cast<std::uint32_t>(data) - 8).data(), 4);
}

TEST_F(PadLoadingTest, FilesLongerThanTenMinutesStayEmptyAndSayWhy) {
    // At 1000 Hz ten minutes are 600,000 frames: that many load, one more does not.
    auto fits = host.padFor(folder, 0, 600'000, 1000, 1);
    auto over = host.padFor(folder, 1, 600'001, 1000, 1);
    // A 2 GB WAV (sparse: it takes no disk) that would take seconds and gigabytes to decode.
    auto huge = host.padFor(folder, 2, 100, 44100, 2);
    makeTwoGigabyteWav(huge.filePath);
    // A header that does not tell the length: the decoding stops at the limit.
    auto untold = host.padFor(folder, 3, 10);
    untold.filePath = (folder / "untold.flac").string();
    writeFlacWithoutLength(untold.filePath, 1000, 600'500);
    auto missing = host.padFor(folder, 4, 10);
    missing.filePath = (folder / "gone.wav").string();

    VellumtideAudioUnitReference reference;
    reference.set(host.unit);
    // Processor time, which a busy machine does not stretch: decoding the 2 GB file takes seconds.
    const std::clock_t started = std::clock();
    reference.apply(kit({fits, over, huge, untold, missing}));
    EXPECT_LT(double(std::clock() - started) / CLOCKS_PER_SEC, 3.0) << "the 2 GB file was decoded";
    EXPECT_EQ(host.unit->padKitState().assignments.size(), 5u); // the kit keeps every assignment
    ASSERT_NE(host.unit->loadedPad(0), nullptr);
    EXPECT_EQ(host.unit->loadedPad(0)->frameCount(), 600'000u);
    EXPECT_EQ(host.unit->padLoadFailure(0), "");
    for (int slot : {1, 2, 3}) {
        EXPECT_EQ(host.unit->loadedPad(slot), nullptr) << slot;
        EXPECT_NE(reference.padLoadFailure(slot).find("is longer than 10 minutes and was not loaded."),
                  std::string::npos)
            << slot << ": " << reference.padLoadFailure(slot);
    }
    EXPECT_EQ(reference.padLoadFailure(1),
              "\"pad1-600001.wav\" is longer than 10 minutes and was not loaded.");
    EXPECT_EQ(reference.padLoadFailure(4), "\"gone.wav\" could not be found.");
    EXPECT_EQ(reference.padLoadFailure(5), ""); // no assignment

    // Once the slot gets a file that loads, its reason goes.
    reference.apply(kit({fits, host.padFor(folder, 1, 10)}));
    EXPECT_EQ(reference.padLoadFailure(1), "");
}

TEST_F(PadLoadingTest, ReferenceReachesOnlyALiveUnit) {
    VellumtideAudioUnitReference reference;
    EXPECT_FALSE(reference.currentState());
    reference.apply(kit({host.padFor(folder, 0, 10)})); // nothing to apply to

    auto pad = host.padFor(folder, 4, 10);
    reference.set(host.unit);
    reference.apply(kit({pad}));
    EXPECT_EQ(reference.currentState(), kit({pad}));
    EXPECT_NE(host.unit->loadedPad(4), nullptr);

    auto later = UnitHarness().unit;
    reference.set(later);
    EXPECT_EQ(reference.currentState(), VellumtidePadKitState::empty);
    later.reset(); // the host releases the unit; the reference does not keep it
    EXPECT_FALSE(reference.currentState());
    EXPECT_FALSE(reference.hasUnit());
    reference.apply(kit({pad}));
}

TEST_F(PadLoadingTest, ReferenceTellsItsHolderWhenTheUnitGoesOrChanges) {
    VellumtideAudioUnitReference reference;
    std::vector<std::optional<VellumtidePadKitState>> seen;
    // The handler may read the unit through the reference while it is being told.
    reference.setUnitChangeHandler([&] { seen.push_back(reference.currentState()); });

    auto pad = host.padFor(folder, 6, 10);
    host.unit->applyPadKit(kit({pad}));
    reference.set(host.unit);
    auto second = UnitHarness().unit;
    reference.set(second);
    reference.set(nullptr); // the owner lets the unit go
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], kit({pad}));
    EXPECT_EQ(seen[1], VellumtidePadKitState::empty);
    EXPECT_FALSE(seen[2]);
    EXPECT_FALSE(reference.hasUnit());

    // A cleared handler is never called again, and what it held is released at once.
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watch = token;
    reference.setUnitChangeHandler([&seen, token] { seen.clear(); });
    token.reset();
    reference.setUnitChangeHandler(nullptr);
    EXPECT_TRUE(watch.expired());
    reference.set(host.unit);
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_EQ(reference.currentState(), kit({pad}));
}

} // namespace
