// A large library for the plug-in's benchmarks as the desktop program writes it: the window
// tests' large library (its samples, chops and audio files), with both JSON files written again
// by the desktop program's own library writer (its number forms, its layout, its fsync).
#pragma once

#include "Tests/VellumtideAU/Window/WindowTestSupport.h"

#include <string>
#include <vector>

namespace vt::bench {

// Writes count samples into the fixture's library folder; returns their ids in file order.
std::vector<std::string> writeBridgeLibrary(const vt::test::WindowFixture& fixture, std::size_t count);

} // namespace vt::bench
