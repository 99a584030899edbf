#pragma once
// The phone recorder app as the desktop program meets it on the network: a selectable device
// with its endpoint, and the decoded replies of "/health" and "/pair".

#include "Platform/Core/Json.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>

// A host (name or numeric address) and a TCP port.
struct HostPortEndpoint {
    std::string host;
    std::uint16_t port = 0;
    bool operator==(const HostPortEndpoint&) const = default;
};

// A DNS-SD service instance, optionally seen on one network interface.
struct ServiceEndpoint {
    std::string name;
    std::string type;
    std::string domain;
    std::optional<std::string> interfaceName;
    bool operator==(const ServiceEndpoint&) const = default;
};

// Where to connect to a phone: a host and port, or a DNS-SD service still to be resolved.
struct VellumtideEndpoint {
    std::variant<HostPortEndpoint, ServiceEndpoint> value;

    static VellumtideEndpoint hostPort(std::string host, std::uint16_t port);
    static VellumtideEndpoint service(std::string name, std::string type, std::string domain,
                                      std::optional<std::string> interfaceName = std::nullopt);

    const HostPortEndpoint* asHostPort() const { return std::get_if<HostPortEndpoint>(&value); }
    const ServiceEndpoint* asService() const { return std::get_if<ServiceEndpoint>(&value); }
    // "host:port" (IPv6 hosts in brackets) or "name.type.domain".
    std::string description() const;

    bool operator==(const VellumtideEndpoint&) const = default;
};

// One result of the DNS-SD browse: the endpoint and, when the service has one, its TXT record.
struct VellumtideBrowseResult {
    VellumtideEndpoint endpoint;
    std::optional<std::map<std::string, std::string>> txtRecord;
};

// One phone that can be selected and synced from.
struct VellumtideDevice {
    std::string id;
    std::string name;
    VellumtideEndpoint endpoint;
    std::string detail;
    std::optional<std::string> pairingID;

    static constexpr std::string_view phoneIDPrefix = "phone|";

    // A device for a browse result; nothing when its endpoint is not a service.
    static std::optional<VellumtideDevice> make(const VellumtideBrowseResult& result);

    bool operator==(const VellumtideDevice&) const = default;
};

// The phone's reply to GET "/health".
struct VellumtidePhoneHealth {
    std::string status;
    std::optional<std::string> deviceID;
    std::optional<std::string> deviceName;
    std::optional<std::string> pairing;

    static VellumtidePhoneHealth fromJson(const vt::json::Json& value); // throws vt::json::JsonError
};

// The phone's reply to a successful GET "/pair".
struct VellumtidePhonePairingResponse {
    std::string deviceID;
    std::string deviceName;
    std::string token;

    static VellumtidePhonePairingResponse fromJson(const vt::json::Json& value); // throws JsonError
};

template <> struct std::hash<VellumtideEndpoint> {
    std::size_t operator()(const VellumtideEndpoint& endpoint) const noexcept;
};
template <> struct std::hash<VellumtideDevice> {
    std::size_t operator()(const VellumtideDevice& device) const noexcept;
};
