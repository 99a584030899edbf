#include "VellumtideBridge/Sources/Library/VellumtideDevice.h"

#include "VellumtideBridge/Sources/Library/BridgeModels.h"

using vt::json::Json;
using vt::json::ObjectReader;

namespace {

std::optional<std::string> txtValue(const VellumtideBrowseResult& result, const std::string& key) {
    if (!result.txtRecord)
        return std::nullopt;
    auto it = result.txtRecord->find(key);
    if (it == result.txtRecord->end())
        return std::nullopt;
    return it->second;
}

} // namespace

VellumtideEndpoint VellumtideEndpoint::hostPort(std::string host, std::uint16_t port) {
    return {HostPortEndpoint{std::move(host), port}};
}

VellumtideEndpoint VellumtideEndpoint::service(std::string name, std::string type, std::string domain,
                                               std::optional<std::string> interfaceName) {
    return {ServiceEndpoint{std::move(name), std::move(type), std::move(domain), std::move(interfaceName)}};
}

std::string VellumtideEndpoint::description() const {
    if (const auto* address = asHostPort()) {
        bool ipv6 = address->host.find(':') != std::string::npos;
        std::string host = ipv6 ? "[" + address->host + "]" : address->host;
        return host + ":" + std::to_string(address->port);
    }
    const auto& service = std::get<ServiceEndpoint>(value);
    return service.name + "." + service.type + "." + service.domain;
}

std::optional<VellumtideDevice> VellumtideDevice::make(const VellumtideBrowseResult& result) {
    const ServiceEndpoint* service = result.endpoint.asService();
    if (!service)
        return std::nullopt;
    std::string interfaceName = service->interfaceName.value_or("local");
    auto deviceID = txtValue(result, "deviceID");
    auto deviceName = txtValue(result, "device");

    VellumtideDevice device;
    device.id = deviceID ? std::string(phoneIDPrefix) + *deviceID
                         : service->name + "|" + service->type + "|" + service->domain + "|" + interfaceName;
    device.name = deviceName.value_or(service->name);
    device.endpoint = result.endpoint;
    device.detail = service->domain + " via " + interfaceName;
    device.pairingID = deviceID;
    return device;
}

VellumtidePhoneHealth VellumtidePhoneHealth::fromJson(const Json& value) {
    ObjectReader reader(value);
    VellumtidePhoneHealth health;
    health.status = reader.requireString("status");
    health.deviceID = reader.optionalString("deviceID");
    health.deviceName = reader.optionalString("deviceName");
    health.pairing = reader.optionalString("pairing");
    return health;
}

VellumtidePhonePairingResponse VellumtidePhonePairingResponse::fromJson(const Json& value) {
    ObjectReader reader(value);
    VellumtidePhonePairingResponse response;
    response.deviceID = reader.requireString("deviceID");
    response.deviceName = reader.requireString("deviceName");
    response.token = reader.requireString("token");
    return response;
}

std::size_t std::hash<VellumtideEndpoint>::operator()(const VellumtideEndpoint& endpoint) const noexcept {
    std::hash<std::string> text;
    if (const auto* address = endpoint.asHostPort()) {
        std::size_t seed = text(address->host);
        hashCombine(seed, address->port);
        return seed;
    }
    const auto& service = std::get<ServiceEndpoint>(endpoint.value);
    std::size_t seed = text(service.name);
    hashCombine(seed, text(service.type));
    hashCombine(seed, text(service.domain));
    hashCombine(seed, service.interfaceName ? text(*service.interfaceName) + 1 : 0);
    return seed;
}

std::size_t std::hash<VellumtideDevice>::operator()(const VellumtideDevice& device) const noexcept {
    std::hash<std::string> text;
    std::size_t seed = text(device.id);
    hashCombine(seed, text(device.name));
    hashCombine(seed, std::hash<VellumtideEndpoint>{}(device.endpoint));
    hashCombine(seed, text(device.detail));
    hashCombine(seed, device.pairingID ? text(*device.pairingID) + 1 : 0);
    return seed;
}
