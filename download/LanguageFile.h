// Reads the dialog's texts from a language file: an INI file with a section
// [Strings] of Key=Text lines, saved as UTF-16 LE with a byte order mark so
// that the profile functions read it as Unicode.
#pragma once

#include "Texts.h"

#include <string>

namespace rvdl {

// The texts of the file; built-in English for a missing file or key.
Texts LoadLanguageFile(const std::wstring& path);

}  // namespace rvdl
