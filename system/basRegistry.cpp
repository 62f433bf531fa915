#include "basRegistry.h"

#include "GrowingRead.h"
#include "Handles.h"
#include "WinError.h"

#include <algorithm>
#include <string>
#include <vector>

namespace rvz {

namespace {

// The text with its %variables% replaced, however long the result; empty
// when Windows cannot expand it.
std::wstring ExpandEnvironment(const std::wstring& text) {
    // It returns the room the result needs, with its NUL, whether it fits or not.
    return ReadGrowing([&](wchar_t* buffer, size_t size) -> size_t {
        return ::ExpandEnvironmentStringsW(text.c_str(), buffer, static_cast<DWORD>(size));
    }, text.size() + 1).value_or(std::wstring());
}

}  // namespace

std::wstring RegReadString(HKEY root, const std::wstring& subKey, const std::wstring& valueName) {
    UniqueKey key;
    if (::RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, key.put()) !=
        ERROR_SUCCESS)
        return {};
    return RegQueryValue(key.get(), valueName);
}

std::wstring RegQueryValue(HKEY key, const std::wstring& valueName) {
    if (!key) return {};
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key, valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return {};
    // Binary data and numbers are no install position: they read as empty.
    if (type != REG_SZ && type != REG_EXPAND_SZ) return {};

    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD secondType = 0;
    if (::RegQueryValueExW(key, valueName.c_str(), nullptr, &secondType,
                           reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS)
        return {};
    // The extra element keeps a NUL behind data stored without one.
    const std::wstring data(buffer.data(), size / sizeof(wchar_t));
    const std::wstring text = data.substr(0, data.find(L'\0'));
    return type == REG_EXPAND_SZ ? ExpandEnvironment(text) : text;
}

std::wstring ReadIniString(const std::wstring& filePath, const std::wstring& section,
                           const std::wstring& key, const std::wstring& defaultValue) {
    wchar_t buffer[256];
    const DWORD length = ::GetPrivateProfileStringW(
        section.c_str(), key.c_str(), defaultValue.empty() ? nullptr : defaultValue.c_str(),
        buffer, 255, filePath.c_str());
    return std::wstring(buffer, length);
}

namespace {

// The first bytes of a file, at most `count` (fewer when it is shorter or missing).
std::string FileStart(const std::wstring& path, DWORD count) {
    const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes(count, '\0');
    DWORD read = 0;
    if (!file || !::ReadFile(file.get(), bytes.data(), count, &read, nullptr)) read = 0;
    bytes.resize(read);
    return bytes;
}

bool IsUtf8(const std::string& bytes) {
    return bytes.empty() || ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                                  static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

// A text that the profile API read as ANSI: its bytes are taken as UTF-8
// when they are UTF-8. Plain ANSI text with characters beyond ASCII is
// practically never valid UTF-8, so it stays as read.
std::wstring AsWritten(const std::wstring& read) {
    const std::string bytes = ToAnsi(read);
    return FromAnsi(bytes) == read && IsUtf8(bytes) ? FromUtf8(bytes) : read;
}

constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";

// A configuration file is small: a larger one is no configuration file.
constexpr DWORD kLargestRead = 1 << 20;

bool IsIniBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

std::wstring TrimIniBlanks(const std::wstring& text) {
    size_t first = 0;
    size_t end = text.size();
    while (first < end && IsIniBlank(text[first])) ++first;
    while (end > first && IsIniBlank(text[end - 1])) --end;
    return text.substr(first, end - first);
}

bool SameIniName(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The key's value in INI text, read as the profile API reads a file: the
// first section of the name and its first key of the name, both in any
// case; blanks around names and values dropped, and a pair of quotes
// around a value; at most 254 characters, as ReadIniString gives.
std::wstring IniValue(const std::wstring& text, const std::wstring& section, const std::wstring& key) {
    bool inSection = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = TrimIniBlanks(text.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line[0] == L'[') {
            // Only the first section of the name counts: its end ends the search.
            if (inSection) return {};
            const size_t close = std::min(line.rfind(L']'), line.size());
            inSection = SameIniName(TrimIniBlanks(line.substr(1, close - 1)), section);
            continue;
        }
        const size_t equals = line.find(L'=');
        if (!inSection || equals == std::wstring::npos ||
            !SameIniName(TrimIniBlanks(line.substr(0, equals)), key))
            continue;
        std::wstring value = TrimIniBlanks(line.substr(equals + 1));
        if (value.size() >= 2 && (value[0] == L'"' || value[0] == L'\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        return value.substr(0, 254);
    }
    return {};
}

}  // namespace

IniFile::IniFile(std::wstring path) : path_(std::move(path)) {
    const std::string start = FileStart(path_, 3);
    utf16_ = start.rfind("\xFF\xFE", 0) == 0;
    // Decoded here, never through a copy that others could change meanwhile.
    if (start == kUtf8Mark) {
        const std::string bytes = FileStart(path_, kLargestRead + 1);
        // One too large to be a configuration reads as empty.
        utf8Text_ = bytes.size() <= kLargestRead ? FromUtf8(bytes.substr(sizeof(kUtf8Mark) - 1))
                                                 : std::wstring();
    }
}

std::wstring IniFile::Read(const std::wstring& section, const std::wstring& key) const {
    if (utf8Text_) return IniValue(*utf8Text_, section, key);
    const std::wstring read = ReadIniString(path_, section, key, L"");
    return utf16_ ? read : AsWritten(read);
}

}  // namespace rvz
