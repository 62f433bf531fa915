// Read-only access to the registry and to INI files. Nothing here writes.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace rvz {

// The text of a string value; the empty text when the key or value is
// missing, unreadable, or of any type but REG_SZ and REG_EXPAND_SZ. The text
// ends before the first NUL; data without any NUL is taken whole. A
// REG_EXPAND_SZ value comes with its %variables% replaced from the process's
// environment (unknown ones stay as written). 32-bit programs and 64-bit
// builds alike read the 32-bit view of HKEY_LOCAL_MACHINE\SOFTWARE.
std::wstring RegReadString(HKEY root, const std::wstring& subKey, const std::wstring& valueName);

// The same for a key that is already open; the empty text for a null key.
std::wstring RegQueryValue(HKEY key, const std::wstring& valueName);

// One key of an INI file through the profile API: at most 254 characters,
// the default when the file, section or key is missing. Not trimmed.
std::wstring ReadIniString(const std::wstring& filePath, const std::wstring& section,
                           const std::wstring& key, const std::wstring& defaultValue);

// An INI file as editors save it: UTF-16 LE with a byte order mark, UTF-8
// with or without one, or ANSI; its texts come back as written. The profile
// API reads every file without a UTF-16 mark as ANSI and loses the first
// section behind a UTF-8 mark: such a file is read whole and decoded in
// memory, by the profile API's rules.
class IniFile {
public:
    explicit IniFile(std::wstring path);
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    // The key's text, empty when the file, section or key is missing.
    std::wstring Read(const std::wstring& section, const std::wstring& key) const;

private:
    std::wstring path_;
    std::optional<std::wstring> utf8Text_;  // the whole text of a file with a UTF-8 mark
    bool utf16_ = false;
};

}  // namespace rvz
