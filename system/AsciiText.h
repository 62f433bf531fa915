// Text rules that hold for ASCII only, whatever the locale: letter case in
// names and hex, digits in numbers. Protocol words, file extensions, option
// names and header values are read by these, never by the C library's
// locale-dependent functions.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace rvz {

namespace ascii_detail {

template <typename Char>
constexpr Char Lower(Char c) {
    return c >= Char('A') && c <= Char('Z') ? static_cast<Char>(c - Char('A') + Char('a')) : c;
}

template <typename Char>
constexpr bool StartsWithNoCase(std::basic_string_view<Char> text,
                                std::basic_string_view<Char> prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[i]) != Lower(prefix[i])) return false;
    return true;
}

}  // namespace ascii_detail

// Whether the text begins with the prefix when A-Z count as a-z; no other
// letters are folded.
inline bool StartsWithAsciiNoCase(std::string_view text, std::string_view prefix) {
    return ascii_detail::StartsWithNoCase(text, prefix);
}
inline bool StartsWithAsciiNoCase(std::wstring_view text, std::wstring_view prefix) {
    return ascii_detail::StartsWithNoCase(text, prefix);
}

// Whether the texts are equal when A-Z count as a-z; no other letters are folded.
inline bool EqualsAsciiNoCase(std::string_view text, std::string_view other) {
    return text.size() == other.size() && StartsWithAsciiNoCase(text, other);
}
inline bool EqualsAsciiNoCase(std::wstring_view text, std::wstring_view other) {
    return text.size() == other.size() && StartsWithAsciiNoCase(text, other);
}

// Whether the text is decimal digits 0-9 only, at least one: no sign, no blank.
inline bool IsDecimal(std::wstring_view text) {
    if (text.empty()) return false;
    for (const wchar_t c : text)
        if (c < L'0' || c > L'9') return false;
    return true;
}

// The value of a text of decimal digits (IsDecimal; leading zeros allowed);
// nothing for any other text and for a value above `largest`.
inline std::optional<std::uint64_t> ParseDecimal(
    std::wstring_view text, std::uint64_t largest = std::numeric_limits<std::uint64_t>::max()) {
    if (!IsDecimal(text)) return std::nullopt;
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        const auto digit = static_cast<std::uint64_t>(c - L'0');
        if (digit > largest || value > (largest - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace rvz
