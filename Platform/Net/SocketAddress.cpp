#include "Platform/Net/SocketAddress.h"

#include "Platform/Async/Background.h"

#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>

namespace vt::net {

namespace {
std::string errorText(int code) {
    char buffer[256];
    // GNU strerror_r returns the text (which may not be in buffer).
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return text ? std::string(text) : "Network error " + std::to_string(code);
}
} // namespace

NetworkError::NetworkError(int code) : std::runtime_error(errorText(code)), errorCode(code) {}

std::optional<SocketAddress> SocketAddress::numeric(const std::string& host, std::uint16_t port) {
    SocketAddress result;
    sockaddr_in v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        std::memcpy(&result.storage, &v4, sizeof v4);
        result.size = sizeof v4;
        return result;
    }
    sockaddr_in6 v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        std::memcpy(&result.storage, &v6, sizeof v6);
        result.size = sizeof v6;
        return result;
    }
    return std::nullopt;
}

SocketAddress SocketAddress::fromSockaddr(const sockaddr* address, socklen_t length) {
    SocketAddress result;
    const auto size = std::min<socklen_t>(length, sizeof result.storage);
    std::memcpy(&result.storage, address, size);
    result.size = size;
    return result;
}

std::uint16_t SocketAddress::port() const {
    if (family() == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    if (family() == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    return 0;
}

std::string SocketAddress::hostText() const {
    char host[NI_MAXHOST];
    if (getnameinfo(data(), size, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
        return {};
    return host;
}

namespace {

std::vector<SocketAddress> lookUp(const std::string& host, std::uint16_t port) {
    std::vector<SocketAddress> addresses;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0)
        return addresses;
    for (addrinfo* entry = list; entry; entry = entry->ai_next)
        addresses.push_back(SocketAddress::fromSockaddr(entry->ai_addr, entry->ai_addrlen));
    freeaddrinfo(list);
    return addresses;
}

// Not a coroutine: g++ 12 destroys a closure built inside a co_await expression twice.
QCoro::Task<std::vector<SocketAddress>> lookUpInBackground(std::string host, std::uint16_t port) {
    return runInBackground(userInitiatedPool(),
                           [host = std::move(host), port] { return lookUp(host, port); });
}

} // namespace

QCoro::Task<std::vector<SocketAddress>> resolveHost(std::string host, std::uint16_t port) {
    if (auto numericAddress = SocketAddress::numeric(host, port))
        co_return std::vector<SocketAddress>{*numericAddress};
    if (host.empty())
        co_return std::vector<SocketAddress>{};
    co_return co_await lookUpInBackground(std::move(host), port);
}

} // namespace vt::net
