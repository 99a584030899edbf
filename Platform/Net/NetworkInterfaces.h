#pragma once
// The machine's interface addresses behind an injectable source: production reads getifaddrs,
// tests hand in a fixed list (never the real interfaces).

#include "Platform/Net/SocketAddress.h"

#include <optional>
#include <string>
#include <vector>

namespace vt::net {

struct InterfaceAddress {
    std::string name;
    unsigned int flags = 0;               // IFF_UP, IFF_LOOPBACK, ...
    std::optional<SocketAddress> address; // absent for entries without an address
};

class InterfaceSource {
public:
    virtual ~InterfaceSource() = default;
    // Every entry in the system's order; nothing when the list cannot be read.
    virtual std::optional<std::vector<InterfaceAddress>> interfaces() const = 0;
};

class PosixInterfaceSource final : public InterfaceSource {
public:
    std::optional<std::vector<InterfaceAddress>> interfaces() const override;
};

// A fixed list, for tests.
class FixedInterfaceSource final : public InterfaceSource {
public:
    explicit FixedInterfaceSource(std::optional<std::vector<InterfaceAddress>> entries)
        : entries(std::move(entries)) {}
    std::optional<std::vector<InterfaceAddress>> interfaces() const override { return entries; }

private:
    std::optional<std::vector<InterfaceAddress>> entries;
};

// Raises the soft limit of open files toward the hard limit (at most wanted); returns the
// soft limit in force afterwards.
std::size_t raiseOpenFileLimit(std::size_t wanted);

} // namespace vt::net
