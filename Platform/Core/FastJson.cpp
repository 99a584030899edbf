#include "Platform/Core/FastJson.h"

namespace vt::json {

namespace {

[[noreturn]] void fail(const std::string& message) {
    throw JsonError(message);
}

} // namespace

FastDocument::FastDocument(std::string_view text) {
    auto parsed = parser.parse(text.data(), text.size(), true);
    if (parsed.error())
        fail(std::string("The data is not valid JSON: ") + simdjson::error_message(parsed.error()));
    rootValue = parsed.value_unsafe();
}

void FastDocument::parsePadded(const simdjson::padded_string& text) {
    auto parsed = parser.parse(text);
    if (parsed.error())
        fail(std::string("The data is not valid JSON: ") + simdjson::error_message(parsed.error()));
    rootValue = parsed.value_unsafe();
}

std::optional<simdjson::padded_string> readPaddedFile(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return std::nullopt;
    auto loaded = simdjson::padded_string::load(path.string());
    if (loaded.error())
        return std::nullopt;
    return std::move(loaded).value_unsafe();
}

double toDouble(FastValue value) {
    switch (value.type()) {
    case simdjson::dom::element_type::INT64:
        return static_cast<double>(value.get_int64().value_unsafe());
    case simdjson::dom::element_type::UINT64:
        return static_cast<double>(value.get_uint64().value_unsafe());
    case simdjson::dom::element_type::DOUBLE:
        return value.get_double().value_unsafe();
    default:
        fail("Expected a number");
    }
}

float toFloat(FastValue value) {
    return floatFromDouble(toDouble(value));
}

std::int64_t toInt(FastValue value) {
    switch (value.type()) {
    case simdjson::dom::element_type::INT64:
        return value.get_int64().value_unsafe();
    case simdjson::dom::element_type::UINT64:
        return integerFromUnsigned(value.get_uint64().value_unsafe());
    case simdjson::dom::element_type::DOUBLE:
        return integerFromDouble(value.get_double().value_unsafe());
    default:
        fail("Expected an integer");
    }
}

bool toBool(FastValue value) {
    if (!value.is_bool())
        fail("Expected true or false");
    return value.get_bool().value_unsafe();
}

std::string toString(FastValue value) {
    if (!value.is_string())
        fail("Expected a string");
    return std::string(value.get_string().value_unsafe());
}

Uuid toUuid(FastValue value) {
    if (!value.is_string())
        fail("Expected a string");
    auto uuid = Uuid::parse(value.get_string().value_unsafe());
    if (!uuid)
        fail("Expected a UUID string");
    return *uuid;
}

std::vector<float> toFloats(FastValue value) {
    auto elements = requireArray(value);
    std::vector<float> result;
    result.reserve(elements.size());
    for (FastValue element : elements)
        result.push_back(toFloat(element));
    return result;
}

simdjson::dom::array requireArray(FastValue value) {
    if (!value.is_array())
        fail("Expected an array");
    return value.get_array().value_unsafe();
}

simdjson::dom::object requireObject(FastValue value) {
    if (!value.is_object())
        fail("Expected an object");
    return value.get_object().value_unsafe();
}

FastObjectReader::FastObjectReader(FastValue value) : object(requireObject(value)) {}

std::optional<FastValue> FastObjectReader::find(std::string_view key) const {
    std::optional<FastValue> found;
    for (auto field : object)
        if (field.key == key)
            found = field.value;
    if (found && found->is_null())
        return std::nullopt;
    return found;
}

FastValue FastObjectReader::require(std::string_view key) const {
    auto value = find(key);
    if (!value)
        fail("Missing key \"" + std::string(key) + "\"");
    return *value;
}

std::optional<double> FastObjectReader::optionalDouble(std::string_view key) const {
    auto value = find(key);
    return value ? std::optional(toDouble(*value)) : std::nullopt;
}

std::optional<bool> FastObjectReader::optionalBool(std::string_view key) const {
    auto value = find(key);
    return value ? std::optional(toBool(*value)) : std::nullopt;
}

std::optional<std::string> FastObjectReader::optionalString(std::string_view key) const {
    auto value = find(key);
    return value ? std::optional(toString(*value)) : std::nullopt;
}

} // namespace vt::json
