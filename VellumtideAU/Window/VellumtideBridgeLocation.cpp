#include "VellumtideAU/Window/VellumtideBridgeLocation.h"

#include "Platform/Desktop/ProcessLauncher.h"

#include <unistd.h>

namespace VellumtideBridgeLocation {

namespace {

// "lib", "lib64", "lib32" and multiarch folders such as "x86_64-linux-gnu".
bool isLibraryFolderName(const std::string& name) {
    return name.rfind("lib", 0) == 0 || name.find("-linux-") != std::string::npos;
}

} // namespace

std::vector<std::filesystem::path> candidateFolders(const std::filesystem::path& bundlePath) {
    std::filesystem::path bundle = bundlePath.lexically_normal();
    if (!bundle.has_filename())
        bundle = bundle.parent_path(); // "…/vellumtide.lv2/" names the same folder
    const std::filesystem::path container = bundle.parent_path();
    std::vector<std::filesystem::path> folders;
    if (container.filename() == ".lv2") {
        folders.push_back(container.parent_path() / ".local" / "bin");
    } else if (container.filename() == "lv2") {
        std::filesystem::path prefix = container.parent_path();
        for (int step = 0; step < 2 && isLibraryFolderName(prefix.filename().string()); ++step)
            prefix = prefix.parent_path();
        folders.push_back(prefix / "bin");
    }
    return folders;
}

std::filesystem::path executable(const std::filesystem::path& bundlePath, const std::string& pathVariable) {
    for (const auto& folder : candidateFolders(bundlePath)) {
        std::filesystem::path candidate = folder / executableName;
        if (::access(candidate.c_str(), X_OK) == 0 && std::filesystem::is_regular_file(candidate))
            return candidate;
    }
    return vt::findExecutableOnPath(executableName, pathVariable);
}

} // namespace VellumtideBridgeLocation
