// A text that a Windows function writes into a buffer of the caller's size,
// read in full however long it is: the function is called with a buffer,
// and again with a larger one while it reports that the text did not fit.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace rvz {

// The most a growing read asks room for, in characters: beyond the longest
// path (32767 characters) even after a doubling, so that a function that
// keeps reporting "too small" cannot make the read grow without end.
constexpr std::size_t kLongestGrowingRead = 65536;

// Calls read(buffer, size) with buffers of `size` characters, the first of
// `firstSize`, until the text fits. read returns 0 when the function failed;
// a number up to `size` when the text is in the buffer; a larger one, the
// room in characters it needs (with its NUL), when the text did not fit; a
// function that does not say how much room it needs is given twice the size.
// The text ends at its first NUL, or with the buffer. Nothing when read
// failed or asked for more than kLongestGrowingRead (the caller's
// GetLastError then tells why).
template <typename Read>
std::optional<std::wstring> ReadGrowing(Read read, std::size_t firstSize = 260) {
    std::vector<wchar_t> buffer(std::max<std::size_t>(firstSize, 1));
    for (;;) {
        const std::size_t needed = read(buffer.data(), buffer.size());
        if (needed == 0) return std::nullopt;
        if (needed <= buffer.size())
            return std::wstring(buffer.begin(), std::find(buffer.begin(), buffer.end(), L'\0'));
        if (needed > kLongestGrowingRead) return std::nullopt;
        buffer.assign(needed, L'\0');
    }
}

}  // namespace rvz
