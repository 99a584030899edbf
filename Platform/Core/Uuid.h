#pragma once
// A 128-bit identifier, read from 8-4-4-4-12 hexadecimal text in either case and always written
// upper-case.

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vt {

class Uuid {
public:
    Uuid() = default; // the nil UUID
    explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : data(bytes) {}

    // Exactly 36 characters: hex digits in groups of 8-4-4-4-12 separated by '-'.
    static std::optional<Uuid> parse(std::string_view text);
    // A random (version 4) UUID.
    static Uuid random();

    std::string string() const; // upper-case hyphenated form
    const std::array<std::uint8_t, 16>& bytes() const { return data; }
    bool isNil() const { return *this == Uuid(); }

    auto operator<=>(const Uuid&) const = default;

private:
    std::array<std::uint8_t, 16> data{};
};

} // namespace vt

template <> struct std::hash<vt::Uuid> {
    std::size_t operator()(const vt::Uuid& uuid) const noexcept {
        std::size_t value = 0;
        for (auto byte : uuid.bytes())
            value = value * 131 + byte;
        return value;
    }
};
