#include "VellumtideBridge/Sources/PhoneLink/PhoneLinkTexts.h"

#include "VellumtideBridge/Sources/PhoneLink/BridgePairing.h"
#include "VellumtideBridge/Sources/PhoneLink/VellumtideHTTPClient.h"

#include <charconv>
#include <vector>

namespace PhoneLink {

namespace {
// The characters a URL path keeps unencoded: unreserved, sub-delims, ":", "@" and "/".
bool isPathAllowed(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    return std::string_view("-._~!$&'()*+,;=:@/").find(static_cast<char>(c)) != std::string_view::npos;
}
} // namespace

std::string percentEncodedPath(std::string_view fileName) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(fileName.size());
    for (unsigned char c : fileName) {
        if (isPathAllowed(c)) {
            result.push_back(static_cast<char>(c));
        } else {
            result.push_back('%');
            result.push_back(hex[c >> 4]);
            result.push_back(hex[c & 15]);
        }
    }
    return result;
}

std::optional<VellumtideEndpoint> endpointFromAddress(std::string_view text) {
    if (const auto scheme = text.find("://"); scheme != std::string_view::npos)
        text.remove_prefix(scheme + 3);
    if (const auto slash = text.find('/'); slash != std::string_view::npos)
        text = text.substr(0, slash);
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto colon = text.find(':', start);
        const auto piece =
            text.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
        if (!piece.empty())
            pieces.push_back(piece);
        if (colon == std::string_view::npos)
            break;
        start = colon + 1;
    }
    if (pieces.size() != 2)
        return std::nullopt;
    unsigned int port = 0;
    const auto portText = pieces[1];
    const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    // Port 0 names no listening service.
    if (error != std::errc() || end != portText.data() + portText.size() || port == 0 || port > 65535)
        return std::nullopt;
    return VellumtideEndpoint::hostPort(std::string(pieces[0]), static_cast<std::uint16_t>(port));
}

std::string counted(std::size_t n, std::string_view noun, std::string_view rest) {
    std::string text = std::to_string(n);
    text += noun;
    if (n != 1)
        text += "s";
    text += rest;
    return text;
}

std::string failureText(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return VellumtideHTTPClientError::outOfMemory().what();
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        return "Unknown error.";
    }
}

bool isFileLevelFailure(std::exception_ptr error) {
    using Case = VellumtideHTTPClientError::Case;
    try {
        std::rethrow_exception(error);
    } catch (const VellumtideHTTPClientError& clientError) {
        switch (clientError.errorCase()) {
        case Case::httpStatus:
            return !isUnauthorized(error);
        case Case::invalidResponse:
        case Case::outOfMemory:
            return true;
        case Case::connectionCancelled:
        case Case::timedOut:
            return false;
        }
    } catch (const std::bad_alloc&) {
        return true;
    } catch (...) {
    }
    return false;
}

} // namespace PhoneLink
