#pragma once
// The phone's sample list ("/library.json") taken as it arrives: a light scan bounds what it may
// hold (bytes, records, the size of a record, string length, nesting, values) and each record is
// decoded as soon as it is whole, so the list's text is never held. A list over a bound is refused
// as soon as its bytes show it, and memory stays near the size of the records decoded.

#include "VellumtideBridge/Sources/Library/BridgeModels.h"
#include "VellumtideBridge/Sources/PhoneLink/VellumtideHTTPClient.h"

#include <cstdint>
#include <exception>
#include <memory>
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
    std::uint64_t maximumRecordBytes = 1u << 20; // a record with some 100,000 peaks
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
    std::uint64_t size() const { return received; }
    // The records of what arrived (once: they are handed over). Throws vt::json::JsonError when
    // they do not decode or the list is not whole.
    std::vector<SampleItem> decode();

private:
    void scan(std::string_view bytes);
    [[noreturn]] void refuse(const std::string& what) const;

    Limits limits;
    std::uint64_t received = 0;
    std::unique_ptr<SampleItemListReader> reader =
        std::make_unique<SampleItemListReader>(DateForm::iso8601, SampleItemListReader::Records::strict);
    std::exception_ptr decodeFailure; // the first record or text that did not decode
    std::uint64_t recordBytes = 0;
    bool inString = false;
    bool escaped = false;
    int depth = 0;
    std::uint64_t stringBytes = 0;
    std::uint64_t values = 0;
    std::uint64_t records = 0;
};
