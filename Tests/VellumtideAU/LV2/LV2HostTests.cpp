// The built bundle played and restored by lilv, a real LV2 host library, found through LV2_PATH.

#include "Tests/Support/TemporaryFolder.h"
#include "Tests/VellumtideAU/Engine/WavFixtures.h"
#include "Tests/VellumtideAU/LV2/LilvHost.h"
#include "VellumtideAU/Engine/VellumtideAudioUnitReference.h"
#include "VellumtideAU/LV2/VellumtideLV2.h"

#include <atomic>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sstream>
#include <thread>

namespace {

// The build's bundle folder unless the environment names another.
const bool lv2PathSet = (::setenv("LV2_PATH", VELLUMTIDE_LV2_DIR, 0), true);

using vt::test::HostedPlugin;
using vt::test::LilvHost;
using vt::test::TemporaryFolder;

struct LV2HostTest : ::testing::Test {
    LilvHost host;
    TemporaryFolder folder;

    void SetUp() override {
        ASSERT_NE(host.plugin(vt::lv2::pluginURI), nullptr) << "LV2_PATH must name the build's lv2";
    }

    // What the window gets through the private extension data.
    static std::shared_ptr<VellumtideAudioUnitReference> sharedReference(HostedPlugin& plugin) {
        auto* access =
            static_cast<const vt::lv2::UnitAccessInterface*>(plugin.extensionData(vt::lv2::unitAccessURI));
        EXPECT_NE(access, nullptr);
        EXPECT_EQ(access->version, vt::lv2::unitAccessVersion);
        return access->unitReference(plugin.handle());
    }
    static VellumtideAudioUnitReference& reference(HostedPlugin& plugin) { return *sharedReference(plugin); }

