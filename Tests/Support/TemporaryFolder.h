#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it at the end
// of the test.

#include <filesystem>
#include <string>

namespace vt::test {

class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return root; }
    std::filesystem::path operator/(const std::filesystem::path& relative) const { return root / relative; }

private:
    std::filesystem::path root;
};

// Writes bytes to a file, creating its folders.
void writeFile(const std::filesystem::path& path, const std::string& bytes);

} // namespace vt::test
