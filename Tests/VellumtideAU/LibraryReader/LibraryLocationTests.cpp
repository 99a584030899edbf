// Where the plug-in looks for the library: the candidate folders, the real home folder behind a
// confined home, de-duplication and the short path text.

#include "Tests/Support/TemporaryFolder.h"
#include "VellumtideAU/LibraryReader/VellumtidePluginLibrary.h"

#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>

namespace {

using Candidate = VellumtidePluginLibrary::LibraryCandidate;
using Path = std::filesystem::path;

std::vector<std::string> describe(const std::vector<Candidate>& candidates) {
    std::vector<std::string> lines;
    for (const auto& candidate : candidates)
        lines.push_back(candidate.label + " " + candidate.url.string());
    return lines;
}

const std::string mirror = "/.local/share/com.kestrelworks.vellumtide.bridge.au/Data/Music/Vellumtide";

LibraryEnvironment environmentFor(Path home, Path accountHome, std::optional<Path> music,
                                  std::optional<std::string> user) {
    LibraryEnvironment environment;
    environment.home = std::move(home);
    environment.accountHome = std::move(accountHome);
    environment.musicFolder = std::move(music);
    environment.userName = std::move(user);
    return environment;
}

TEST(LibraryLocation, MirrorFolderTextIsTheOneTheDesktopProgramWrites) {
    EXPECT_EQ(VellumtidePluginLibrary::mirrorRelativePath,
              ".local/share/com.kestrelworks.vellumtide.bridge.au/Data/Music/Vellumtide");
}

TEST(LibraryLocation, RealHomeIsRecoveredFromConfinedAndPlainHomes) {
    const Path homes = "/home";
    EXPECT_EQ(VellumtidePluginLibrary::realUserHomeURL("/home/ann/snap/host/42", homes), Path("/home/ann"));
    EXPECT_EQ(VellumtidePluginLibrary::realUserHomeURL("/home/ann/", homes), Path("/home/ann"));
    EXPECT_EQ(VellumtidePluginLibrary::realUserHomeURL("/home/./ann/x/..", homes), Path("/home/ann"));
    EXPECT_FALSE(VellumtidePluginLibrary::realUserHomeURL("/home", homes));
    EXPECT_FALSE(VellumtidePluginLibrary::realUserHomeURL("/root", homes));
    EXPECT_FALSE(VellumtidePluginLibrary::realUserHomeURL("/Home/ann", homes));
    EXPECT_FALSE(VellumtidePluginLibrary::realUserHomeURL("/home/../root", homes));
}

TEST(LibraryLocation, CandidatesComeInTheirFixedOrder) {
    // $HOME first, then the account's home; the user's folder and the confined home's real home
    // are the account's here, so they add nothing.
    auto environment = environmentFor("/home/ann/snap/host/42", "/home/ann", Path("/data/Tunes"), "ann");
    EXPECT_THAT(
        describe(VellumtidePluginLibrary::libraryCandidates(environment)),
        testing::ElementsAre("AU mirror /home/ann/snap/host/42" + mirror, "AU mirror /home/ann" + mirror,
                             "Bridge cache /home/ann/snap/host/42/Music/Vellumtide",
                             "Bridge cache /home/ann/Music/Vellumtide", "Music /data/Tunes/Vellumtide"));

    // Three different homes keep their order.
    environment = environmentFor("/home/ann", "/home/bob", Path("/home/ann/Music"), "cat");
    EXPECT_THAT(describe(VellumtidePluginLibrary::libraryCandidates(environment)),
                testing::ElementsAre(
                    "AU mirror /home/ann" + mirror, "AU mirror /home/bob" + mirror,
                    "AU mirror /home/cat" + mirror, "Bridge cache /home/ann/Music/Vellumtide",
                    "Bridge cache /home/bob/Music/Vellumtide", "Bridge cache /home/cat/Music/Vellumtide"));

    // Without an account entry, a confined home still leads to the home it sits in.
    environment = environmentFor("/home/ann/.var/app/host/data", "", Path("/srv/Tunes"), std::nullopt);
    EXPECT_THAT(describe(VellumtidePluginLibrary::libraryCandidates(environment)),
                testing::ElementsAre(
                    "AU mirror /home/ann/.var/app/host/data" + mirror, "AU mirror /home/ann" + mirror,
                    "Bridge cache /home/ann/.var/app/host/data/Music/Vellumtide",
                    "Bridge cache /home/ann/Music/Vellumtide", "Music /srv/Tunes/Vellumtide"));
}

TEST(LibraryLocation, HomesOutsideTheHomesFolderAreCandidatesToo) {
    // An administrator's home and an image-based distribution's /var/home.
    auto environment = environmentFor("/root", "/root", Path("/root/Music"), "root");
    EXPECT_THAT(describe(VellumtidePluginLibrary::libraryCandidates(environment)),
                testing::ElementsAre("AU mirror /root" + mirror, "AU mirror /home/root" + mirror,
                                     "Bridge cache /root/Music/Vellumtide",
                                     "Bridge cache /home/root/Music/Vellumtide"));
    environment = environmentFor("/var/home/ann", "/var/home/ann", Path("/var/home/ann/Music"), "ann");
    EXPECT_THAT(describe(VellumtidePluginLibrary::libraryCandidates(environment)),
                testing::ElementsAre("AU mirror /var/home/ann" + mirror, "AU mirror /home/ann" + mirror,
                                     "Bridge cache /var/home/ann/Music/Vellumtide",
                                     "Bridge cache /home/ann/Music/Vellumtide"));

    // Unset, empty or path-like user names add nothing; neither does a relative or empty home.
    for (std::optional<std::string> user :
         {std::optional<std::string>(), std::optional<std::string>(""), std::optional<std::string>(".."),
          std::optional<std::string>("a/b")}) {
        environment = environmentFor("/root", "relative/home", Path("/srv/Music"), user);
        EXPECT_THAT(describe(VellumtidePluginLibrary::libraryCandidates(environment)),
                    testing::ElementsAre("AU mirror /root" + mirror, "Bridge cache /root/Music/Vellumtide",
                                         "Music /srv/Music/Vellumtide"));
    }

    // A failed Music lookup falls back to the home's Music folder, already a candidate.
    environment = environmentFor("/var/lib/ann", "", std::nullopt, std::nullopt);
    EXPECT_THAT(describe(VellumtidePluginLibrary::libraryCandidates(environment)),
                testing::ElementsAre("AU mirror /var/lib/ann" + mirror,
                                     "Bridge cache /var/lib/ann/Music/Vellumtide"));
}

TEST(LibraryLocation, AbbreviatedPathReplacesTheHomeAtAComponentBoundary) {
    const Path home = "/home/ann";
    EXPECT_EQ(VellumtidePluginLibrary::abbreviatedPath("/home/ann/Music/Vellumtide", home),
              "~/Music/Vellumtide");
    EXPECT_EQ(VellumtidePluginLibrary::abbreviatedPath("/home/ann", home), "~");
    EXPECT_EQ(VellumtidePluginLibrary::abbreviatedPath("/home/anna/Music", home), "/home/anna/Music");
    EXPECT_EQ(VellumtidePluginLibrary::abbreviatedPath("/srv/Music/", home), "/srv/Music");
}

// The reader as the plug-in builds it (from the process's environment and the account entry),
// with the mirror written under a home outside /home.
class ProcessLibraryLocation : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"HOME", "USER", "XDG_CONFIG_HOME"})
            if (const char* value = std::getenv(name))
                saved[name] = value;
        ::unsetenv("XDG_CONFIG_HOME");
        vt::test::writeFile(varHome / mirror.substr(1) / "library.json",
                            R"([{"id":"11111111-1111-1111-1111-111111111111",
            "title":"Kick","createdAt":"2024-03-05T07:08:09Z","fileName":"kick.wav","duration":1,
            "sampleRate":44100,"byteCount":10,"peaks":[0.5]}])");
    }
    void TearDown() override {
        for (const char* name : {"HOME", "USER", "XDG_CONFIG_HOME"})
            if (auto found = saved.find(name); found != saved.end())
                ::setenv(name, found->second.c_str(), 1);
            else
                ::unsetenv(name);
    }
    // Reads the library as the window would, with the given account entry.
    std::string foundTitle(std::optional<LibraryEnvironment::AccountEntry> account) {
        auto environment = LibraryEnvironment::fromProcess([account] { return account; });
        environment.homesFolder = temp / "home"; // stands for /home, which holds nobody here
        VellumtidePluginLibrary library(environment);
        return library.samples().empty() ? library.status() : library.samples().front().title;
    }

    vt::test::TemporaryFolder temp;
    Path varHome = temp / "var" / "home" / "ann"; // an image-based distribution's home
    std::map<std::string, std::string> saved;
};

