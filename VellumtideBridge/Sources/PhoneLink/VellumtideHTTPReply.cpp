#include "VellumtideBridge/Sources/PhoneLink/VellumtideHTTPReply.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

constexpr std::string_view headerEnd = "\r\n\r\n";

std::string lowercase(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// What the header block says about the body's framing.
struct Framing {
    std::optional<std::uint64_t> contentLength;
    bool isChunked = false;
    bool isMalformed = false;
};

Framing framingOf(std::string_view block) {
    Framing framing;
    std::size_t lineStart = block.find("\r\n");
    while (lineStart != std::string_view::npos) {
        lineStart += 2;
        const std::size_t lineEnd = block.find("\r\n", lineStart);
        const std::string_view line = block.substr(
            lineStart, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - lineStart);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos) {
            const std::string name = lowercase(trimmed(line.substr(0, colon)));
            const std::string_view value = trimmed(line.substr(colon + 1));
            if (name == "content-length") {
                std::uint64_t length = 0;
                const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), length);
                if (error != std::errc() || end != value.data() + value.size() || value.empty() ||
                    (framing.contentLength && *framing.contentLength != length))
                    framing.isMalformed = true;
                else
                    framing.contentLength = length;
            } else if (name == "transfer-encoding" && lowercase(value) != "identity") {
                framing.isChunked = true;
            }
        }
        lineStart = lineEnd;
    }
    return framing;
}

} // namespace

void VellumtideHTTPReplyReader::receive(std::string_view bytes) {
    if (headerBlockLength) {
        appendBody(bytes);
        return;
    }
    const std::size_t searchFrom = head.size() >= 3 ? head.size() - 3 : 0;
    head.append(bytes);
    const std::size_t end = head.find(headerEnd, searchFrom);
    if (end == std::string::npos) {
        // A block within the cap may still end here: its separator may have begun in the last
        // three bytes, whatever the pieces the connection hands over.
        if (head.size() >= VellumtideHTTPClient::maximumHeaderBytes + headerEnd.size())
            throw VellumtideHTTPClientError::invalidResponse();
        return;
    }
    if (end > VellumtideHTTPClient::maximumHeaderBytes)
        throw VellumtideHTTPClientError::invalidResponse();
    headerBlockLength = end;
    const Framing framing = framingOf(std::string_view(head).substr(0, end));
    if (framing.contentLength && *framing.contentLength <= limit) {
        announced = *framing.contentLength;
        sink.announce(*framing.contentLength);
    }
    const std::string rest = head.substr(end + headerEnd.size());
    head.resize(end);
    appendBody(rest);
}

void VellumtideHTTPReplyReader::appendBody(std::string_view bytes) {
    if (bodyBytes + bytes.size() > limit)
        throw VellumtideHTTPClientError::invalidResponse();
    if (bytes.empty())
        return;
    sink.write(bytes);
    bodyBytes += bytes.size();
}

std::uint64_t VellumtideHTTPReplyReader::close() const {
    if (!headerBlockLength)
        throw VellumtideHTTPClientError::invalidResponse();
    const std::string_view block(head);
    const std::size_t lineEnd = block.find("\r\n");
    const std::string_view rawStatus = lineEnd == std::string_view::npos ? block : block.substr(0, lineEnd);
    if (!VellumtideHTTPClient::isSuccess(rawStatus))
        throw VellumtideHTTPClientError::httpStatus(rawStatus);
    const Framing framing = framingOf(block);
    if (framing.isMalformed || framing.isChunked ||
        (framing.contentLength && *framing.contentLength != bodyBytes))
        throw VellumtideHTTPClientError::invalidResponse();
    return bodyBytes;
}
