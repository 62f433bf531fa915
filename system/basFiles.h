// Paths, files, the work directory and started processes.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace rvz {

// --- Text and path routines (portable) ---

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
#include "WinError.h"

namespace rvz {

// --- Windows operations ---

// A security descriptor written in SDDL, for SECURITY_ATTRIBUTES. Throws
// WinError.
UniqueLocal SecurityOf(const wchar_t* sddl);

// The security of the work directory: administrators and the system may
// change it, other users only read it; nothing is inherited from the folder
// it lies in, because the elevated loader runs what it downloads there.
UniqueLocal WorkDirectorySecurity();

// The folder the loader's work directories and logs lie in could not be
// used: it is missing, is a file, or takes no new entry (no rights, disk
// full). folder() is the folder as the loader names it (with a trailing
// backslash), so that a message can name it.
class TempFolderError : public WinError {
public:
    TempFolderError(DWORD code, const std::string& what, std::wstring folder);
    const std::wstring& folder() const noexcept { return folder_; }

private:
    std::wstring folder_;
};

// The Temp folder of the Windows folder, ending in a backslash: the loader's
// place for its work directories and logs. Only administrators and the
// system may change it and what they made in it, and the Windows folder
// comes from the system, not from TMP or TEMP, which every program of the
// user can change. Throws WinError.
std::wstring LoaderTempFolder();

// True for the administrators group and the system account: the owners of
// what an elevated loader or the system made.
bool IsAdministratorsOrSystem(PSID sid) noexcept;

// Whether the file or folder behind the handle (opened with READ_CONTROL)
// was made by administrators or the system, by its owner. What anybody else
// made is never the loader's to remove, whatever its name or content.
bool MadeByAdministrators(HANDLE object) noexcept;

// Decides for a handle whether what it names is the loader's own.
using OwnerCheck = bool (*)(HANDLE) noexcept;

// A new, empty directory "tkt<random hex>.tmp" in the folder (full path,
// no trailing backslash), which only the system and administrators may
// change. A name that exists already, as whatever, is never opened: another
// random name is tried. Throws TempFolderError when the folder cannot be
// used, WinError for any other failure.
std::wstring CreateTempDirectory(const std::wstring& folder);

// The name of the marker file that makes a work directory the loader's own.
constexpr wchar_t kWorkDirectoryMarker[] = L"RAVoduza.lock";

// The loader's work directory, marked as the loader's own: it holds the
// marker file kWorkDirectoryMarker, which this object keeps open without
// sharing for as long as it lives. A held marker tells every other loader
// that the directory is in use; a marker nobody holds, that its owner is gone
// (see RemoveAbandonedWorkDirectories). The directory itself is held open
// too, without delete sharing, so that it cannot be renamed or swapped while
// the loader works in it. Neither handle is inherited by the programs the
// loader starts, so a setup that outlives its loader does not keep the
// directory marked as in use. Move-only. Destroying the object removes the
// directory (as Remove does).
class WorkDirectory {
public:
    WorkDirectory() = default;  // none: Remove does nothing
    WorkDirectory(WorkDirectory&& other) noexcept;
    WorkDirectory& operator=(WorkDirectory&&) = delete;
    ~WorkDirectory();

    // Full path without a trailing backslash; empty once removed.
    const std::wstring& path() const noexcept { return path_; }

