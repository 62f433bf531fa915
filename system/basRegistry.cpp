#include "basRegistry.h"

#include "Handles.h"

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

}  // namespace rvz
