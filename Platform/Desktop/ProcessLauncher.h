#pragma once
// Starting another program detached from the caller: in a session of its own, with no
// descriptor of the caller but a /dev/null standard input and output, default signal handling,
// and never left as the caller's zombie. An interface so tests never start real programs.

#include <filesystem>
#include <string>
#include <vector>

namespace vt {

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // True when the program was started (its image was executed); false when it could not be.
    virtual bool startDetached(const std::filesystem::path& program,
                               const std::vector<std::string>& arguments) = 0;
};

// posix_spawn in a new session, every inherited descriptor closed; a failed exec reports false,
// and a thread reaps the program when it ends.
class PosixProcessLauncher final : public ProcessLauncher {
public:
    bool startDetached(const std::filesystem::path& program,
                       const std::vector<std::string>& arguments) override;
};

// The first executable regular file named name in the folders of a PATH-style list; empty when
// none holds one. A name holding '/' is not looked up.
std::filesystem::path findExecutableOnPath(const std::string& name, const std::string& pathVariable);

} // namespace vt
