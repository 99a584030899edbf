// Where the plug-in looks for the library: the candidate folders, the real home folder behind a
// confined home, de-duplication and the short path text.

#include "VellumtideAU/LibraryReader/VellumtidePluginLibrary.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
    auto environment = environmentFor("/home/ann/snap/host/42", "/home/ann", Path("/data/Tunes"), "ann");
    EXPECT_THAT(describe(VellumtidePluginLibrary::libraryCandidates(environment)),
                testing::ElementsAre(
                    "AU mirror /home/ann" + mirror, "Bridge cache /home/ann/Music/Vellumtide",
                    "Music /data/Tunes/Vellumtide", "AU sandbox /home/ann/snap/host/42/Music/Vellumtide"));

    // Two different real homes (and a user name naming a third) keep their order.
    environment = environmentFor("/home/ann", "/home/bob", Path("/home/ann/Music"), "cat");
    EXPECT_THAT(describe(VellumtidePluginLibrary::libraryCandidates(environment)),
                testing::ElementsAre(
                    "AU mirror /home/ann" + mirror, "AU mirror /home/bob" + mirror,
                    "AU mirror /home/cat" + mirror, "Bridge cache /home/ann/Music/Vellumtide",
                    "Bridge cache /home/bob/Music/Vellumtide", "Bridge cache /home/cat/Music/Vellumtide"));
}

TEST(LibraryLocation, CandidatesWithoutRealHomesOrUserName) {
    // A home outside the homes folder gives no real-home candidates; the user name still does.
    auto environment = environmentFor("/root", "/root", Path("/root/Music"), "ann");
    EXPECT_THAT(describe(VellumtidePluginLibrary::libraryCandidates(environment)),
                testing::ElementsAre("AU mirror /home/ann" + mirror,
                                     "Bridge cache /home/ann/Music/Vellumtide",
                                     "Music /root/Music/Vellumtide"));

    // Unset, empty or path-like user names add nothing.
    for (std::optional<std::string> user :
         {std::optional<std::string>(), std::optional<std::string>(""), std::optional<std::string>(".."),
          std::optional<std::string>("a/b")}) {
        environment = environmentFor("/root", "", Path("/srv/Music"), user);
        EXPECT_THAT(describe(VellumtidePluginLibrary::libraryCandidates(environment)),
                    testing::ElementsAre("Music /srv/Music/Vellumtide", "AU sandbox /root/Music/Vellumtide"));
    }

    // A failed Music lookup falls back to the home's Music folder, which replaces the sandbox entry.
    environment = environmentFor("/var/lib/ann", "", std::nullopt, std::nullopt);
    EXPECT_THAT(describe(VellumtidePluginLibrary::libraryCandidates(environment)),
                testing::ElementsAre("Music /var/lib/ann/Music/Vellumtide"));
}

TEST(LibraryLocation, AbbreviatedPathReplacesTheHomeAtAComponentBoundary) {
    const Path home = "/home/ann";
    EXPECT_EQ(VellumtidePluginLibrary::abbreviatedPath("/home/ann/Music/Vellumtide", home),
              "~/Music/Vellumtide");
    EXPECT_EQ(VellumtidePluginLibrary::abbreviatedPath("/home/ann", home), "~");
    EXPECT_EQ(VellumtidePluginLibrary::abbreviatedPath("/home/anna/Music", home), "/home/anna/Music");
    EXPECT_EQ(VellumtidePluginLibrary::abbreviatedPath("/srv/Music/", home), "/srv/Music");
}

} // namespace
