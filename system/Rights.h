// The loader's rights, and the desktop user's: the loader starts the product
// with that user's rights, never with its own elevated ones.
#pragma once

#include "Handles.h"

#include <string>

namespace rvz {

// Whether the process runs elevated (with its full administrator token).
bool IsElevated() noexcept;

// Whether the process may change the system time, the right that elevated
// administrators hold and standard users lack. Asks; changes nothing.
bool HasAdministratorRights();

// A token to start a program as the desktop's user, or why there is none.
struct DesktopToken {
    UniqueHandleKernel token;  // a primary token; none: see why
    std::wstring why;          // for the log, when there is no token
};

// The token of the process behind the desktop's shell window (Explorer),
// duplicated for starting a program with CreateProcessWithTokenW, when the
// loader runs elevated. None when it does not (its own token is the user's
// then), when no shell runs, or when a call fails. Never throws but for
// std::bad_alloc.
DesktopToken DesktopUserToken();

// Starts the program with the parameters through the shell's "runas" verb,
// which asks for administrator rights (the UAC prompt); the started process,
// or none with GetLastError set (ERROR_CANCELLED: the prompt was declined).
UniqueHandleKernel StartElevated(const std::wstring& program, const std::wstring& parameters);

}  // namespace rvz
