#include "VellumtideBridge/Sources/PhoneLink/VellumtideLANScanner.h"

#include "Platform/Async/Completion.h"
#include "Platform/Core/Json.h"

#include <algorithm>
#include <memory>
#include <net/if.h>
#include <sys/socket.h>

namespace {

// The open-file limit asked for: the hard limit caps it, so in practice this means "as many as allowed".
constexpr std::size_t wantedOpenFiles = std::size_t(1) << 20;
constexpr std::size_t fewestProbesInFlight = 16;

std::vector<std::string> splitDropEmpty(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::string current;
    for (char c : text) {
        if (c == separator) {
            if (!current.empty())
                pieces.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty())
        pieces.push_back(current);
    return pieces;
}

// The shared progress of one sweep: the next host to probe and what answered so far.
struct Sweep {
    std::shared_ptr<VellumtideHTTPClient> client;
    std::uint16_t port = 0;
    std::vector<std::string> hosts;
    std::size_t next = 0;
    std::size_t running = 0;
    std::vector<VellumtideDevice> found;
    vt::Completion<bool> done;
};

} // namespace

VellumtideLANScanner::VellumtideLANScanner(vt::Scheduler& scheduler,
                                           const vt::net::InterfaceSource& interfaces, std::uint16_t port)
    : client(std::make_shared<VellumtideHTTPClient>(scheduler)), interfaceSource(interfaces), port(port) {
    vt::net::raiseOpenFileLimit(wantedOpenFiles);
}

std::size_t VellumtideLANScanner::probesInFlight(std::size_t openFileLimit) {
    const std::size_t available = openFileLimit > descriptorMargin ? openFileLimit - descriptorMargin : 0;
    return std::max(available, fewestProbesInFlight);
}

std::vector<std::string> VellumtideLANScanner::hostsToProbe(const vt::net::InterfaceSource& interfaces) {
    const auto entries = interfaces.interfaces();
    if (!entries)
        return {};
    std::vector<std::string> prefixes;
    for (const auto& entry : *entries) {
        if (!entry.address || entry.address->family() != AF_INET)
            continue;
        if ((entry.flags & IFF_UP) == 0 || (entry.flags & IFF_LOOPBACK) != 0)
            continue;
        const std::string host = entry.address->hostText();
        if (host.empty())
            continue;
        const auto pieces = splitDropEmpty(host, '.');
        if (pieces.size() != 4)
            continue;
        const std::string prefix = pieces[0] + "." + pieces[1] + "." + pieces[2];
        if (std::find(prefixes.begin(), prefixes.end(), prefix) == prefixes.end())
            prefixes.push_back(prefix);
    }
    std::vector<std::string> hosts;
    hosts.reserve(prefixes.size() * 254);
    for (const auto& prefix : prefixes)
        for (int k = 1; k <= 254; ++k)
            hosts.push_back(prefix + "." + std::to_string(k));
    return hosts;
}

VellumtideDevice VellumtideLANScanner::deviceFor(const std::string& host, std::uint16_t port,
                                                 const std::string& body) {
    std::optional<VellumtidePhoneHealth> health;
    try {
        health = VellumtidePhoneHealth::fromJson(vt::json::parse(body));
    } catch (const std::exception&) {
        // Any success reply marks a phone, also one whose body is not the health record.
    }
    const std::string address = host + ":" + std::to_string(port);
    const std::optional<std::string> deviceID = health ? health->deviceID : std::nullopt;
    const std::optional<std::string> deviceName = health ? health->deviceName : std::nullopt;
    VellumtideDevice device;
    device.id = deviceID ? std::string(VellumtideDevice::phoneIDPrefix) + *deviceID : "scan|" + address;
    device.name = deviceName.value_or("Vellumtide " + host);
    device.endpoint = VellumtideEndpoint::hostPort(host, port);
    device.detail = address;
    device.pairingID = deviceID;
    return device;
}

namespace {

// GET "/health" with the probe time-out; any success reply makes the host a phone.
QCoro::Task<> probe(std::shared_ptr<Sweep> sweep, std::string host) {
    try {
        const std::string body = co_await sweep->client->get(
            "/health", VellumtideEndpoint::hostPort(host, sweep->port), VellumtideLANScanner::probeTimeout);
        sweep->found.push_back(VellumtideLANScanner::deviceFor(host, sweep->port, body));
    } catch (...) {
        // No answer, refused, reset or another status: not a phone.
    }
}

// One worker probes hosts one after another until none is left; the last one to end
// completes the sweep.
QCoro::Task<> runWorker(std::shared_ptr<Sweep> sweep) {
    while (sweep->next < sweep->hosts.size()) {
        const std::string host = sweep->hosts[sweep->next++];
        co_await probe(sweep, host);
    }
    if (--sweep->running == 0)
        sweep->done.resolve(true);
}

} // namespace

QCoro::Task<std::vector<VellumtideDevice>> VellumtideLANScanner::scan() {
    auto sweep = std::make_shared<Sweep>();
    sweep->client = client;
    sweep->port = port;
    sweep->hosts = hostsToProbe(interfaceSource);
    if (sweep->hosts.empty())
        co_return std::vector<VellumtideDevice>{};
    const std::size_t openFileLimit = vt::net::raiseOpenFileLimit(wantedOpenFiles);
    const std::size_t workers = std::min(probesInFlight(openFileLimit), sweep->hosts.size());
    sweep->running = workers;
    auto done = sweep->done;
    for (std::size_t i = 0; i < workers; ++i)
        runWorker(sweep);
    co_await done;
    co_return std::move(sweep->found);
}
