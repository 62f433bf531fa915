#include "Strings.h"

#include <stdexcept>

namespace rvz {

LANGID StringTableLanguage() {
    const LANGID ui = ::GetUserDefaultUILanguage();
    return PRIMARYLANGID(ui) == LANG_GERMAN ? MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)
                                            : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
}

std::wstring ResString(UINT id) {
    // String tables are stored in blocks of 16 counted, length-prefixed texts.
    // The block is looked up with an explicit language so that users of any
    // third language get English, not whatever the resource loader falls to.
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC block = ::FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1),
                                    StringTableLanguage());
    HGLOBAL loaded = block ? ::LoadResource(module, block) : nullptr;
    const auto* entry = static_cast<const WCHAR*>(loaded ? ::LockResource(loaded) : nullptr);
    if (entry) {
        for (UINT index = 0; index < id % 16; ++index) entry += 1 + *entry;
        if (*entry) return std::wstring(entry + 1, *entry);
    }
    throw std::out_of_range("string " + std::to_string(id) + " is missing from the string table");
}

}  // namespace rvz
