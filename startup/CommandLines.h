// The command lines the loader starts, assembled apart from starting them.
#pragma once

#include <string>

namespace rvz {

// The product's command line: the install position, one blank, the command.
// A position with a blank that names an existing file is quoted, so that no
// "C:\Program.exe" can be started in its place; any other position (an
// already quoted one, or a full command line written by the setup) is used
// as it stands.
std::wstring ProductCommandLine(const std::wstring& position, const std::wstring& command,
                                bool positionIsExistingFile);

// The setup program's command line: its quoted path and the silent switches
// with the autostart task selected (checked or grayed) or deselected.
std::wstring SetupCommandLine(const std::wstring& setupPath, bool autostart);

}  // namespace rvz
