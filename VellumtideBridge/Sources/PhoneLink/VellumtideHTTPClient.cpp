#include "VellumtideBridge/Sources/PhoneLink/VellumtideHTTPClient.h"

#include "Platform/Async/Background.h"
#include "Platform/Async/Completion.h"
#include "Platform/Net/TcpConnection.h"
#include "VellumtideBridge/Sources/PhoneLink/VellumtideHTTPReply.h"

#include <QString>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

using vt::net::NetworkError;
using vt::net::SocketAddress;
using vt::net::TcpConnection;

VellumtideHTTPClientError::VellumtideHTTPClientError(Case kind, std::string status, std::optional<int> code)
    : kind(kind), status(std::move(status)), code(code) {
    switch (kind) {
    case Case::httpStatus:
        text = "The iPhone returned " + this->status + ".";
        break;
    case Case::invalidResponse:
        text = "The iPhone returned an invalid response.";
        break;
    case Case::connectionCancelled:
        text = "The connection was cancelled.";
        break;
    case Case::timedOut:
        text = "The iPhone did not respond. Check the sync address, Wi-Fi, and local-network permissions.";
        break;
    case Case::outOfMemory:
        text = "The iPhone's reply could not be received: there is not enough memory for it.";
        break;
    }
}

namespace {

// The status line as a text shows it: decoded as UTF-8 and cut to the shown length.
std::string shownStatusLine(std::string_view raw) {
    constexpr std::size_t limit = VellumtideHTTPClientError::shownStatusLineLength;
    // A character takes at most four bytes: what lies further on is never shown.
    const std::string_view head = raw.substr(0, std::min(raw.size(), limit * 4 + 4));
    const QList<uint> characters =
        QString::fromUtf8(head.data(), static_cast<qsizetype>(head.size())).toUcs4();
    if (static_cast<std::size_t>(characters.size()) <= limit)
        return QString::fromUcs4(reinterpret_cast<const char32_t*>(characters.data()), characters.size())
            .toStdString();
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(characters.data()),
                             static_cast<qsizetype>(limit))
               .toStdString() +
           "…";
}

} // namespace

VellumtideHTTPClientError VellumtideHTTPClientError::httpStatus(std::string_view statusLine) {
    return {Case::httpStatus, shownStatusLine(statusLine), VellumtideHTTPClient::statusCode(statusLine)};
}

VellumtideHTTPClientError VellumtideHTTPClientError::outOfMemory() {
    return {Case::outOfMemory, {}};
}
VellumtideHTTPClientError VellumtideHTTPClientError::invalidResponse() {
    return {Case::invalidResponse, {}};
}
VellumtideHTTPClientError VellumtideHTTPClientError::connectionCancelled() {
    return {Case::connectionCancelled, {}};
}
VellumtideHTTPClientError VellumtideHTTPClientError::timedOut() {
    return {Case::timedOut, {}};
}

VellumtideHeaderValueError::VellumtideHeaderValueError()
    : std::invalid_argument("The request could not be sent: a header holds a line break or NUL character.") {}

