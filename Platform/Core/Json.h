#pragma once
// Strict JSON reading and careful writing over nlohmann::json.
// Reading: a wrong type fails the whole document; null counts as absent only where a key is
// optional; a double accepts any number; an integer only an integral number in range; a UUID
// only 8-4-4-4-12 text. Writing: non-finite numbers are refused; 32-bit floats are written in
// their shortest float form.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Kept after the standard headers: Qt's moc fails to parse a header whose first one is <array>.
#include "Platform/Core/Uuid.h"

namespace vt::json {

using Json = nlohmann::json;

// A document that does not decode or a value that cannot be encoded.
class JsonError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

Json parse(std::string_view text);                    // throws JsonError
std::string dump(const Json& value, int indent = -1); // invalid UTF-8 is replaced, never thrown

// Conversions of one value; each throws JsonError on a wrong type or range.
double toDouble(const Json& value);
float toFloat(const Json& value);
std::int64_t toInt(const Json& value);
bool toBool(const Json& value);
std::string toString(const Json& value);
Uuid toUuid(const Json& value);
std::vector<float> toFloats(const Json& value);

// The number rules every reader shares; each throws JsonError when the number does not fit.
float floatFromDouble(double number);
std::int64_t integerFromUnsigned(std::uint64_t number);
std::int64_t integerFromDouble(double number); // only an integral number in range

// Encoders; throw JsonError for NaN or infinity.
Json number(double value);
Json number(float value);
Json floats(const std::vector<float>& values);

// Reads the keys of one JSON object; the constructor throws JsonError when value is no object.
class ObjectReader {
public:
    explicit ObjectReader(const Json& value);

    // True when the key is present with a non-null value.
    bool has(std::string_view key) const;
    // The value of a required key (missing or null fails).
    const Json& require(std::string_view key) const;
    // The value of an optional key, or nullptr when absent or null.
    const Json* find(std::string_view key) const;

    double requireDouble(std::string_view key) const { return toDouble(require(key)); }
    std::int64_t requireInt(std::string_view key) const { return toInt(require(key)); }
    bool requireBool(std::string_view key) const { return toBool(require(key)); }
    std::string requireString(std::string_view key) const { return toString(require(key)); }
    Uuid requireUuid(std::string_view key) const { return toUuid(require(key)); }
    std::vector<float> requireFloats(std::string_view key) const { return toFloats(require(key)); }

    std::optional<double> optionalDouble(std::string_view key) const;
    std::optional<std::int64_t> optionalInt(std::string_view key) const;
    std::optional<bool> optionalBool(std::string_view key) const;
    std::optional<std::string> optionalString(std::string_view key) const;
    std::optional<Uuid> optionalUuid(std::string_view key) const;

private:
    const Json& object;
};

// The elements of a required array; throws JsonError when value is no array.
const Json::array_t& requireArray(const Json& value);

} // namespace vt::json