TEST_F(ProcessLibraryLocation, TheMirrorIsFoundUnderAHomeOutsideTheHomesFolder) {
    ::setenv("HOME", varHome.c_str(), 1);
    ::setenv("USER", "ann", 1);
    EXPECT_EQ(foundTitle(LibraryEnvironment::AccountEntry{"ann", varHome}), "Kick");
    EXPECT_EQ(foundTitle(std::nullopt), "Kick") << "no account entry: $HOME alone";
}

TEST_F(ProcessLibraryLocation, TheAccountsHomeServesWhenHomeIsUnsetOrElsewhere) {
    ::unsetenv("HOME");
    ::unsetenv("USER");
    EXPECT_EQ(foundTitle(LibraryEnvironment::AccountEntry{"ann", varHome}), "Kick");

    ::setenv("HOME", (temp / "elsewhere").c_str(), 1); // a host that points HOME at its own folder
    EXPECT_EQ(foundTitle(LibraryEnvironment::AccountEntry{"ann", varHome}), "Kick");
    EXPECT_EQ(foundTitle(LibraryEnvironment::AccountEntry{"ann", temp / "nobody"}),
              "Waiting for Bridge library");

    // The user's folder in the homes folder, named by the account when $USER is unset.
    vt::test::writeFile(temp / "home" / "ann" / mirror.substr(1) / "library.json", "[]");
    EXPECT_EQ(foundTitle(LibraryEnvironment::AccountEntry{"ann", temp / "nobody"}),
              "Bridge library is empty");
}

} // namespace
