#pragma once
// The desktop program's only network client: one GET over one new TCP connection to a phone,
// reading until the phone closes, returning the reply body.

#include "Platform/Async/Scheduler.h"
#include "Platform/Net/DnsSdBrowser.h"
#include "VellumtideBridge/Sources/Library/VellumtideDevice.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <stdexcept>
#include <string>
#include <string_view>

// The errors the client raises itself; connection failures come as vt::net::NetworkError.
class VellumtideHTTPClientError : public std::exception {
public:
    enum class Case { httpStatus, invalidResponse, connectionCancelled, timedOut, outOfMemory };

    // Longest status line a text shows, in characters; a longer one is cut and ends in "…".
    static constexpr std::size_t shownStatusLineLength = 200;

    // statusLine as received (UTF-8; invalid sequences are shown as replacement characters).
    static VellumtideHTTPClientError httpStatus(std::string_view statusLine);
    static VellumtideHTTPClientError invalidResponse();
    static VellumtideHTTPClientError connectionCancelled();
    static VellumtideHTTPClientError timedOut();
    // The reply could not be held in memory.
    static VellumtideHTTPClientError outOfMemory();

    Case errorCase() const { return kind; }
    // The reply's status line for httpStatus (cut to shownStatusLineLength), else empty.
    const std::string& statusLine() const { return status; }
    // The status code of an httpStatus whose line reads "HTTP/<version> <three digits>…".
    std::optional<int> statusCode() const { return code; }
    const char* what() const noexcept override { return text.c_str(); }

private:
    VellumtideHTTPClientError(Case kind, std::string status, std::optional<int> code = std::nullopt);
    Case kind;
    std::string status;
    std::optional<int> code;
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
    // Largest header block (status line and header lines) accepted.
    static constexpr std::size_t maximumHeaderBytes = 64u << 10;
    // The most room made for a body before it arrives, whatever length the phone announces.
    static constexpr std::size_t initialBodyReserve = 1u << 20;

    // scheduler runs the time-outs; addressBook (optional) resolves DNS-SD service endpoints.
    explicit VellumtideHTTPClient(vt::Scheduler& scheduler,
                                  std::shared_ptr<vt::net::ServiceAddressBook> addressBook = nullptr);

    // GET path (sent unchanged) from endpoint. The time-out counts from the call's start; for
    // "/samples/" downloads it is an idle time-out, restarted by every chunk received.
    QCoro::Task<std::string> get(std::string path, VellumtideEndpoint endpoint, double timeout = 8.0,
                                 Headers headers = {});

    // The status code of a status line read by its fields: "HTTP/" and a version, one space, three
    // digits, then the end of the line or a space and any reason phrase. Nothing otherwise.
    static std::optional<int> statusCode(std::string_view statusLine);

    // The exact bytes of a request.
    static std::string requestBytes(const std::string& path, const Headers& headers);

private:
    vt::Scheduler& scheduler;
    std::shared_ptr<vt::net::ServiceAddressBook> addressBook;
};
