#pragma once
// Numeric IPv4/IPv6 socket addresses, the network error type, and host-name resolution.

#include <cstdint>
#include <optional>
#include <qcoro/qcorotask.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace vt::net {

// A failure reported by the operating system's network stack; what() is a readable sentence.
class NetworkError : public std::runtime_error {
public:
    explicit NetworkError(int code);
    int code() const { return errorCode; }

private:
    int errorCode;
};

class SocketAddress {
public:
    // A numeric IPv4 or IPv6 address text (no brackets) and a port; nothing for other text.
    static std::optional<SocketAddress> numeric(const std::string& host, std::uint16_t port);
    static SocketAddress fromSockaddr(const sockaddr* address, socklen_t length);

    const sockaddr* data() const { return reinterpret_cast<const sockaddr*>(&storage); }
    socklen_t length() const { return size; }
    int family() const { return storage.ss_family; }
    std::uint16_t port() const;
    // The numeric host text (getnameinfo with NI_NUMERICHOST); empty when it fails.
    std::string hostText() const;

private:
    sockaddr_storage storage{};
    socklen_t size = 0;
};

// Resolves a host name (or numeric text) to addresses off the main thread; empty when unknown.
QCoro::Task<std::vector<SocketAddress>> resolveHost(std::string host, std::uint16_t port);

} // namespace vt::net
