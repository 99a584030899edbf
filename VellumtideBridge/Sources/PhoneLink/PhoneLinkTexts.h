#pragma once
// Small helpers of the phone link shared by the controller's operations.

#include "VellumtideBridge/Sources/Library/VellumtideDevice.h"

#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace PhoneLink {

// The file name percent-encoded with the URL-path-allowed characters ("/" kept).
std::string percentEncodedPath(std::string_view fileName);

// Parses a typed address: an optional "scheme://", host, ":", port 1..65535, an optional path.
std::optional<VellumtideEndpoint> endpointFromAddress(std::string_view trimmedText);

// n + singular + ("s" unless n is 1) + rest, e.g. counted(2, " iPhone", " found").
std::string counted(std::size_t n, std::string_view noun, std::string_view rest = {});

// The text a failure shows the user: its what(), or "Unknown error." for anything that is not a
// std::exception.
std::string failureText(std::exception_ptr error);

// True for a failed download that concerns only its file (a status other than a rejected token,
// a reply cut short or malformed, a body too large for memory); the sync goes on with the next
// file. A lost connection, a time-out and a rejected token are not.
bool isFileLevelFailure(std::exception_ptr error);

} // namespace PhoneLink
