// The install action that the wizard's Install button starts.
#pragma once

#include <windows.h>

namespace rvz {

// Downloads and runs the product's setup, with the autostart task chosen
// by the check box's state as BM_GETCHECK gives it (0 unchecked, 1 checked,
// 2 grayed), and starts the product. Ends the process on every road.
[[noreturn]] void RunInstallAction(UINT autostartValue);

}  // namespace rvz