namespace {

constexpr std::string_view samplesPrefix = "/samples/";
constexpr std::string_view libraryPath = "/library.json";

bool holdsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A small reply's body, held in memory.
class MemoryBody final : public VellumtideBodySink {
public:
    void announce(std::uint64_t length) override {
        // Room only for what is likely to come: the announced length is the phone's claim.
        body.reserve(std::min<std::uint64_t>(length, VellumtideHTTPClient::initialBodyReserve));
    }
    void write(std::string_view bytes) override { body.append(bytes); }
    void discard() noexcept override { std::string().swap(body); }
    std::string take() { return std::move(body); }

private:
    std::string body;
};

// Shared by one call's connection handlers and its time-out.
struct RequestState {
    vt::Completion<std::uint64_t> completion; // the body's length
    std::unique_ptr<TcpConnection> connection;
    std::shared_ptr<VellumtideBodySink> sink;
    std::optional<VellumtideHTTPReplyReader> reply;
    bool didFinish = false;
    vt::Nanoseconds timeout{0};
    // The time-out grows with the body and the body's pace is watched (the list and downloads);
    // otherwise the time-out is fixed.
    bool sizedByBody = false;
    VellumtideHTTPClient::Pace pace;
    vt::Nanoseconds start{0};
    // The pace of the body is watched from the end of the header block on, window by window.
    std::optional<vt::Nanoseconds> windowStart;
    std::uint64_t bodyAtWindowStart = 0;
    vt::Scheduler::TimerId timer = 0;
    std::vector<SocketAddress> addresses;
    std::size_t nextAddress = 0;
    std::string request;
};

class Call : public std::enable_shared_from_this<Call> {
public:
    Call(vt::Scheduler& scheduler, std::shared_ptr<VellumtideBodySink> sink, std::uint64_t limit,
         vt::Nanoseconds timeout, std::optional<VellumtideHTTPClient::Pace> pace)
        : scheduler(scheduler) {
        state.sink = std::move(sink);
        state.reply.emplace(*state.sink, limit);
        state.timeout = timeout;
        state.sizedByBody = pace.has_value();
        state.pace = pace.value_or(VellumtideHTTPClient::Pace{});
    }

    // Starts the time-out, and ends the call as cancelled when its client goes away first.
    void arm(const vt::CancellationToken& clientLifetime) {
        state.start = scheduler.clock().now();
        scheduleNextCheck();
        std::weak_ptr<Call> weak = weak_from_this();
        cancelRegistration = clientLifetime.onCancel([weak] {
            if (auto self = weak.lock())
                self->fail(VellumtideHTTPClientError::connectionCancelled());
        });
        lifetime = clientLifetime;
    }

    void connect(std::vector<SocketAddress> addresses, std::string request) {
        if (state.didFinish)
            return;
        state.addresses = std::move(addresses);
        state.request = std::move(request);
        tryNextAddress();
    }

    // Every outcome ends here, once; a failure drops the body kept so far at once.
    void finish(std::exception_ptr error, std::uint64_t bodyBytes = 0) {
        if (state.didFinish)
            return;
        state.didFinish = true;
        if (state.connection)
            state.connection->cancel();
        scheduler.cancel(state.timer);
        lifetime.removeCallback(cancelRegistration);
        state.reply->release();
        if (error) {
            state.sink->discard();
            state.completion.reject(error);
        } else {
            state.completion.resolve(bodyBytes);
        }
    }

    template <typename E> void fail(E error) { finish(std::make_exception_ptr(std::move(error))); }

    vt::Completion<std::uint64_t> completion() const { return state.completion; }

private:
    // A time-out sized by the body grows by one second for every bytesPerExtraSecond of it.
    vt::Nanoseconds deadline() const {
        if (!state.sizedByBody)
            return state.start + state.timeout;
        const std::uint64_t body =
            std::max(state.reply->announcedLength(), state.reply->receivedBodyLength());
        const std::uint64_t extraSeconds = body / std::max<std::uint64_t>(state.pace.bytesPerExtraSecond, 1);
        return state.start + state.timeout +
               vt::secondsToNanoseconds(static_cast<double>(std::min<std::uint64_t>(extraSeconds, 1u << 30)));
    }

    void scheduleNextCheck() {
        const auto now = scheduler.clock().now();
        const auto due =
            state.windowStart ? std::min(deadline(), *state.windowStart + state.pace.window) : deadline();
        std::weak_ptr<Call> weak = weak_from_this();
        state.timer = scheduler.schedule(std::max(due - now, vt::Nanoseconds{0}), [weak] {
            if (auto self = weak.lock())
                self->onTimer();
        });
    }

    // Past the deadline, or a window in which too little of the body arrived: the phone has
    // stopped sending, or drips.
    void onTimer() {
        if (state.didFinish)
            return;
        const auto now = scheduler.clock().now();
        if (now >= deadline())
            return fail(VellumtideHTTPClientError::timedOut());
        if (state.windowStart && now >= *state.windowStart + state.pace.window) {
            const std::uint64_t body = state.reply->receivedBodyLength();
            if (body - state.bodyAtWindowStart < bodyOwedPerWindow())
                return fail(VellumtideHTTPClientError::timedOut());
            state.windowStart = now;
            state.bodyAtWindowStart = body;
        }
        scheduleNextCheck();
    }

