// The Python peer of the benchmarks: the system's own interpreter, found by its real path, never a
// launcher from PATH (a version manager's shim is a shell script that adds seconds to every start).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace vt::bench {

// The real path of the system's python3, printed once; empty (and said) when there is none.
inline const std::string& systemPython3() {
    static const std::string path = [] {
        std::error_code error;
        for (const char* candidate : {"/usr/bin/python3", "/bin/python3"}) {
            const auto resolved = std::filesystem::canonical(candidate, error);
            if (!error && std::filesystem::is_regular_file(resolved, error)) {
                std::printf("python peer: %s\n", resolved.c_str());
                return resolved.string();
            }
        }
        std::printf("python peer: no system python3 in /usr/bin or /bin\n");
        return std::string();
    }();
    return path;
}

} // namespace vt::bench
