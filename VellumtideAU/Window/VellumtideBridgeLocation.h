#pragma once
// Where the desktop program's executable is, found from where the plug-in bundle is installed:
// <prefix>/lib/lv2/vellumtide.lv2 (or lib/<triplet>/lv2, or a build tree's lv2) gives
// <prefix>/bin, ~/.lv2/vellumtide.lv2 gives ~/.local/bin; then the PATH.

#include <filesystem>
#include <string>
#include <vector>

namespace VellumtideBridgeLocation {

inline constexpr const char* executableName = "vellumtide-bridge";

// The folders beside the bundle's install prefix that may hold the executable, in order.
std::vector<std::filesystem::path> candidateFolders(const std::filesystem::path& bundlePath);
// The first executable found there or on the PATH; empty when there is none.
std::filesystem::path executable(const std::filesystem::path& bundlePath, const std::string& pathVariable);

} // namespace VellumtideBridgeLocation
