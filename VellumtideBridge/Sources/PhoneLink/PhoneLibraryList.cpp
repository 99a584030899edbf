#include "VellumtideBridge/Sources/PhoneLink/PhoneLibraryList.h"

void PhoneLibraryList::refuse(const std::string& what) const {
    throw PhoneLibraryListError("The iPhone's library list was not taken: " + what + ".");
}

void PhoneLibraryList::announce(std::uint64_t length) {
    if (length > limits.maximumBytes)
        refuse("it is larger than " + std::to_string(limits.maximumBytes >> 20) + " MiB");
    body.reserve(std::min<std::uint64_t>(length, VellumtideHTTPClient::initialBodyReserve));
}

void PhoneLibraryList::write(std::string_view bytes) {
    if (body.size() + bytes.size() > limits.maximumBytes)
        refuse("it is larger than " + std::to_string(limits.maximumBytes >> 20) + " MiB");
    scan(bytes);
    body.append(bytes);
}

void PhoneLibraryList::discard() noexcept {
    std::string().swap(body);
}

// Counts without checking the grammar (the decoder does that): every "[", "{" and "," outside a
// string starts a value, and a "," inside the outer array starts a record.
void PhoneLibraryList::scan(std::string_view bytes) {
    for (const char c : bytes) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
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
            if (depth == 1 && ++records > limits.maximumRecords)
                refuse("it lists more than " + std::to_string(limits.maximumRecords) + " samples");
            break;
        default:
            break;
        }
        if (values > limits.maximumValues)
            refuse("it holds more than " + std::to_string(limits.maximumValues) + " values");
    }
}

std::vector<SampleItem> PhoneLibraryList::decode() const {
    return SampleItem::listFromJsonText(body, DateForm::iso8601);
}
