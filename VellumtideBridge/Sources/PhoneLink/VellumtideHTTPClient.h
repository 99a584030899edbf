#pragma once
// The desktop program's only network client: one GET over one new TCP connection to a phone,
// reading until the phone closes, returning the reply body.

#include "Platform/Async/Scheduler.h"
#include "Platform/Net/DnsSdBrowser.h"
#include "VellumtideBridge/Sources/Library/VellumtideDevice.h"

#include <cstdint>
#include <map>
#include <memory>
#include <qcoro/qcorotask.h>
#include <stdexcept>
#include <string>

// The errors the client raises itself; connection failures come as vt::net::NetworkError.
class VellumtideHTTPClientError : public std::exception {
public:
    enum class Case { httpStatus, invalidResponse, connectionCancelled, timedOut };

    static VellumtideHTTPClientError httpStatus(std::string statusLine);
    static VellumtideHTTPClientError invalidResponse();
    static VellumtideHTTPClientError connectionCancelled();
    static VellumtideHTTPClientError timedOut();

    Case errorCase() const { return kind; }
    // The reply's status line for httpStatus, else empty.
    const std::string& statusLine() const { return status; }
    const char* what() const noexcept override { return text.c_str(); }

private:
    VellumtideHTTPClientError(Case kind, std::string status);
    Case kind;
    std::string status;
    std::string text;
};

// A header value that could end the header block early (CR, LF or NUL); refused before connecting.
class VellumtideHeaderValueError : public std::invalid_argument {
public:
    VellumtideHeaderValueError();
};

class VellumtideHTTPClient {
public:
    using Headers = std::map<std::string, std::string>;

    // The fixed host name of every request's Host line.
    static constexpr std::string_view hostName = "vellumtide-bridge.local";
    // Largest reply accepted for "/samples/..." downloads and for every other request.
    static constexpr std::uint64_t maximumAudioReplyBytes = 4ull << 30;
    static constexpr std::uint64_t maximumReplyBytes = 256ull << 20;

    // scheduler runs the time-outs; addressBook (optional) resolves DNS-SD service endpoints.
    explicit VellumtideHTTPClient(vt::Scheduler& scheduler,
                                  std::shared_ptr<vt::net::ServiceAddressBook> addressBook = nullptr);

    // GET path (sent unchanged) from endpoint. The time-out counts from the call's start; for
    // "/samples/" downloads it is an idle time-out, restarted by every chunk received.
    QCoro::Task<std::string> get(std::string path, VellumtideEndpoint endpoint, double timeout = 8.0,
                                 Headers headers = {});

    // The exact bytes of a request.
    static std::string requestBytes(const std::string& path, const Headers& headers);

private:
    vt::Scheduler& scheduler;
    std::shared_ptr<vt::net::ServiceAddressBook> addressBook;
};
