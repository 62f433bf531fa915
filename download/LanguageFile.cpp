#include "LanguageFile.h"

#include <windows.h>

#include <vector>

namespace rvdl {

namespace {

// Longer texts than this are cut; none of ours comes near it.
constexpr DWORD kMaxText = 2048;

}  // namespace

Texts LoadLanguageFile(const std::wstring& path) {
    // No file (or a folder) by that name: English, without asking the profile
    // functions, which would search the Windows folder for a bare name.
    if (path.empty() || ::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
        return Texts();
    std::vector<wchar_t> buffer(kMaxText);
    return Texts::Load([&](const wchar_t* key) -> std::optional<std::wstring> {
        const DWORD length = ::GetPrivateProfileStringW(kTextSection, key, L"", buffer.data(),
                                                        kMaxText, path.c_str());
        if (length == 0) return std::nullopt;
        return std::wstring(buffer.data(), length);
    });
}

}  // namespace rvdl