    VellumtidePadAssignment pad(std::int64_t slot, double rate,
                                const std::vector<std::vector<float>>& channels) {
        auto path = folder / ("slot" + std::to_string(slot) + "-" + std::to_string(int(rate)) + ".wav");
        vt::test::writeFloatWav(path, rate, channels);
        return VellumtidePadAssignment(vt::Uuid::random(), slot, "Pad",
                                       VellumtidePadAssignment::SourceKind::sample, std::nullopt,
                                       std::nullopt, path.string(), 0.1, {0.5f}, 1.0f, 0);
    }
};

// The kit as restored from a state folder: its files reached through the links the host made there.
VellumtidePadKitState linkedInto(VellumtidePadKitState kit, const std::filesystem::path& stateFolder) {
    for (auto& assignment : kit.assignments)
        assignment.filePath = (stateFolder / std::filesystem::path(assignment.filePath).filename()).string();
    return kit;
}

// The lines of this process's memory map that name one of FFmpeg's libraries.
std::string mappedFfmpegLibraries() {
    std::ifstream maps("/proc/self/maps");
    std::string line, found;
    while (std::getline(maps, line)) {
        for (const char* name : {"libavformat", "libavcodec", "libavutil"}) {
            if (line.find(name) != std::string::npos)
                found += line + "\n";
        }
    }
    return found;
}

// The value the mixer produces reading a channel at a fractional position.
float interpolated(const std::vector<float>& channel, double position) {
    auto k = static_cast<std::size_t>(position);
    std::size_t k2 = std::min(k + 1, channel.size() - 1);
    auto f = static_cast<float>(position - static_cast<double>(k));
    return channel[k] + (channel[k2] - channel[k]) * f;
}

// What a host shows about the plug-in: its maintainer, licence and version.
TEST_F(LV2HostTest, TheDescriptionNamesItsMaintainerLicenceAndVersion) {
    const LilvPlugin* plugin = host.plugin(vt::lv2::pluginURI);
    LilvNode* author = lilv_plugin_get_author_name(plugin);
    ASSERT_NE(author, nullptr);
    EXPECT_STREQ(lilv_node_as_string(author), "Vellumtide");
    lilv_node_free(author);
    auto value = [&](const char* uri) {
        LilvNode* predicate = lilv_new_uri(host.world, uri);
        LilvNodes* values = lilv_plugin_get_value(plugin, predicate);
        lilv_node_free(predicate);
        std::string text = values && lilv_nodes_size(values) == 1
                               ? lilv_node_as_string(lilv_nodes_get_first(values))
                               : "missing or repeated";
        lilv_nodes_free(values);
        return text;
    };
    EXPECT_EQ(value("http://usefulinc.com/ns/doap#license"), "https://spdx.org/licenses/GPL-3.0-or-later");
    // A release: hosts hide plug-ins whose minor version is 0 or odd (unstable) by default.
    EXPECT_EQ(value(LV2_CORE__minorVersion), "2");
    EXPECT_EQ(value(LV2_CORE__microVersion), "0");
}

TEST_F(LV2HostTest, PlaysNotesSampleAccuratelyAtBothRates) {
    for (double rate : {44100.0, 48000.0}) {
        HostedPlugin plugin(host, vt::lv2::pluginURI, rate, 512);
        ASSERT_TRUE(plugin.valid());
        auto kick = vt::test::rampChannels(300, 2);
        auto slow = vt::test::rampChannels(100, 2, 0.002f);
        reference(plugin).apply(VellumtidePadKitState{{pad(0, rate, kick), pad(1, rate / 2, slow)}});

        plugin.noteOn(40, 37, 127, 9); // any channel, any order in the sequence
        plugin.noteOn(17, 36);
        plugin.run(256);
        const auto& left = plugin.output(0);
        const auto& right = plugin.output(1);
        for (std::size_t t = 0; t < 256; ++t) {
            float expectedLeft = t >= 17 ? kick[0][t - 17] : 0.0f;
            float expectedRight = t >= 17 ? kick[1][t - 17] : 0.0f;
            if (t >= 40 && (t - 40) * 0.5 < 100) {
                expectedLeft += interpolated(slow[0], (t - 40) * 0.5);
                expectedRight += interpolated(slow[1], (t - 40) * 0.5);
            }
            ASSERT_FLOAT_EQ(left[t], expectedLeft) << "rate " << rate << " frame " << t;
            ASSERT_FLOAT_EQ(right[t], expectedRight) << "rate " << rate << " frame " << t;
        }
        // The next block goes on where the last one stopped; the 300-frame pad ends at frame 316.
        plugin.run(256);
        EXPECT_FLOAT_EQ(plugin.output(0)[0], kick[0][239]);
        EXPECT_FLOAT_EQ(plugin.output(0)[43], kick[0][282]);
        EXPECT_FLOAT_EQ(plugin.output(0)[60], kick[0][299]);
        EXPECT_EQ(plugin.output(0)[61], 0.0f);
    }
}

TEST_F(LV2HostTest, UnconnectedSecondOutputGetsHalfTheSum) {
    HostedPlugin plugin(host, vt::lv2::pluginURI, 48000, 256, false);
    ASSERT_TRUE(plugin.valid());
    reference(plugin).apply(VellumtidePadKitState{
        {pad(3, 48000, {std::vector<float>(64, 0.5f), std::vector<float>(64, 0.25f)})}});
    plugin.noteOn(10, 39);
    plugin.run(128);
    for (std::size_t t = 0; t < 128; ++t)
        ASSERT_FLOAT_EQ(plugin.output(0)[t], t >= 10 && t < 74 ? 0.375f : 0.0f) << t;
}

TEST_F(LV2HostTest, StateSavedToAFolderRestoresIntoAFreshInstance) {
    auto kit = VellumtidePadKitState{
        {pad(0, 44100, vt::test::rampChannels(50, 1)), pad(7, 44100, vt::test::rampChannels(80, 2))}};
    {
        HostedPlugin original(host, vt::lv2::pluginURI, 44100, 256);
        reference(original).apply(kit);
        original.saveState(folder / "saved");
    }
    std::stringstream saved;
    saved << std::ifstream(folder / "saved" / "state.ttl").rdbuf();
    EXPECT_NE(saved.str().find("VellumtidePadKit"), std::string::npos);

    HostedPlugin fresh(host, vt::lv2::pluginURI, 44100, 256);
    ASSERT_TRUE(fresh.restoreState(folder / "saved"));
    EXPECT_EQ(reference(fresh).currentState(), linkedInto(kit.normalized(), folder / "saved"));
    fresh.noteOn(0, 43);
    fresh.run(64);
    EXPECT_FLOAT_EQ(fresh.output(0)[5], vt::test::rampChannels(80, 2)[0][5]);

    // Restored while the host's render thread keeps running blocks.
    HostedPlugin busy(host, vt::lv2::pluginURI, 44100, 256);
    std::atomic<bool> stop{false};
    std::thread render([&] {
        while (!stop)
            busy.run(64);
    });
    for (int round = 0; round < 20; ++round)
        ASSERT_TRUE(busy.restoreState(folder / "saved"));
    stop = true;
    render.join();
    EXPECT_EQ(reference(busy).currentState(), linkedInto(kit.normalized(), folder / "saved"));
}

// lilv offers state:mapPath: a pad file inside the session folder is stored relative to it, one
// from elsewhere by the name of the link the host makes in the session, so the session can be
// moved or archived. A state that names a file by its absolute path, as every state saved before
// paths were mapped does, still restores.
TEST_F(LV2HostTest, PadPathsTravelWithTheSessionThroughTheHostsPathMapping) {
    auto session = folder / "session";
    std::filesystem::create_directories(session / "Audio");
    auto inside = pad(0, 44100, vt::test::rampChannels(60, 2));
    auto insidePath = session / "Audio" / "kick.wav";
    std::filesystem::rename(inside.filePath, insidePath);
    inside.filePath = insidePath.string();
    auto outside = pad(5, 44100, vt::test::rampChannels(40, 1));
    {
        HostedPlugin original(host, vt::lv2::pluginURI, 44100, 256);
        reference(original).apply(VellumtidePadKitState{{inside, outside}});
        original.saveState(session);
    }
    std::stringstream saved;
    saved << std::ifstream(session / "state.ttl").rdbuf();
    EXPECT_NE(saved.str().find("\"filePath\":\"Audio/kick.wav\""), std::string::npos) << saved.str();
    EXPECT_NE(saved.str().find("\"filePath\":\"slot5-44100.wav\""), std::string::npos) << saved.str();
    EXPECT_EQ(saved.str().find(folder.path().string()), std::string::npos) << "an absolute path is stored";
    EXPECT_TRUE(std::filesystem::exists(outside.filePath));

    // The host's links are relative, so the session moves beside its old place.
    auto moved = folder / "renamed-session";
    std::filesystem::rename(session, moved);
    auto expectPlays = [&](const std::filesystem::path& stateFolder, const std::filesystem::path& firstPath,
                           const std::filesystem::path& secondPath) {
        HostedPlugin fresh(host, vt::lv2::pluginURI, 44100, 256);
        ASSERT_TRUE(fresh.restoreState(stateFolder));
        auto restored = reference(fresh).currentState();
        ASSERT_TRUE(restored);
        ASSERT_EQ(restored->assignments.size(), 2u);
        EXPECT_EQ(std::filesystem::path(restored->assignments[0].filePath), firstPath);
        EXPECT_EQ(std::filesystem::path(restored->assignments[1].filePath), secondPath);
        EXPECT_EQ(reference(fresh).padLoadFailure(0), "");
        EXPECT_EQ(reference(fresh).padLoadFailure(5), "");
        fresh.noteOn(0, 36);
        fresh.noteOn(0, 41);
        fresh.run(64);
        EXPECT_FLOAT_EQ(fresh.output(0)[10],
                        vt::test::rampChannels(60, 2)[0][10] + vt::test::rampChannels(40, 1)[0][10]);
    };
    expectPlays(moved, moved / "Audio" / "kick.wav", moved / "slot5-44100.wav");

    // The same state as an earlier version wrote it: absolute paths.
    std::string older = saved.str();
    auto replace = [&older](const std::string& from, const std::string& to) {
        auto at = older.find(from);
        ASSERT_NE(at, std::string::npos);
        older.replace(at, from.size(), to);
    };
    replace("\"Audio/kick.wav\"", "\"" + (moved / "Audio" / "kick.wav").string() + "\"");
    replace("\"slot5-44100.wav\"", "\"" + outside.filePath + "\"");
    std::filesystem::create_directories(folder / "older");
    std::ofstream(folder / "older" / "state.ttl") << older;
    expectPlays(folder / "older", moved / "Audio" / "kick.wav", outside.filePath);
}

// FFmpeg is no part of the plug-in: a host maps its libraries only once a pad's file needs them
// (a CAF file here, where a WAV file needs none), and that pad then plays.
TEST_F(LV2HostTest, FfmpegLoadsIntoTheHostOnlyForAPadThatNeedsIt) {
    const auto audio = vt::test::rampChannels(80, 2);
    {
        HostedPlugin original(host, vt::lv2::pluginURI, 44100, 256);
        reference(original).apply(VellumtidePadKitState{{pad(0, 44100, audio)}});
        original.saveState(folder / "saved");
    }
    auto restoredPlays = [&] {
        HostedPlugin fresh(host, vt::lv2::pluginURI, 44100, 256);
        ASSERT_TRUE(fresh.restoreState(folder / "saved"));
        EXPECT_EQ(reference(fresh).padLoadFailure(0), "");
        fresh.noteOn(0, 36);
        fresh.run(64);
        EXPECT_FLOAT_EQ(fresh.output(0)[5], audio[0][5]);
    };
    restoredPlays();
    EXPECT_EQ(mappedFfmpegLibraries(), "");

    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_CAF | SF_FORMAT_FLOAT;
    SNDFILE* caf = sf_open((folder / "pad.caf").c_str(), SFM_WRITE, &info);
    ASSERT_NE(caf, nullptr);
    std::vector<float> interleaved;
    for (std::size_t i = 0; i < audio[0].size(); ++i)
        interleaved.insert(interleaved.end(), {audio[0][i], audio[1][i]});
    sf_writef_float(caf, interleaved.data(), static_cast<sf_count_t>(audio[0].size()));
    sf_close(caf);
    std::stringstream text;
    text << std::ifstream(folder / "saved" / "state.ttl").rdbuf();
    std::string state = text.str();
    const std::string wavName = "slot0-44100.wav";
    const auto at = state.find(wavName);
    ASSERT_NE(at, std::string::npos) << state;
    state.replace(at, wavName.size(), (folder / "pad.caf").string());
    std::ofstream(folder / "saved" / "state.ttl") << state;
    restoredPlays();
    EXPECT_NE(mappedFfmpegLibraries().find("libavformat"), std::string::npos);
}

TEST_F(LV2HostTest, StateWithoutAStringKitRestoresNothing) {
    HostedPlugin plugin(host, vt::lv2::pluginURI, 44100, 256);
    auto kit = VellumtidePadKitState{{pad(2, 44100, vt::test::rampChannels(20, 2))}};
    reference(plugin).apply(kit);
    plugin.saveState(folder / "kit");

    // The same state file with the kit's value turned into a number, and one without the property.
    std::stringstream text;
    text << std::ifstream(folder / "kit" / "state.ttl").rdbuf();
    std::string original = text.str();
    auto at = original.find("VellumtidePadKit>");
    ASSERT_NE(at, std::string::npos);
    auto valueStart = original.find("\"\"\"", at);
    auto valueEnd = original.find("\"\"\"", valueStart + 3);
    ASSERT_NE(valueEnd, std::string::npos) << original;
    std::string numeric = original.substr(0, valueStart) + "4" + original.substr(valueEnd + 3);
    std::filesystem::create_directories(folder / "numeric");
    std::ofstream(folder / "numeric" / "state.ttl") << numeric;

    HostedPlugin other(host, vt::lv2::pluginURI, 44100, 256);
    auto otherKit = VellumtidePadKitState{{pad(9, 44100, vt::test::rampChannels(20, 2))}};
    reference(other).apply(otherKit);
    if (other.restoreState(folder / "numeric")) {
        EXPECT_EQ(reference(other).currentState(), otherKit);
    }
    ASSERT_TRUE(other.restoreState(folder / "kit"));
    EXPECT_EQ(reference(other).currentState(), linkedInto(kit, folder / "kit"));
}

TEST_F(LV2HostTest, TheWindowsReferenceOutlivesTheInstanceAndIsToldWhenItsUnitGoes) {
    auto kit = VellumtidePadKitState{{pad(4, 44100, vt::test::rampChannels(30, 2))}};
    std::shared_ptr<VellumtideAudioUnitReference> windowReference;
    std::vector<bool> toldWithUnit;
    {
        HostedPlugin plugin(host, vt::lv2::pluginURI, 44100, 256);
        windowReference = sharedReference(plugin);
        EXPECT_EQ(windowReference, sharedReference(plugin)); // one reference per instance
        windowReference->setUnitChangeHandler([&] { toldWithUnit.push_back(windowReference->hasUnit()); });
        windowReference->apply(kit);
        EXPECT_EQ(windowReference->currentState(), kit);
        EXPECT_TRUE(toldWithUnit.empty());
    } // the host cleans the instance up (the last one: lilv also closes the module)
    const std::string module = std::string(VELLUMTIDE_LV2_DIR) + "/vellumtide.lv2/vellumtide_dsp.so";
    void* stillLoaded = ::dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(stillLoaded, nullptr) << "the reference's code must stay loaded";
    ::dlclose(stillLoaded);
    EXPECT_EQ(toldWithUnit, std::vector<bool>{false});
    EXPECT_FALSE(windowReference->hasUnit());
    EXPECT_FALSE(windowReference->currentState());
    windowReference->apply(kit); // nothing to apply to, and no crash
    windowReference->setUnitChangeHandler(nullptr);
}

} // namespace
