#include "VellumtideBridge/Sources/PhoneLink/PhoneLibraryList.h"

#include "Platform/Core/FastJson.h"

void PhoneLibraryList::refuse(const std::string& what) const {
    throw PhoneLibraryListError("The iPhone's library list was not taken: " + what + ".");
}

namespace {

// "160 MiB", "512 KiB", "100 bytes".
std::string sizeText(std::uint64_t bytes) {
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    if (bytes >= (1u << 10) && bytes % (1u << 10) == 0)
        return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

} // namespace

void PhoneLibraryList::announce(std::uint64_t length) {
    if (length > limits.maximumBytes)
        refuse("it is larger than " + sizeText(limits.maximumBytes));
}

void PhoneLibraryList::write(std::string_view bytes) {
    if (received + bytes.size() > limits.maximumBytes)
        refuse("it is larger than " + sizeText(limits.maximumBytes));
    scan(bytes);
    received += bytes.size();
    // After the first failure only the bounds are looked at: a list over a bound is refused for
    // that, whatever else is wrong with it.
    if (decodeFailure || !reader)
        return;
    try {
        reader->feed(bytes);
    } catch (const vt::json::JsonError&) {
        decodeFailure = std::current_exception();
    }
}

void PhoneLibraryList::discard() noexcept {
    reader.reset();
}

// Counts without checking the grammar (the decoder does that): every "[", "{" and "," outside a
// string starts a value, and a "," inside the outer array starts a record.
void PhoneLibraryList::scan(std::string_view bytes) {
    for (const char c : bytes) {
        // A record's bytes, counted from the comma (or bracket) before it.
        if (depth >= 1 && ++recordBytes > limits.maximumRecordBytes)
            refuse("a sample in it takes more than " + sizeText(limits.maximumRecordBytes));
        if (inString) {
            inString = vt::json::continuesString(c, escaped);
            if (inString && ++stringBytes > limits.maximumStringBytes)
                refuse("a text in it is longer than " + std::to_string(limits.maximumStringBytes) + " bytes");
            continue;
        }
        switch (c) {
        case '"':
            inString = true;
            stringBytes = 0;
            break;
        case '[':
        case '{':
            if (++depth > limits.maximumDepth)
                refuse("it is nested too deeply");
            if (depth == 2 && records == 0)
                records = 1;
            ++values;
            break;
        case ']':
        case '}':
            depth = std::max(depth - 1, 0);
            break;
        case ',':
            ++values;
            if (depth == 1) {
                recordBytes = 0;
                if (++records > limits.maximumRecords)
                    refuse("it lists more than " + std::to_string(limits.maximumRecords) + " samples");
            }
            break;
        default:
            break;
        }
        if (values > limits.maximumValues)
            refuse("it holds more than " + std::to_string(limits.maximumValues) + " values");
    }
}

std::vector<SampleItem> PhoneLibraryList::decode() {
    if (decodeFailure)
        std::rethrow_exception(decodeFailure);
    if (!reader)
        throw vt::json::JsonError("The iPhone's library list was discarded.");
    auto samples = reader->finish().samples;
    reader.reset();
    return samples;
}
