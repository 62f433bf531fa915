#include "basRegistry.h"

#include "Handles.h"
#include "WinError.h"
#include "basFiles.h"

#include <string>
#include <vector>

namespace rvz {

namespace {

// The text with its %variables% replaced, however long the result.
std::wstring ExpandEnvironment(const std::wstring& text) {
    std::vector<wchar_t> expanded(text.size() + 1);
    for (;;) {
        const DWORD needed = ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(),
                                                         static_cast<DWORD>(expanded.size()));
        if (needed == 0) return {};
        if (needed <= expanded.size()) return std::wstring(expanded.data());
        expanded.resize(needed);  // cut off: again with the room it asked for
    }
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
constexpr DWORD kLargestCopied = 1 << 20;

// Writes the UTF-8 file (after its mark) as UTF-16 LE with a mark to a new
// file in the temporary folder; its path, or empty when that failed.
std::wstring Utf16Copy(const std::wstring& path) {
    const std::string bytes = FileStart(path, kLargestCopied + 1);
    if (bytes.size() > kLargestCopied) return {};
    const std::wstring text = L"\xFEFF" + FromUtf8(bytes.substr(sizeof(kUtf8Mark) - 1));

    std::wstring folder;
    try {
        folder = UserTempFolder();
    } catch (const WinError&) {
        return {};
    }
    wchar_t copy[MAX_PATH];
    if (!::GetTempFileNameW(folder.c_str(), L"rvc", 0, copy)) return {};
    const UniqueFile target(::CreateFileW(copy, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_TEMPORARY, nullptr));
    DWORD written = 0;
    const DWORD bytesToWrite = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (!target || !::WriteFile(target.get(), text.data(), bytesToWrite, &written, nullptr) ||
        written != bytesToWrite) {
        ::DeleteFileW(copy);
        return {};
    }
    return copy;
}

}  // namespace

IniFile::IniFile(std::wstring path) : path_(std::move(path)) {
    const std::string start = FileStart(path_, 3);
    utf16_ = start.rfind("\xFF\xFE", 0) == 0;
    if (start == kUtf8Mark) copy_ = Utf16Copy(path_);
}

IniFile::~IniFile() {
    if (!copy_.empty()) ::DeleteFileW(copy_.c_str());
}

std::wstring IniFile::Read(const std::wstring& section, const std::wstring& key) const {
    if (!copy_.empty()) return ReadIniString(copy_, section, key, L"");
    const std::wstring read = ReadIniString(path_, section, key, L"");
    return utf16_ ? read : AsWritten(read);
}

}  // namespace rvz
