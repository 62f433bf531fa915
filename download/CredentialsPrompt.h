// The prompt for a user name and password that a proxy or server asks for,
// in the download dialog's language.
#pragma once

#include "Texts.h"
#include "TransferRules.h"

#include <windows.h>

#include <optional>
#include <string>

namespace rvdl {

// Asks modally, owned by `owner`, with `question` above the two fields;
// nothing when the user cancels.
std::optional<Credentials> PromptForCredentials(HWND owner, const Texts& texts,
                                                const std::wstring& title,
                                                const std::wstring& question);

}  // namespace rvdl
