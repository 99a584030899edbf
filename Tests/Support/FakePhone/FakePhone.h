#pragma once
// A scriptable stand-in for the phone recorder app's HTTP service, listening on a loopback
// address (127.0.0.x) in a thread of its own. It serves the phone's protocol from its state,
// answers with scripted replies and misbehaviours on demand, and records every raw request.

#include "VellumtideBridge/Sources/Library/BridgeModels.h"
#include "VellumtideBridge/Sources/Library/VellumtideDevice.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vt::test {

// One reply and how it is delivered.
struct FakeReply {
    std::string bytes;                    // status line, headers and body as sent
    std::uint64_t generatedBodyBytes = 0; // further body bytes made on the fly (large files)
    std::size_t chunkSize = 0;            // 0: as fast as possible; else writes of this size
    std::chrono::microseconds pauseBetweenChunks{0};
    std::chrono::milliseconds delayBeforeReply{0};
    bool keepOpen = false;                      // leave the connection open after the reply
    std::optional<std::size_t> resetAfterBytes; // send this many bytes, then reset the connection

    // "HTTP/1.1 200 OK" with Content-Length and Connection: close.
    static FakeReply ok(std::string body);
    // A status line and a short body, e.g. status("HTTP/1.1 401 Unauthorized").
    static FakeReply status(const std::string& statusLine, const std::string& body = {});
    static FakeReply raw(std::string bytes);
    // The byte at offset i of a generated body; the pattern repeats every generatedPeriod bytes.
    static constexpr std::size_t generatedPeriod = 23;
    static char generatedByte(std::uint64_t offset) {
        return static_cast<char>('a' + offset % generatedPeriod);
    }
};

struct FakeRequest {
    std::string raw;
    std::string method;
    std::string path;
    std::map<std::string, std::string> headers; // names as sent
    std::optional<std::string> header(const std::string& name) const;
};

class FakePhone {
public:
    // Binds address:port (port 0 picks a free one): a loopback address, or any address once the
    // calling thread has joined a network namespace of the caller's own. Throws
    // std::runtime_error when it cannot.
    explicit FakePhone(std::string address = "127.0.0.1", std::uint16_t port = 0);
    ~FakePhone();
    FakePhone(const FakePhone&) = delete;
    FakePhone& operator=(const FakePhone&) = delete;

    const std::string& address() const { return host; }
    std::uint16_t port() const { return boundPort; }
    VellumtideEndpoint endpoint() const { return VellumtideEndpoint::hostPort(host, boundPort); }

    // The phone's own state, served by the default routes.
    void setIdentity(std::optional<std::string> deviceID, std::optional<std::string> deviceName);
    void setPairCode(std::string code);
    void setToken(std::string token);
    void setLibrary(const std::vector<SampleItem>& samples);
    void setLibraryJson(std::string json);
    void setFile(const std::string& fileName, std::string bytes);
    // A file of size bytes made on the fly (pattern of FakeReply::generatedByte).
    void setGeneratedFile(const std::string& fileName, std::uint64_t size);
    void removeFile(const std::string& fileName);

    // Scripted replies: a queued one answers the next request for exactly that path (then the
    // next queued one, then the default); a standing one answers every request for the path.
    void queueReply(const std::string& path, FakeReply reply);
    void setReply(const std::string& path, FakeReply reply);
    void clearReplies();

    // Every request so far, in arrival order.
    std::vector<FakeRequest> requests() const;
    std::vector<std::string> requestedPaths() const;
    std::size_t requestCount(const std::string& path) const;
    void clearRequests();
    // Connections accepted so far (also those that sent nothing).
    std::size_t connectionCount() const { return accepted.load(); }

private:
    void acceptLoop();
    void serve(int fd);
    FakeReply replyFor(const FakeRequest& request);
    FakeReply defaultReply(const FakeRequest& request);
    bool sendAll(int fd, const char* data, std::size_t size);
    bool waitUnlessStopping(std::chrono::microseconds duration);
    void deliver(int fd, const FakeReply& reply);

    std::string host;
    std::uint16_t boundPort = 0;
    int listenFd = -1;
    int wakePipe[2] = {-1, -1};
    std::atomic<bool> stopping{false};
    std::atomic<std::size_t> accepted{0};
    std::thread acceptor;

    mutable std::mutex mutex;
    std::condition_variable stopSignal;
    std::vector<std::thread> workers;
    std::vector<int> openConnections;
    std::vector<FakeRequest> recorded;
    std::map<std::string, std::deque<FakeReply>> queued;
    std::map<std::string, FakeReply> standing;
    std::optional<std::string> deviceID = std::string("FAKE-PHONE-1");
    std::optional<std::string> deviceName = std::string("Studio Phone");
    std::string pairCode = "123456";
    std::string token = "token-1";
    std::string libraryJson = "[]";
    std::map<std::string, std::string> files;
    std::map<std::string, std::uint64_t> generatedFiles;
};

// A temporary loopback address 127.a.b.c unique to this process, for servers on fixed ports.
std::string uniqueLoopbackPrefix();
// The loopback /24 next to prefix ("127.a.b" → "127.a.b+1", wrapping within 1..250).
std::string neighbourLoopbackPrefix(const std::string& prefix);

} // namespace vt::test
