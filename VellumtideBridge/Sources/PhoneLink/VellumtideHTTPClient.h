#pragma once
// The desktop program's only network client: one GET over one new TCP connection to a phone,
// reading until the phone closes. Small replies come back in memory; downloads stream to a file.

#include "Platform/Async/CancellationToken.h"
#include "Platform/Async/Scheduler.h"
#include "Platform/Core/AtomicFile.h"
#include "Platform/Net/DnsSdBrowser.h"
#include "VellumtideBridge/Sources/Library/VellumtideDevice.h"

#include <cstdint>
#include <filesystem>
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

// Where a reply's body goes as it arrives: memory for small replies, a file for downloads.
class VellumtideBodySink {
public:
    virtual ~VellumtideBodySink() = default;
    // The phone announced the body's length (a claim, not a promise).
    virtual void announce(std::uint64_t) {}
    // The next bytes of the body, in order. Throws when they cannot be kept.
    virtual void write(std::string_view bytes) = 0;
    // The call failed: what was kept goes at once.
    virtual void discard() noexcept = 0;
};

// A body written to a temporary beside its destination as it arrives. commit() flushes it and
// renames it into place; until then the destination is untouched, and a discard, a failed commit
// or destruction without commit leaves no temporary behind.
class VellumtideDownloadFile final : public VellumtideBodySink {
public:
    // Creates the temporary. Throws std::filesystem::filesystem_error.
    explicit VellumtideDownloadFile(std::filesystem::path destination) : file(std::move(destination)) {}
    void write(std::string_view bytes) override { file.append(bytes); }
    void discard() noexcept override { file.discard(); }
    // Throws std::filesystem::filesystem_error (a full disk, a name the file system refuses).
    void commit() { file.commit(); }

private:
    vt::PendingFile file;
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
    // The largest bodies accepted: of "/samples/" downloads, and of every other reply.
    struct ReplyCaps {
        std::uint64_t audio = maximumAudioReplyBytes;
        std::uint64_t other = maximumReplyBytes;
    };
    // The most room made for a body in memory before it arrives, whatever length the phone announces.
    static constexpr std::size_t initialBodyReserve = 1u << 20;

    // scheduler runs the time-outs; addressBook (optional) resolves DNS-SD service endpoints.
    explicit VellumtideHTTPClient(vt::Scheduler& scheduler,
                                  std::shared_ptr<vt::net::ServiceAddressBook> addressBook = nullptr);
    // Calls still running end as connectionCancelled (a download leaves no file).
    ~VellumtideHTTPClient();
    VellumtideHTTPClient(const VellumtideHTTPClient&) = delete;
    VellumtideHTTPClient& operator=(const VellumtideHTTPClient&) = delete;

    // How long a call for the sample list or a sample file may take (every other call ends at
    // its fixed time-out, whatever length the phone announces). Such a call fails as timedOut
    // when it runs past its time-out plus one second for every bytesPerExtraSecond of its body
    // (the announced length, or what came when more came), or when, once the body has begun,
    // fewer than minimumBytesPerWindow body bytes (or the rest of the announced body, when less)
    // arrive in a window. So a phone that drips its reply ends the call within a window of the
    // header, and a large body over a slow link (at least 64 KiB/s on average, 16 KiB/s in any
    // window) still completes.
    struct Pace {
        std::uint64_t bytesPerExtraSecond = 64u << 10;
        vt::Nanoseconds window = vt::secondsToNanoseconds(8.0);
        std::uint64_t minimumBytesPerWindow = 128u << 10;
    };

    // Lower caps, for tests that cannot send gigabytes.
    void setReplyCaps(ReplyCaps lowered) { caps = lowered; }
    // Another pace (a shorter or longer window), for tests.
    void setPace(Pace other) { pace = other; }

    // GET path (sent unchanged) from endpoint. The time-out counts from the call's start; for
    // the sample list and sample files it grows with the body's length (see Pace).
    QCoro::Task<std::string> get(std::string path, VellumtideEndpoint endpoint, double timeout = 8.0,
                                 Headers headers = {});

    // The same GET, its body written to a temporary in destination's folder as it arrives, then
    // flushed and renamed onto destination (off the main thread) once the whole body is there.
    // Caps, time-outs and errors are those of get(); a storage failure throws
    // std::filesystem::filesystem_error. A failed call leaves no temporary, and destination as it
    // was (absent, or the older file).
    QCoro::Task<std::uint64_t> download(std::string path, VellumtideEndpoint endpoint, double timeout,
                                        Headers headers, std::filesystem::path destination);

    // The GET with its body handed to sink as it arrives (sink->discard() on failure); the body's
    // length. get() and download() are this with their own sinks.
    QCoro::Task<std::uint64_t> receive(std::string path, VellumtideEndpoint endpoint, double timeout,
                                       Headers headers, std::shared_ptr<VellumtideBodySink> sink);

    // The status code of a status line read by its fields: "HTTP/1." and one digit, one space,
    // three digits, then the end of the line or a space and any reason phrase. Nothing otherwise.
    static std::optional<int> statusCode(std::string_view statusLine);
    // Whether a call for path has its time-out sized by its body (see Pace): "/library.json" and
    // "/samples/..."; "/health" and the pairing requests keep their fixed time-outs.
    static bool timeoutGrowsWithBody(std::string_view path);
    // A success: a status line of code 200 that holds " 200 " (a reason phrase follows, if empty).
    static bool isSuccess(std::string_view statusLine);

    // The exact bytes of a request.
    static std::string requestBytes(const std::string& path, const Headers& headers);
    // Throws VellumtideHeaderValueError when path or a header could smuggle in extra lines.
    static void checkRequest(const std::string& path, const Headers& headers);

private:
    vt::Scheduler& scheduler;
    std::shared_ptr<vt::net::ServiceAddressBook> addressBook;
    ReplyCaps caps;
    Pace pace;
    vt::CancellationToken lifetime; // cancelled by the destructor
};