    // The least a window must bring: the floor, or the rest of the announced body when less.
    std::uint64_t bodyOwedPerWindow() const {
        const std::uint64_t announced = state.reply->announcedLength();
        if (announced == 0)
            return state.pace.minimumBytesPerWindow;
        const std::uint64_t rest = announced - std::min(announced, state.bodyAtWindowStart);
        return std::min(state.pace.minimumBytesPerWindow, rest);
    }

    // A connection that cannot be made waits (for the next address, else for the time-out).
    void tryNextAddress() {
        if (state.nextAddress >= state.addresses.size())
            return;
        const SocketAddress address = state.addresses[state.nextAddress++];
        Call* self = this;
        TcpConnection::Handlers handlers;
        handlers.connected = [self] { self->state.connection->send(self->state.request); };
        handlers.received = [self](std::string_view bytes) {
            self->failingOnThrow([&] { self->onReceived(bytes); });
        };
        handlers.peerClosed = [self] { self->failingOnThrow([&] { self->judge(); }); };
        handlers.waiting = [self](const NetworkError&) { self->tryNextAddress(); };
        handlers.failed = [self](const NetworkError& error) { self->fail(error); };
        // The connection given up on may be the one reporting right now: it goes on a later turn.
        if (state.connection)
            state.connection.release()->deleteLater();
        state.connection = std::make_unique<TcpConnection>(std::move(handlers));
        state.connection->start(address);
    }

    // A reply that cannot be held in memory, or a body its sink cannot keep (a full disk), fails
    // the call; neither reaches the event loop.
    template <typename Step> void failingOnThrow(Step step) {
        try {
            step();
        } catch (const std::bad_alloc&) {
            fail(VellumtideHTTPClientError::outOfMemory());
        } catch (...) {
            finish(std::current_exception());
        }
    }

    void onReceived(std::string_view bytes) {
        if (state.didFinish)
            return;
        state.reply->receive(bytes);
        if (state.sizedByBody && !state.windowStart && state.reply->hasHeaderBlock()) {
            // The body begins: its first window starts now (the deadline has grown with it too).
            state.windowStart = scheduler.clock().now();
            scheduler.cancel(state.timer);
            scheduleNextCheck();
        }
    }

    void judge() {
        if (state.didFinish)
            return;
        finish(nullptr, state.reply->close());
    }

    vt::Scheduler& scheduler;
    RequestState state;
    vt::CancellationToken lifetime;
    vt::CancellationToken::Registration cancelRegistration = 0;
};

QCoro::Task<> resolveAndConnect(std::shared_ptr<Call> call, VellumtideEndpoint endpoint,
                                std::shared_ptr<vt::net::ServiceAddressBook> addressBook,
                                std::string request) {
    std::vector<SocketAddress> addresses;
    try {
        if (const auto* hostPort = endpoint.asHostPort()) {
            addresses = co_await vt::net::resolveHost(hostPort->host, hostPort->port);
        } else if (const auto* service = endpoint.asService(); service && addressBook) {
            if (auto address = addressBook->lookup(
                    {service->name, service->type, service->domain, service->interfaceName.value_or("")}))
                addresses.push_back(*address);
        }
    } catch (...) {
        // An unknown host leaves the call waiting for its time-out.
    }
    call->connect(std::move(addresses), std::move(request));
}

} // namespace

VellumtideHTTPClient::VellumtideHTTPClient(vt::Scheduler& scheduler,
                                           std::shared_ptr<vt::net::ServiceAddressBook> addressBook)
    : scheduler(scheduler), addressBook(std::move(addressBook)) {}

VellumtideHTTPClient::~VellumtideHTTPClient() {
    lifetime.cancel();
}

