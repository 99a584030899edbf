#pragma once
// The fast JSON reader for the library's two large files, over simdjson's document model. It
// keeps the strict rules of Json.h and offers the same conversions and object reader, so the
// records' decoders are written once and read either document.

#include "Platform/Core/Json.h"

#include <concepts>
#include <filesystem>
#include <optional>
#include <simdjson.h>
#include <string_view>

namespace vt::json {

using FastValue = simdjson::dom::element;

// A parsed document; its values live as long as it does.
class FastDocument {
public:
    // Throws JsonError when the text is not JSON this reader takes (the caller may then ask the
    // other reader, which has the last word on what is valid).
    explicit FastDocument(std::string_view text);
    // The same over text that already carries the padding the parser reads past its end: no copy.
    // (Only for that type itself: other text converts to the string view.)
    template <typename Text>
    requires std::same_as<Text, simdjson::padded_string>
    explicit FastDocument(const Text& text) { parsePadded(text); }
    FastDocument(const FastDocument&) = delete;
    FastDocument& operator=(const FastDocument&) = delete;

    FastValue root() const { return rootValue; }

private:
    void parsePadded(const simdjson::padded_string& text);

    simdjson::dom::parser parser;
    FastValue rootValue;
};

// The whole of a regular file with that padding; nothing when it is missing or unreadable.
std::optional<simdjson::padded_string> readPaddedFile(const std::filesystem::path& path);

// The conversions of Json.h for this reader; each throws JsonError on a wrong type or range.
double toDouble(FastValue value);
float toFloat(FastValue value);
std::int64_t toInt(FastValue value);
bool toBool(FastValue value);
std::string toString(FastValue value);
Uuid toUuid(FastValue value);
std::vector<float> toFloats(FastValue value);
simdjson::dom::array requireArray(FastValue value);
simdjson::dom::object requireObject(FastValue value);

// The object reader of Json.h for this reader. A key given twice reads as its last value, as
// the other reader has it.
class FastObjectReader {
public:
    explicit FastObjectReader(FastValue value);

    bool has(std::string_view key) const { return find(key).has_value(); }
    FastValue require(std::string_view key) const;
    std::optional<FastValue> find(std::string_view key) const;

    double requireDouble(std::string_view key) const { return toDouble(require(key)); }
    std::int64_t requireInt(std::string_view key) const { return toInt(require(key)); }
    bool requireBool(std::string_view key) const { return toBool(require(key)); }
    std::string requireString(std::string_view key) const { return toString(require(key)); }
    Uuid requireUuid(std::string_view key) const { return toUuid(require(key)); }
    std::vector<float> requireFloats(std::string_view key) const { return toFloats(require(key)); }

    std::optional<double> optionalDouble(std::string_view key) const;
    std::optional<bool> optionalBool(std::string_view key) const;
    std::optional<std::string> optionalString(std::string_view key) const;

private:
    simdjson::dom::object object;
};

// The object reader that fits each document.
inline ObjectReader readObject(const Json& value) {
    return ObjectReader(value);
}
inline FastObjectReader readObject(FastValue value) {
    return FastObjectReader(value);
}

} // namespace vt::json
