#pragma once
// The sweep of every local IPv4 /24 network for phones answering GET "/health" on the sync port.

#include "Platform/Async/Scheduler.h"
#include "Platform/Net/NetworkInterfaces.h"
#include "VellumtideBridge/Sources/Library/VellumtideDevice.h"
#include "VellumtideBridge/Sources/PhoneLink/VellumtideHTTPClient.h"

#include <cstdint>
#include <memory>
#include <qcoro/qcorotask.h>
#include <string>
#include <vector>

class VellumtideLANScanner {
public:
    static constexpr std::uint16_t vellumtidePort = 51234;
    static constexpr double probeTimeout = 0.45;
    // Descriptors left free for the rest of the program while a sweep runs.
    static constexpr std::size_t descriptorMargin = 256;
    // Probes in flight at once under a given open-file limit: the limit less the margin, and never
    // fewer than a handful. The next probe starts as one ends, so descriptors never run out.
    static std::size_t probesInFlight(std::size_t openFileLimit);

    // Raises the soft open-file limit to the hard one, so that whole networks can be probed at once.
    VellumtideLANScanner(vt::Scheduler& scheduler, const vt::net::InterfaceSource& interfaces,
                         std::uint16_t port = vellumtidePort);

    // Found phones in the order they answered; never fails. A sweep keeps what it needs alive
    // itself, so it may outlast the scanner.
    QCoro::Task<std::vector<VellumtideDevice>> scan();

    // The hosts a sweep probes: .1 to .254 of each distinct /24 of the up, non-loopback IPv4
    // addresses, prefixes in first-seen order.
    static std::vector<std::string> hostsToProbe(const vt::net::InterfaceSource& interfaces);
    // The device for a host that answered with body.
    static VellumtideDevice deviceFor(const std::string& host, std::uint16_t port, const std::string& body);

private:
    std::shared_ptr<VellumtideHTTPClient> client;
    const vt::net::InterfaceSource& interfaceSource;
    std::uint16_t port;
};
