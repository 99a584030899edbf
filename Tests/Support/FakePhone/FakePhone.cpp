#include "Tests/Support/FakePhone/FakePhone.h"

#include "Platform/Core/Json.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vt::test {

namespace {

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string percentDecoded(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            result.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            result.push_back(text[i]);
        }
    }
    return result;
}

// The inode of a network namespace, 0 when it cannot be read.
ino_t networkNamespace(const char* link) {
    struct stat info {};
    return ::stat(link, &info) == 0 ? info.st_ino : 0;
}

// The namespace this process started in, taken before anything can move a thread elsewhere.
const ino_t startingNetworkNamespace = networkNamespace("/proc/self/ns/net");

// True when this thread runs in a network namespace other than the one the process started in:
// one the caller made and joined, with no way out but what it built itself.
bool insideOwnNetworkNamespace() {
    const ino_t current = networkNamespace("/proc/thread-self/ns/net");
    return startingNetworkNamespace != 0 && current != 0 && current != startingNetworkNamespace;
}

FakeRequest parseRequest(const std::string& raw) {
    FakeRequest request;
    request.raw = raw;
    const auto lineEnd = raw.find("\r\n");
    const std::string requestLine = raw.substr(0, lineEnd);
    const auto firstSpace = requestLine.find(' ');
    const auto secondSpace = requestLine.find(' ', firstSpace + 1);
    if (firstSpace != std::string::npos) {
        request.method = requestLine.substr(0, firstSpace);
        request.path = requestLine.substr(firstSpace + 1, secondSpace == std::string::npos
                                                              ? std::string::npos
                                                              : secondSpace - firstSpace - 1);
    }
    std::size_t start = lineEnd == std::string::npos ? raw.size() : lineEnd + 2;
    while (start < raw.size()) {
        const auto end = raw.find("\r\n", start);
        if (end == std::string::npos || end == start)
            break;
        const std::string line = raw.substr(start, end - start);
        const auto colon = line.find(':');
        if (colon != std::string::npos) {
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            request.headers[line.substr(0, colon)] = value;
        }
        start = end + 2;
    }
    return request;
}

std::string jsonText(const vt::json::Json& value) {
    return vt::json::dump(value);
}

} // namespace

FakeReply FakeReply::ok(std::string body) {
    FakeReply reply;
    reply.bytes = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                  "\r\nConnection: close\r\n\r\n" + body;
    return reply;
}

FakeReply FakeReply::status(const std::string& statusLine, const std::string& body) {
    FakeReply reply;
    reply.bytes = statusLine + "\r\nContent-Length: " + std::to_string(body.size()) +
                  "\r\nConnection: close\r\n\r\n" + body;
    return reply;
}

FakeReply FakeReply::raw(std::string bytes) {
    FakeReply reply;
    reply.bytes = std::move(bytes);
    return reply;
}

std::optional<std::string> FakeRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (lowercase(key) == lowercase(name))
            return value;
    return std::nullopt;
}

FakePhone::FakePhone(std::string address, std::uint16_t port) : host(std::move(address)) {
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd < 0)
        throw std::runtime_error("fake phone: socket failed");
    const int yes = 1;
    ::setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(port);
    // Only loopback addresses, or any address inside a network namespace a test made for itself:
    // the fake phone never listens on a real network.
    if (inet_pton(AF_INET, host.c_str(), &bound.sin_addr) != 1 ||
        ((ntohl(bound.sin_addr.s_addr) >> 24) != 127 && !insideOwnNetworkNamespace())) {
        ::close(listenFd);
        throw std::runtime_error("fake phone: not a loopback address: " + host);
    }
    if (::bind(listenFd, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0 ||
        ::listen(listenFd, 512) != 0) {
        const std::string reason = std::strerror(errno);
        ::close(listenFd);
        throw std::runtime_error("fake phone: cannot listen on " + host + ": " + reason);
    }
    socklen_t length = sizeof bound;
    ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&bound), &length);
    boundPort = ntohs(bound.sin_port);
    if (::pipe2(wakePipe, O_CLOEXEC) != 0)
        throw std::runtime_error("fake phone: pipe failed");
    acceptor = std::thread([this] { acceptLoop(); });
}

FakePhone::~FakePhone() {
    stopping = true;
    stopSignal.notify_all();
    const char wake = 'x';
    [[maybe_unused]] auto written = ::write(wakePipe[1], &wake, 1);
    acceptor.join();
    {
        std::lock_guard lock(mutex);
        for (int fd : openConnections)
            ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& worker : workers)
        worker.join();
    ::close(listenFd);
    ::close(wakePipe[0]);
    ::close(wakePipe[1]);
}

void FakePhone::acceptLoop() {
    while (!stopping) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (stopping || (fds[1].revents & POLLIN))
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++accepted;
        std::lock_guard lock(mutex);
        openConnections.push_back(fd);
        workers.emplace_back([this, fd] { serve(fd); });
    }
}

