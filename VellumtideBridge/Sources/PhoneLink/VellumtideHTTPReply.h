#pragma once
// One HTTP/1.1 reply read as its bytes arrive, in whatever pieces the connection hands over: the
// header block (at most the client's header cap), then the body into a sink (at most `limit`
// bytes). When the peer closes, the reply is judged: a 200 whose body has the announced length
// is a success. The phone link's calls use it; nothing here touches a socket.

#include "VellumtideBridge/Sources/PhoneLink/VellumtideHTTPClient.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class VellumtideHTTPReplyReader {
public:
    VellumtideHTTPReplyReader(VellumtideBodySink& sink, std::uint64_t limit) : sink(sink), limit(limit) {}

    // The next bytes of the reply. Throws VellumtideHTTPClientError (a header block or body over
    // its cap), or what the sink throws.
    void receive(std::string_view bytes);
    // The peer closed the connection: the body's length when the reply is a success. Throws
    // VellumtideHTTPClientError otherwise.
    std::uint64_t close() const;
    // The header block has arrived: what comes now is the body.
    bool hasHeaderBlock() const { return headerBlockLength.has_value(); }
    // The body's length as the phone announced it (0 until then), and the body bytes so far.
    std::uint64_t announcedLength() const { return announced; }
    std::uint64_t receivedBodyLength() const { return bodyBytes; }
    // Lets go of the header block's memory.
    void release() { std::string().swap(head); }

private:
    void appendBody(std::string_view bytes);

    VellumtideBodySink& sink;
    std::uint64_t limit = 0;
    std::string head; // the header block, and while it is sought, what came so far
    std::optional<std::size_t> headerBlockLength;
    std::uint64_t bodyBytes = 0;
    std::uint64_t announced = 0;
};
