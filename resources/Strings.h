// The loader's localized texts.
#pragma once

#include <windows.h>

#include <string>

namespace rvz {

// The language whose string table the loader uses: German for a German user
// interface, English for every other.
LANGID StringTableLanguage();

// The text of a string id in that language. Throws std::out_of_range for an
// id that the table lacks.
std::wstring ResString(UINT id);

}  // namespace rvz
