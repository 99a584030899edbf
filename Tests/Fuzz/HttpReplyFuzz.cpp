// The phone link's reply reader: the same reply gives the same outcome (the same body, or the
// same error) however the connection splits its bytes.

#include "Tests/Fuzz/FuzzCheck.h"
#include "VellumtideBridge/Sources/PhoneLink/VellumtideHTTPReply.h"

#include <optional>
#include <string>
#include <vector>

namespace {

class StringSink final : public VellumtideBodySink {
public:
    void write(std::string_view bytes) override { body.append(bytes); }
    void discard() noexcept override { body.clear(); }
    std::string body;
};

struct Outcome {
    bool succeeded = false;
    std::string body;
    std::string error;
    bool operator==(const Outcome&) const = default;
};

// Reads the reply in the given pieces; a reader that fails stops taking bytes, as a call does.
Outcome read(std::string_view reply, const std::vector<std::size_t>& cuts, std::uint64_t limit) {
    StringSink sink;
    VellumtideHTTPReplyReader reader(sink, limit);
    Outcome outcome;
    try {
        std::size_t from = 0;
        for (std::size_t cut : cuts) {
            reader.receive(reply.substr(from, cut - from));
            from = cut;
        }
        reader.receive(reply.substr(from));
        vt::fuzz::check(reader.close() == sink.body.size(), "the body's length is what the sink holds");
        outcome.succeeded = true;
        outcome.body = sink.body;
    } catch (const VellumtideHTTPClientError& error) {
        outcome.error = error.what();
        vt::fuzz::check(outcome.error.size() < 1000, "error texts stay short whatever the reply");
    }
    return outcome;
}

// The reply with a header line added after its status line, so that its header block ends at
// byte `end`; nothing when the reply has no header block or its block is too long already.
std::optional<std::string> paddedToEndAt(std::string_view reply, std::size_t end) {
    const std::size_t blockEnd = reply.find("\r\n\r\n");
    constexpr std::string_view padLine = "\r\nX-Pad: ";
    if (blockEnd == std::string_view::npos || blockEnd + padLine.size() > end)
        return std::nullopt;
    const std::size_t statusEnd = reply.find("\r\n");
    std::string padded(reply.substr(0, statusEnd));
    padded += padLine;
    padded.append(end - blockEnd - padLine.size(), 'p');
    padded += reply.substr(statusEnd);
    return padded;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    // The first byte picks the body limit, the next four where the connection splits the reply.
    if (size < 5)
        return 0;
    const std::uint64_t limit = 1 + data[0] * 64;
    const std::string_view reply = vt::fuzz::text(data + 5, size - 5);
    std::vector<std::size_t> cuts;
    for (int i = 1; i <= 4; ++i) {
        const std::size_t cut = reply.empty() ? 0 : data[i] * reply.size() / 256;
        if (cuts.empty() || cut >= cuts.back())
            cuts.push_back(cut);
    }
    const Outcome whole = read(reply, {}, limit);
    const Outcome split = read(reply, cuts, limit);
    vt::fuzz::check(whole == split, "the same reply reads the same however its bytes are split");
    std::vector<std::size_t> everyByte;
    for (std::size_t i = 1; i < reply.size() && i < 512; ++i)
        everyByte.push_back(i);
    if (reply.size() < 512)
        vt::fuzz::check(read(reply, everyByte, limit) == whole, "byte by byte reads the same");

    // At the header cap too: the same reply with a header line added so that its block ends a
    // few bytes before, at or after the cap, read byte by byte around the cap, reads as the reply
    // itself (or, past the cap, as invalid). A 64 KiB header is slow to read under the
    // sanitizers, so one input in 32 (the second byte below 8) asks for it.
    constexpr std::size_t cap = VellumtideHTTPClient::maximumHeaderBytes;
    const std::size_t end = cap - 4 + data[1];
    if (data[1] >= 8)
        return 0;
    if (const auto padded = paddedToEndAt(reply, end)) {
        std::vector<std::size_t> nearCap;
        for (std::size_t i = cap - 8; i < padded->size() && i < cap + 8; ++i)
            nearCap.push_back(i);
        const Outcome expected =
            end <= cap ? whole : Outcome{false, {}, VellumtideHTTPClientError::invalidResponse().what()};
        vt::fuzz::check(read(*padded, nearCap, limit) == expected,
                        "a header block at the cap reads the same, byte by byte");
    }
    return 0;
}