    // Removes everything in the directory but the marker, waiting a short
    // moment for files that a program which has just ended still holds; then
    // releases the marker and removes it and the directory. Links are
    // removed as themselves, never followed. What is still in use stays, and
    // then the marker stays too, so that a later loader removes the rest.
    // True when nothing is left. Never throws; once called, the object owns
    // nothing.
    bool Remove() noexcept;

private:
    friend WorkDirectory CreateWorkDirectory(const std::wstring& folder);
    std::wstring path_;
    UniqueFile folder_;
    UniqueFile marker_;
};

// A new work directory made by CreateTempDirectory in the folder and marked
// as the loader's own. Throws as CreateTempDirectory does, and WinError when
// the marker cannot be made (the directory is then removed again).
WorkDirectory CreateWorkDirectory(const std::wstring& folder);

// Removes the work directories that earlier loaders left in the folder:
// folders named tkt*.tmp that the owner check accepts and that hold the
// marker file, which no process holds open any more. Folders that others
// made, or without the marker, are never touched, nor links, nor directories
// of a running loader. Files still in use stay, and with them the directory
// and its marker, for a later loader to try again. Meant for the install
// road before it makes its own work directory. Returns how many directories
// were removed. Never throws.
int RemoveAbandonedWorkDirectories(const std::wstring& folder,
                                   OwnerCheck isLoaders = MadeByAdministrators) noexcept;

// Removes the file at the path by handle when it is the loader's own: a
// plain file, no link, with no other name (hard link), that the owner check
// accepts at the moment of removal. True when it was removed. Never throws.
bool RemoveOwnFile(const std::wstring& path, OwnerCheck isLoaders = MadeByAdministrators) noexcept;

// Opens an existing file for reading and denies others every write, delete
// and rename while the handle lives, so that what was checked stays what
// runs. A link is refused. A file that something else has open for a moment
// (a virus scanner) is tried again for up to 30 seconds. Invalid, with
// GetLastError set, when the file cannot be held.
UniqueFile HoldFile(const std::wstring& path);

// What became of a program that RunAndWait was asked to run.
struct RunResult {
    bool started = false;   // false: it did not run
    bool replaced = false;  // not started: the program was another file than the one held
    DWORD error = 0;        // when not started: the system's error code
    DWORD exitCode = 0;     // when started: the exit code it ended with
};

// What RunAndWait starts besides the command line.
struct RunOptions {
    // The program file, held open (HoldFile): the process is made suspended
    // and runs only when its image is this very file; otherwise it is ended
    // unrun. Null: not checked.
    HANDLE image = nullptr;
    // The started program's current folder; empty: the loader's own.
    std::wstring folder;
};

// Starts the program, named explicitly, with the command line (which begins
// with the program, as programs expect) and returns when that process has
// ended, or when it could not be started. A start refused because the
// program file is locked (a sharing violation or access denied, as while a
// virus scanner reads a fresh file) is tried again for up to 30 seconds, the
// pauses growing from 50 ms to 2 s; any other refusal (missing file, not a
// program) returns at once, as does the last refused try.
// Window messages are dispatched during every wait, which uses no processor
// time. Never throws.
RunResult RunAndWait(const std::wstring& program, const std::wstring& commandLine,
                     const RunOptions& options = {});

// Waits for the process to end, dispatching window messages meanwhile and
// using no processor time; its exit code. Never throws.
DWORD WaitForProcess(HANDLE process) noexcept;

// Starts the program with its window shown normally and returns without
// waiting. The program is named explicitly, so Windows never picks a program
// from the command line itself; the command line should begin with the
// program as its first word, as programs expect. With a token (a primary
// token, see DesktopUserToken), the program runs as that token's user, with
// that user's environment. Throws WinError naming the command line when the
// program cannot be started.
void StartProgram(const std::wstring& program, const std::wstring& commandLine, HANDLE token = nullptr);

// Takes the current folder out of the DLL search for the rest of the
// process: with SetDefaultDllDirectories where Windows has it (system folder
// only), otherwise with SetDllDirectory naming the system folder, which takes
// the current folder's place in the search. Looks the function up in
// kernel32 at run time, so the loader also starts on a Windows 7 without it.
// Never throws.
void RestrictDllSearch() noexcept;
// The same, looking SetDefaultDllDirectories up in the given module (a test
// passes one without it to take the older road).
void RestrictDllSearch(HMODULE provider) noexcept;

// The system folder without a trailing backslash; empty when Windows does
// not say (as good as never).
std::wstring SystemFolder() noexcept;

// The full path of the module's file (null: the program's), however long;
// nothing, with GetLastError set, when Windows does not say.
std::optional<std::wstring> ModuleFileName(HMODULE module);

// Loads a DLL by its full path. Its own imports come from the system folder
// only, where Windows has the search flags for that (LOAD_LIBRARY_SEARCH_*,
// which come with SetDefaultDllDirectories); elsewhere (Windows 7 without
// KB2533623, which refuses those flags) from the DLL's folder first, then
// the search that RestrictDllSearch left. Null, with GetLastError set, when
// the DLL cannot be loaded. Never throws.
UniqueModule LoadLibraryFromPath(const std::wstring& path) noexcept;
// The same, looking SetDefaultDllDirectories up in the given module.
UniqueModule LoadLibraryFromPath(const std::wstring& path, HMODULE provider) noexcept;
// Loads the system DLL `name` (say L"user32.dll") from the system folder, as
// LoadLibraryFromPath does. Null, with GetLastError set, when it cannot.
UniqueModule LoadSystemLibrary(const wchar_t* name) noexcept;

// The function `name` of `module` as a pointer of the type `Function`; null
// when the module (or the module's version) lacks it.
template <typename Function>
Function FunctionOf(HMODULE module, const char* name) noexcept {
    const FARPROC address = module ? ::GetProcAddress(module, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

// The full path of the running program, however long. Throws WinError.
std::wstring ModulePath();

// True when a file (of any length) exists at the path. Never throws.
bool FileExists(const std::wstring& path);

// The folder entries matching a FindFirstFile pattern (wildcards in its last
// part), without "." and ".."; none when nothing matches or the folder is
// missing. Throws only std::bad_alloc.
std::vector<WIN32_FIND_DATAW> FindEntries(const std::wstring& pattern);

#endif

}  // namespace rvz