std::optional<int> VellumtideHTTPClient::statusCode(std::string_view line) {
    constexpr std::string_view version = "HTTP/1.";
    if (!line.starts_with(version) || line.size() < version.size() + 2 ||
        !std::isdigit(static_cast<unsigned char>(line[version.size()])) || line[version.size() + 1] != ' ')
        return std::nullopt;
    const std::string_view rest = line.substr(version.size() + 2);
    const std::string_view digits = rest.substr(0, 3);
    if (digits.size() != 3 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    if (rest.size() > 3 && rest[3] != ' ')
        return std::nullopt;
    return (digits[0] - '0') * 100 + (digits[1] - '0') * 10 + (digits[2] - '0');
}

bool VellumtideHTTPClient::timeoutGrowsWithBody(std::string_view path) {
    return path.starts_with(samplesPrefix) || path == libraryPath;
}

bool VellumtideHTTPClient::isSuccess(std::string_view line) {
    return statusCode(line) == 200 && line.find(" 200 ") != std::string_view::npos;
}

std::string VellumtideHTTPClient::requestBytes(const std::string& path, const Headers& headers) {
    std::string bytes = "GET " + path + " HTTP/1.1\r\n";
    bytes += "Host: ";
    bytes += hostName;
    bytes += "\r\nConnection: close\r\n";
    for (const auto& [name, value] : headers)
        bytes += name + ": " + value + "\r\n";
    bytes += "\r\n";
    return bytes;
}

void VellumtideHTTPClient::checkRequest(const std::string& path, const Headers& headers) {
    // A CR, LF or NUL could smuggle extra header lines or a second request: refuse the call.
    if (holdsLineBreakOrNul(path))
        throw VellumtideHeaderValueError();
    for (const auto& [name, value] : headers)
        if (name.empty() || holdsLineBreakOrNul(name) || holdsLineBreakOrNul(value) ||
            name.find(':') != std::string::npos)
            throw VellumtideHeaderValueError();
}

QCoro::Task<std::uint64_t> VellumtideHTTPClient::receive(std::string path, VellumtideEndpoint endpoint,
                                                         double timeout, Headers headers,
                                                         std::shared_ptr<VellumtideBodySink> sink) {
    checkRequest(path, headers);
    const bool isDownload = path.rfind(samplesPrefix, 0) == 0;
    auto call = std::make_shared<Call>(scheduler, std::move(sink), isDownload ? caps.audio : caps.other,
                                       vt::secondsToNanoseconds(timeout),
                                       timeoutGrowsWithBody(path) ? std::optional(pace) : std::nullopt);
    call->arm(lifetime);
    auto completion = call->completion();
    std::string request = requestBytes(path, headers);

    // The lookup runs beside the time-out, which counts from the start of the call.
    resolveAndConnect(call, std::move(endpoint), addressBook, std::move(request));
    co_return co_await completion;
}

QCoro::Task<std::string> VellumtideHTTPClient::get(std::string path, VellumtideEndpoint endpoint,
                                                   double timeout, Headers headers) {
    auto body = std::make_shared<MemoryBody>();
    co_await receive(std::move(path), std::move(endpoint), timeout, std::move(headers), body);
    co_return body->take();
}

namespace {

// The flush of a whole file may take a while: it runs off the main thread.
QCoro::Task<> commitInBackground(std::shared_ptr<VellumtideDownloadFile> file) {
    return vt::runInBackground(vt::userInitiatedPool(), [file] { file->commit(); });
}

} // namespace

QCoro::Task<std::uint64_t> VellumtideHTTPClient::download(std::string path, VellumtideEndpoint endpoint,
                                                          double timeout, Headers headers,
                                                          std::filesystem::path destination) {
    checkRequest(path, headers); // before a temporary is made
    auto file = std::make_shared<VellumtideDownloadFile>(std::move(destination));
    const std::uint64_t length =
        co_await receive(std::move(path), std::move(endpoint), timeout, std::move(headers), file);
    co_await commitInBackground(file);
    co_return length;
}
