#pragma once
// The two fixed web addresses both windows link to: the companion phone app's store page and
// the online manual.

namespace VellumtideExternalLinks {
inline constexpr const char* iphoneApp = "https://vellumtide.app/iphone";
inline constexpr const char* manual = "https://vellumtide.app/manual";
} // namespace VellumtideExternalLinks