bool FakePhone::waitUnlessStopping(std::chrono::microseconds duration) {
    if (duration.count() <= 0)
        return !stopping;
    std::unique_lock lock(mutex);
    stopSignal.wait_for(lock, duration, [this] { return stopping.load(); });
    return !stopping;
}

bool FakePhone::sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::send(fd, data, size, MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

void FakePhone::serve(int fd) {
    std::string raw;
    char buffer[4096];
    while (raw.find("\r\n\r\n") == std::string::npos && raw.size() < 65536) {
        const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
        if (count <= 0)
            break;
        raw.append(buffer, static_cast<std::size_t>(count));
    }
    if (!raw.empty()) {
        FakeRequest request = parseRequest(raw);
        {
            std::lock_guard lock(mutex);
            recorded.push_back(request);
        }
        deliver(fd, replyFor(request));
    }
    std::lock_guard lock(mutex);
    openConnections.erase(std::remove(openConnections.begin(), openConnections.end(), fd),
                          openConnections.end());
    ::close(fd);
}

namespace {

// Puts the reply's bytes from offset on into chunk: the scripted bytes, then the generated body,
// copied from one long run of its repeating pattern so that large files go out at memory speed.
void fillChunk(const FakeReply& reply, std::uint64_t offset, std::string& chunk) {
    constexpr std::size_t period = FakeReply::generatedPeriod;
    static const std::string pattern = [] {
        std::string run(period * 4096, '\0');
        for (std::size_t i = 0; i < run.size(); ++i)
            run[i] = FakeReply::generatedByte(i);
        return run;
    }();
    std::size_t filled = 0;
    for (; filled < chunk.size() && offset + filled < reply.bytes.size(); ++filled)
        chunk[filled] = reply.bytes[offset + filled];
    for (const std::string& unit = reply.generatedUnit; !unit.empty() && filled < chunk.size(); ++filled)
        chunk[filled] = unit[(offset + filled - reply.bytes.size()) % unit.size()];
    while (filled < chunk.size()) {
        const std::size_t phase = (offset + filled - reply.bytes.size()) % period;
        const std::size_t count = std::min(chunk.size() - filled, pattern.size() - phase);
        std::memcpy(chunk.data() + filled, pattern.data() + phase, count);
        filled += count;
    }
}

} // namespace

void FakePhone::deliver(int fd, const FakeReply& reply) {
    if (!waitUnlessStopping(reply.delayBeforeReply))
        return;
    const std::uint64_t total = reply.bytes.size() + reply.generatedBodyBytes;
    const std::uint64_t limit =
        reply.resetAfterBytes ? std::min<std::uint64_t>(*reply.resetAfterBytes, total) : total;
    const std::size_t piece = reply.chunkSize ? reply.chunkSize : (1u << 20);
    std::string chunk;
    for (std::uint64_t offset = 0; offset < limit;) {
        const std::uint64_t size = std::min<std::uint64_t>(piece, limit - offset);
        chunk.resize(static_cast<std::size_t>(size));
        fillChunk(reply, offset, chunk);
        if (!sendAll(fd, chunk.data(), chunk.size()))
            return;
        offset += size;
        if (reply.chunkSize && offset < limit && !waitUnlessStopping(reply.pauseBetweenChunks))
            return;
    }
    if (reply.resetAfterBytes) {
        const linger abort{1, 0}; // close with a reset instead of an orderly end
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        return;
    }
    if (reply.keepOpen) {
        char ignored[256];
        while (!stopping) {
            pollfd item{fd, POLLIN, 0};
            if (::poll(&item, 1, 20) > 0 && ::recv(fd, ignored, sizeof ignored, MSG_DONTWAIT) <= 0)
                return;
        }
        return;
    }
    ::shutdown(fd, SHUT_WR);
}

FakeReply FakePhone::replyFor(const FakeRequest& request) {
    {
        std::lock_guard lock(mutex);
        if (auto found = queued.find(request.path); found != queued.end() && !found->second.empty()) {
            FakeReply reply = std::move(found->second.front());
            found->second.pop_front();
            return reply;
        }
        if (auto found = standing.find(request.path); found != standing.end())
            return found->second;
    }
    return defaultReply(request);
}

FakeReply FakePhone::defaultReply(const FakeRequest& request) {
    std::lock_guard lock(mutex);
    const auto unauthorized = FakeReply::status("HTTP/1.1 401 Unauthorized", "{\"error\":\"unauthorized\"}");
    const bool hasToken = request.header("X-Vellumtide-Token") == token;
    if (request.path == "/health") {
        vt::json::Json health = {{"status", "ok"}, {"pairing", "required"}};
        if (deviceID)
            health["deviceID"] = *deviceID;
        if (deviceName)
            health["deviceName"] = *deviceName;
        return FakeReply::ok(jsonText(health));
    }
    if (request.path == "/pairing/request" || request.path == "/pairing/cancel")
        return FakeReply::ok("{}");
    if (request.path == "/pair") {
        if (request.header("X-Vellumtide-Pair-Code") != pairCode)
            return FakeReply::status("HTTP/1.1 403 Forbidden");
        return FakeReply::ok(jsonText({{"deviceID", deviceID.value_or("")},
                                       {"deviceName", deviceName.value_or("")},
                                       {"token", token}}));
    }
    if (request.path == "/pairing/forget")
        return hasToken ? FakeReply::ok("{}") : unauthorized;
    if (request.path == "/library.json")
        return hasToken ? FakeReply::ok(libraryJson) : unauthorized;
    const std::string prefix = "/samples/";
    if (request.path.rfind(prefix, 0) == 0) {
        if (!hasToken)
            return unauthorized;
        const std::string name = percentDecoded(request.path.substr(prefix.size()));
        if (auto found = files.find(name); found != files.end())
            return FakeReply::ok(found->second);
        if (auto found = generatedFiles.find(name); found != generatedFiles.end()) {
            FakeReply reply =
                FakeReply::raw("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(found->second) +
                               "\r\nConnection: close\r\n\r\n");
            reply.generatedBodyBytes = found->second;
            return reply;
        }
    }
    return FakeReply::status("HTTP/1.1 404 Not Found");
}

void FakePhone::setIdentity(std::optional<std::string> id, std::optional<std::string> name) {
    std::lock_guard lock(mutex);
    deviceID = std::move(id);
    deviceName = std::move(name);
}

void FakePhone::setPairCode(std::string code) {
    std::lock_guard lock(mutex);
    pairCode = std::move(code);
}

void FakePhone::setToken(std::string value) {
    std::lock_guard lock(mutex);
    token = std::move(value);
}

void FakePhone::setLibrary(const std::vector<SampleItem>& samples) {
    vt::json::Json list = vt::json::Json::array();
    for (const auto& sample : samples) {
        vt::json::Json item = sample.toJson(DateForm::iso8601);
        // The phone's list also carries its chop fields (never part of the manifest).
        item["isChopEnabled"] = sample.isChopEnabled;
        item["chopSensitivity"] = vt::json::number(sample.chopSensitivity);
        vt::json::Json chops = vt::json::Json::array();
        for (const auto& chop : sample.chops)
            chops.push_back(chop.toJson());
        item["chops"] = chops;
        if (!sample.analysis.isEmpty())
            item["analysis"] = sample.analysis.toJson(DateForm::iso8601);
        list.push_back(item);
    }
    setLibraryJson(jsonText(list));
}

void FakePhone::setLibraryJson(std::string json) {
    std::lock_guard lock(mutex);
    libraryJson = std::move(json);
}

std::size_t FakePhone::libraryJsonSize() const {
    std::lock_guard lock(mutex);
    return libraryJson.size();
}

void FakePhone::setFile(const std::string& fileName, std::string bytes) {
    std::lock_guard lock(mutex);
    files[fileName] = std::move(bytes);
}

void FakePhone::setGeneratedFile(const std::string& fileName, std::uint64_t size) {
    std::lock_guard lock(mutex);
    generatedFiles[fileName] = size;
}

void FakePhone::removeFile(const std::string& fileName) {
    std::lock_guard lock(mutex);
    files.erase(fileName);
    generatedFiles.erase(fileName);
}

void FakePhone::queueReply(const std::string& path, FakeReply reply) {
    std::lock_guard lock(mutex);
    queued[path].push_back(std::move(reply));
}

void FakePhone::setReply(const std::string& path, FakeReply reply) {
    std::lock_guard lock(mutex);
    standing[path] = std::move(reply);
}

void FakePhone::clearReplies() {
    std::lock_guard lock(mutex);
    queued.clear();
    standing.clear();
}

std::vector<FakeRequest> FakePhone::requests() const {
    std::lock_guard lock(mutex);
    return recorded;
}

std::vector<std::string> FakePhone::requestedPaths() const {
    std::lock_guard lock(mutex);
    std::vector<std::string> paths;
    for (const auto& request : recorded)
        paths.push_back(request.path);
    return paths;
}

std::size_t FakePhone::requestCount(const std::string& path) const {
    std::lock_guard lock(mutex);
    return static_cast<std::size_t>(std::count_if(recorded.begin(), recorded.end(),
                                                  [&](const FakeRequest& r) { return r.path == path; }));
}

std::size_t FakePhone::openConnectionCount() const {
    std::lock_guard lock(mutex);
    return openConnections.size();
}

void FakePhone::clearRequests() {
    std::lock_guard lock(mutex);
    recorded.clear();
}

std::string uniqueLoopbackPrefix() {
    // 127.a.b with a in 100..199 and b from the process id and a random draw.
    static const std::string prefix = [] {
        std::random_device device;
        const unsigned value = (static_cast<unsigned>(::getpid()) * 2654435761u) ^ device();
        return "127." + std::to_string(100 + value % 100) + "." + std::to_string((value / 100) % 250 + 1);
    }();
    return prefix;
}

std::string neighbourLoopbackPrefix(const std::string& prefix) {
    const auto dot = prefix.rfind('.');
    const int last = std::stoi(prefix.substr(dot + 1));
    return prefix.substr(0, dot + 1) + std::to_string(last % 250 + 1);
}

} // namespace vt::test
