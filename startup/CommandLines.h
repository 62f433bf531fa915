// The command lines the loader starts, assembled apart from starting them.
#pragma once

#include <functional>
#include <string>

namespace rvz {

// How the installed product is started: the program, which is passed to
// Windows explicitly, and the whole command line.
struct ProductStart {
    // Empty when the install record names no existing program: the product
    // then counts as not installed.
    std::wstring program;
    std::wstring commandLine;
};

// The product's start for an install record and the command text. The
// program part is worked out here, never left for Windows to guess:
// - a quoted record: the quoted part;
// - an unquoted record that names an existing file as a whole: all of it;
// - otherwise the leading part up to and including ".exe" (any case, followed
//   by the end or a blank; each such ".exe" from the left) that names an
//   existing file, the rest being its arguments.
// The program must exist (fileExists says so) in every case. The command
// line is the program (quoted when it holds a blank and the record did not
// quote it), its arguments, one blank and the command text; a quoted record
// stays as written. When no program part exists, both texts are empty.
ProductStart ProductStartFor(const std::wstring& position, const std::wstring& command,
                             const std::function<bool(const std::wstring&)>& fileExists);

// The product's command line: the position (an existing program, or a
// quoted install record with the program's own arguments), one blank, the
// command. An unquoted position with a blank is quoted, so that no
// "C:\Program.exe" can be started in its place; a quoted one is used as it
// stands.
std::wstring ProductCommandLine(const std::wstring& position, const std::wstring& command);

// The setup program's command line: its quoted path and the silent switches
// with the autostart task selected (checked or grayed) or deselected.
std::wstring SetupCommandLine(const std::wstring& setupPath, bool autostart);

}  // namespace rvz
