// Paths, files, the work directory and started processes.
#pragma once

#include <cstdint>
#include <string>

namespace rvz {

// --- Text and path routines (portable) ---

// The text without its last `count` characters; the whole text for a count
// of 0 or less. Throws std::invalid_argument when count exceeds the length.
std::wstring CutRight(const std::wstring& text, std::int16_t count);

// The text without leading and trailing blanks (space characters only).
std::wstring Trim(const std::wstring& text);

// The path up to and including its last backslash; empty without one.
// Only the backslash separates. Throws std::overflow_error for a backslash
// at character 32767 or later, beyond any valid Windows path.
std::wstring GetDirectoryPart(const std::wstring& path);

// The part after the last backslash: the whole path without one, the empty
// text when the path ends with one.
std::wstring GetFileNamePart(const std::wstring& path);

#ifdef _WIN32
}  // namespace rvz

#include "Handles.h"

namespace rvz {

// --- Windows operations ---

// The security of the work directory: administrators and the system may
// change it, other users only read it; nothing is inherited from the user's
// temporary folder, because the elevated loader runs what it downloads there.
UniqueLocal WorkDirectorySecurity();

// A new, empty directory named by Windows with the prefix "tkt" in the
// user's temporary folder (full path, no trailing backslash). Only the
// system and administrators may write into it. Throws on failure.
std::wstring CreateTempDirectory();

// Removes the directory with everything in it, as far as possible: what is
// still in use stays. Never throws; true when nothing is left.
bool RemoveWorkDirectory(const std::wstring& path);

// Starts the command line and returns when that process has ended, or at
// once when it could not be started. Window messages are dispatched while
// it waits. Never throws.
void RunAndWait(const std::wstring& commandLine);

// True when a file (of any length) exists at the path. Never throws.
bool FileExists(const std::wstring& path);

#endif

}  // namespace rvz
