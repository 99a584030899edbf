#pragma once
// An environment variable set for a scope, then restored.

#include <cstdlib>
#include <optional>
#include <string>

namespace vt::test {

class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : name(name) {
        if (const char* old = std::getenv(name))
            saved = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (saved)
            setenv(name, saved->c_str(), 1);
        else
            unsetenv(name);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name;
    std::optional<std::string> saved;
};

} // namespace vt::test
