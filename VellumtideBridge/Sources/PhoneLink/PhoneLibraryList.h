#pragma once
// The phone's sample list ("/library.json") received into memory under a light scan that bounds
// what it may hold (bytes, records, string length, nesting, values), then decoded. A list over a
// bound is refused as soon as its bytes show it, so memory stays a small multiple of the cap.

#include "VellumtideBridge/Sources/Library/BridgeModels.h"
#include "VellumtideBridge/Sources/PhoneLink/VellumtideHTTPClient.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A list the desktop program refuses to take; what() says which bound it broke.
class PhoneLibraryListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a phone's list may hold. A phone keeps at most some tens of thousands of takes; each record
// is a few hundred bytes plus its waveform overview.
struct PhoneLibraryListLimits {
    std::uint64_t maximumBytes = 160u << 20; // 50,000 samples with about 300 peaks each
    std::uint64_t maximumRecords = 50'000;
    std::uint64_t maximumStringBytes = 4096;
    std::uint64_t maximumValues = 16'000'000; // values in all, counted by "[", "{" and ","
    int maximumDepth = 16;
};

class PhoneLibraryList final : public VellumtideBodySink {
public:
    using Limits = PhoneLibraryListLimits;

    explicit PhoneLibraryList(Limits limits = {}) : limits(limits) {}

    void announce(std::uint64_t length) override;
    // Throws PhoneLibraryListError once the bytes so far break a bound.
    void write(std::string_view bytes) override;
    void discard() noexcept override;

    // The bytes that arrived.
    std::uint64_t size() const { return body.size(); }
    // The records of what arrived. Throws vt::json::JsonError when they do not decode.
    std::vector<SampleItem> decode() const;

private:
    void scan(std::string_view bytes);
    [[noreturn]] void refuse(const std::string& what) const;

    Limits limits;
    std::string body;
    bool inString = false;
    bool escaped = false;
    int depth = 0;
    std::uint64_t stringBytes = 0;
    std::uint64_t values = 0;
    std::uint64_t records = 0;
};
