#include "basFiles.h"

#include <stdexcept>

namespace rvz {

namespace {

// Character positions are 16-bit signed: a backslash at position 32767
// (counted from 1) or later cannot be scanned past.
constexpr size_t kMaxScanPosition = 32767;

size_t LastSeparatorEnd(const std::wstring& path) {
    const size_t last = path.rfind(L'\\');
    if (last == std::wstring::npos) return 0;
    if (last + 1 >= kMaxScanPosition) throw std::overflow_error("path position overflow");
    return last + 1;
}

}  // namespace

std::wstring Trim(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L' ');
    if (first == std::wstring::npos) return {};
    return text.substr(first, text.find_last_not_of(L' ') - first + 1);
}

std::wstring GetDirectoryPart(const std::wstring& path) {
    return path.substr(0, LastSeparatorEnd(path));
}

std::wstring GetFileNamePart(const std::wstring& path) {
    return path.substr(LastSeparatorEnd(path));
}

}  // namespace rvz
