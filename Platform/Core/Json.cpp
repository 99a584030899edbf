#include "Platform/Core/Json.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace vt::json {

namespace {

[[noreturn]] void fail(const std::string& message) {
    throw JsonError(message);
}

std::string keyText(std::string_view key) {
    return "\"" + std::string(key) + "\"";
}

} // namespace

Json parse(std::string_view text) {
    // The parser takes a NUL byte for the end of the text and would pass over what follows it;
    // JSON has no place for one outside an escape.
    if (text.find('\0') != std::string_view::npos)
        fail("The data is not valid JSON: a NUL byte in the text");
    try {
        return Json::parse(text.begin(), text.end());
    } catch (const Json::exception& error) {
        fail(std::string("The data is not valid JSON: ") + error.what());
    }
}

std::string dump(const Json& value, int indent) {
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

double toDouble(const Json& value) {
    if (!value.is_number())
        fail("Expected a number");
    return value.get<double>();
}

float floatFromDouble(double number) {
    if (std::isfinite(number) && std::fabs(number) > std::numeric_limits<float>::max())
        fail("Number does not fit a 32-bit float");
    return static_cast<float>(number);
}

std::int64_t integerFromUnsigned(std::uint64_t number) {
    if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        fail("Integer out of range");
    return static_cast<std::int64_t>(number);
}

std::int64_t integerFromDouble(double number) {
    if (!std::isfinite(number) || std::trunc(number) != number || number >= 9223372036854775808.0 ||
        number < -9223372036854775808.0)
        fail("Expected an integer");
    return static_cast<std::int64_t>(number);
}

float toFloat(const Json& value) {
    return floatFromDouble(toDouble(value));
}

std::int64_t toInt(const Json& value) {
    if (value.is_number_unsigned())
        return integerFromUnsigned(value.get<std::uint64_t>());
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    if (value.is_number_float())
        return integerFromDouble(value.get<double>());
    fail("Expected an integer");
}

bool toBool(const Json& value) {
    if (!value.is_boolean())
        fail("Expected true or false");
    return value.get<bool>();
}

std::string toString(const Json& value) {
    if (!value.is_string())
        fail("Expected a string");
    return value.get<std::string>();
}

Uuid toUuid(const Json& value) {
    auto uuid = Uuid::parse(toString(value));
    if (!uuid)
        fail("Expected a UUID string");
    return *uuid;
}

std::vector<float> toFloats(const Json& value) {
    const auto& elements = requireArray(value);
    std::vector<float> result;
    result.reserve(elements.size());
    for (const auto& element : elements)
        result.push_back(toFloat(element));
    return result;
}

Json number(double value) {
    if (!std::isfinite(value))
        fail("Cannot encode a non-finite number");
    return value;
}

Json number(float value) {
    if (!std::isfinite(value))
        fail("Cannot encode a non-finite number");
    // The shortest text of the float, read back as a double, prints the same short text.
    char buffer[32];
    auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    double widened = 0;
    std::from_chars(buffer, written.ptr, widened);
    return widened;
}

Json floats(const std::vector<float>& values) {
    Json array = Json::array();
    array.get_ref<Json::array_t&>().reserve(values.size());
    for (float value : values)
        array.push_back(number(value));
    return array;
}

const Json::array_t& requireArray(const Json& value) {
    if (!value.is_array())
        fail("Expected an array");
    return value.get_ref<const Json::array_t&>();
}

ObjectReader::ObjectReader(const Json& value) : object(value) {
    if (!value.is_object())
        fail("Expected an object");
}

const Json* ObjectReader::find(std::string_view key) const {
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

bool ObjectReader::has(std::string_view key) const {
    return find(key) != nullptr;
}

const Json& ObjectReader::require(std::string_view key) const {
    const Json* value = find(key);
    if (!value)
        fail("Missing key " + keyText(key));
    return *value;
}

std::optional<double> ObjectReader::optionalDouble(std::string_view key) const {
    const Json* value = find(key);
    return value ? std::optional(toDouble(*value)) : std::nullopt;
}

std::optional<std::int64_t> ObjectReader::optionalInt(std::string_view key) const {
    const Json* value = find(key);
    return value ? std::optional(toInt(*value)) : std::nullopt;
}

std::optional<bool> ObjectReader::optionalBool(std::string_view key) const {
    const Json* value = find(key);
    return value ? std::optional(toBool(*value)) : std::nullopt;
}

std::optional<std::string> ObjectReader::optionalString(std::string_view key) const {
    const Json* value = find(key);
    return value ? std::optional(toString(*value)) : std::nullopt;
}

std::optional<Uuid> ObjectReader::optionalUuid(std::string_view key) const {
    const Json* value = find(key);
    return value ? std::optional(toUuid(*value)) : std::nullopt;
}

} // namespace vt::json
