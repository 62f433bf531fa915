// The Windows half of basFiles: the work directory, the file probe and the
// started processes.
#include "basFiles.h"

#include "Handles.h"
#include "WinError.h"

#include <sddl.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace rvz {

namespace {

// Administrators and the system may change the work directory; other users
// may only read it. Not inherited from the user's temporary folder, because
// the elevated loader runs what it downloads into it.
constexpr wchar_t kWorkDirectorySddl[] =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";

// How long a start refused by a locked program file is tried again, and the
// longest pause between two tries.
constexpr ULONGLONG kLockedStartPatience = 30000;
constexpr DWORD kLongestStartPause = 2000;

// Waits while dispatching window messages, so that the loader's windows stay
// alive. A quit request is kept for the caller's message loop, which must
// still see it after the wait.
class DispatchingWait {
public:
    DispatchingWait() = default;
    DispatchingWait(const DispatchingWait&) = delete;
    DispatchingWait& operator=(const DispatchingWait&) = delete;
    ~DispatchingWait() {
        if (quitSeen_) ::PostQuitMessage(static_cast<int>(quitCode_));
    }

    // Sleeps until the handle is signalled (true) or the time has passed
    // (false); without a handle, for the time only.
    bool For(HANDLE handle, DWORD milliseconds) {
        const DWORD count = handle ? 1 : 0;
        const ULONGLONG end = ::GetTickCount64() + milliseconds;
        for (;;) {
            const ULONGLONG now = ::GetTickCount64();
            const DWORD left = milliseconds == INFINITE ? INFINITE
                                                        : static_cast<DWORD>(end > now ? end - now : 0);
            const DWORD result =
                ::MsgWaitForMultipleObjectsEx(count, &handle, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            if (result != WAIT_OBJECT_0 + count) return count == 1 && result == WAIT_OBJECT_0;
            DispatchPending();
        }
    }

private:
    void DispatchPending() {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quitSeen_ = true;
                quitCode_ = msg.wParam;
                continue;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }

    bool quitSeen_ = false;
    WPARAM quitCode_ = 0;
};

// Starts a process shown normally; false with the system's error code left
// in GetLastError when Windows refuses. A null program lets Windows take it
// from the command line.
bool CreateShownProcess(const wchar_t* program, const std::wstring& commandLine, bool inheritHandles,
                        ProcessHandles& started) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;  // CreateProcessW may write into it
    if (!::CreateProcessW(program, line.data(), nullptr, nullptr, inheritHandles ? TRUE : FALSE,
                          NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &info))
        return false;
    started = ProcessHandles::Adopt(info);
    return true;
}

// The errors of a program file that something else has open for a moment.
bool IsLockedFileError(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

void DeleteTree(const std::wstring& folder);

// Deletes one entry of a folder as far as possible: a file, a link (removed,
// never followed, so only the folder's own files go) or a folder with what
// it holds.
void DeleteEntry(const std::wstring& path, DWORD attributes) {
    // Windows removes no read-only file or folder.
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        DeleteTree(path);
        return;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        ::RemoveDirectoryW(path.c_str());
    else
        ::DeleteFileW(path.c_str());
}

// Deletes what is in the folder and the folder, as far as possible.
void DeleteTree(const std::wstring& folder) {
    for (const WIN32_FIND_DATAW& entry : FindEntries(folder + L"\\*"))
        DeleteEntry(folder + L"\\" + entry.cFileName, entry.dwFileAttributes);
    ::RemoveDirectoryW(folder.c_str());
}

// Deletes the files and folders (with all they hold), trying as often as
// given with a short pause, because a program that has just ended may hold
// its own file for a moment. True when none of them is left.
bool RemovePaths(const std::vector<std::wstring>& paths, int attempts) {
    const auto exists = [](const std::wstring& path) {
        return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    };
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0) ::Sleep(100);
        for (const std::wstring& path : paths) {
            const DWORD attributes = ::GetFileAttributesW(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES) DeleteEntry(path, attributes);
        }
        if (std::none_of(paths.begin(), paths.end(), exists)) return true;
    }
    return false;
}

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

// SetDefaultDllDirectories from the module, where it has it: Windows 7 has it
// only with update KB2533623, so the loader must not import it.
SetDefaultDllDirectoriesFn FindSetDefaultDllDirectories(HMODULE provider) {
    return FunctionOf<SetDefaultDllDirectoriesFn>(provider, "SetDefaultDllDirectories");
}

std::wstring MarkerPath(const std::wstring& directory) {
    return directory + L"\\" + kWorkDirectoryMarker;
}

// Removes a marked work directory whose marker the caller holds: everything
// but the marker first, so that what cannot go yet stays marked as the
// loader's; then the marker, released, and the directory.
bool RemoveMarkedDirectory(const std::wstring& directory, UniqueFile& marker, int attempts) {
    std::vector<std::wstring> contents;
    for (const WIN32_FIND_DATAW& entry : FindEntries(directory + L"\\*")) {
        if (::CompareStringOrdinal(entry.cFileName, -1, kWorkDirectoryMarker, -1, TRUE) != CSTR_EQUAL)
            contents.push_back(directory + L"\\" + entry.cFileName);
    }
    const bool emptied = RemovePaths(contents, attempts);
    marker.reset();
    if (!emptied) return false;
    ::DeleteFileW(MarkerPath(directory).c_str());
    return ::RemoveDirectoryW(directory.c_str()) != FALSE;
}

// Whether a name found by the pattern tkt*.tmp really is one: the pattern
// also matches long names through their short 8.3 names.
bool IsWorkDirectoryName(const std::wstring& name) {
    return name.size() >= 7 &&
           ::CompareStringOrdinal(name.c_str(), 3, L"tkt", 3, TRUE) == CSTR_EQUAL &&
           ::CompareStringOrdinal(name.c_str() + name.size() - 4, 4, L".tmp", 4, TRUE) == CSTR_EQUAL;
}

}  // namespace

TempFolderError::TempFolderError(DWORD code, const std::string& what, std::wstring folder)
    : WinError(code, what), folder_(std::move(folder)) {}

std::wstring UserTempFolder() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) ThrowLastError(L"GetTempPath");
    return std::wstring(folder, length);
}

UniqueLocal WorkDirectorySecurity() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kWorkDirectorySddl, SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        ThrowLastError(L"ConvertStringSecurityDescriptorToSecurityDescriptor");
    return UniqueLocal(descriptor);
}

std::wstring CreateTempDirectory() {
    const std::wstring folder = UserTempFolder();
    wchar_t name[MAX_PATH];
    if (!::GetTempFileNameW(folder.c_str(), L"tkt", 0, name)) {
        // Missing, a file, or closed to us: the folder itself is unusable.
        const DWORD code = ::GetLastError();
        throw TempFolderError(code, DescribeError(L"GetTempFileName " + folder, code), folder);
    }
    // Windows reserved the name by creating a file; the directory takes its place.
    if (!::DeleteFileW(name)) ThrowLastError(std::wstring(L"DeleteFile ") + name);

    const UniqueLocal descriptor = WorkDirectorySecurity();
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    // Fails if anything took the name in between: never reuse a foreign directory.
    if (!::CreateDirectoryW(name, &attributes)) ThrowLastError(std::wstring(L"CreateDirectory ") + name);
    return name;
}

// The moved-from object must own no path, or it would remove the directory.
WorkDirectory::WorkDirectory(WorkDirectory&& other) noexcept
    : path_(std::exchange(other.path_, {})), marker_(std::move(other.marker_)) {}

WorkDirectory::~WorkDirectory() { Remove(); }

bool WorkDirectory::Remove() noexcept {
    if (path_.empty()) return true;
    const std::wstring path = std::exchange(path_, {});
    try {
        // Twenty tries a short pause apart: the setup may just have ended.
        return RemoveMarkedDirectory(path, marker_, 20);
    } catch (...) {
        marker_.reset();
        return false;
    }
}

WorkDirectory CreateWorkDirectory() {
    WorkDirectory directory;
    directory.path_ = CreateTempDirectory();
    // Not shared at all and not inherited by the setup: while this handle
    // lives, no other loader can open the marker, which says "in use".
    directory.marker_.reset(::CreateFileW(MarkerPath(directory.path_).c_str(), GENERIC_READ, 0,
                                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!directory.marker_) ThrowLastError(L"CreateFile " + MarkerPath(directory.path_));
    return directory;
}

int RemoveAbandonedWorkDirectories() noexcept {
    int removed = 0;
    try {
        const std::wstring folder = UserTempFolder();
        for (const WIN32_FIND_DATAW& entry : FindEntries(folder + L"tkt*.tmp")) {
            const DWORD attributes = entry.dwFileAttributes;
            // A link could lead the elevated loader anywhere: only real folders.
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                !IsWorkDirectoryName(entry.cFileName))
                continue;
            const std::wstring directory = folder + entry.cFileName;
            // Opening the marker without sharing succeeds only when no other
            // handle holds it: its loader has ended. No marker: not ours.
            UniqueFile marker(::CreateFileW(MarkerPath(directory).c_str(), GENERIC_READ, 0, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            // Files still in use belong to a program that outlived its loader: next time.
            if (marker && RemoveMarkedDirectory(directory, marker, 1)) ++removed;
        }
    } catch (...) {
        // Clearing up after others must never stop this loader.
    }
    return removed;
}

RunResult RunAndWait(const std::wstring& commandLine) {
    RunResult result;
    try {
        DispatchingWait wait;
        const ULONGLONG giveUp = ::GetTickCount64() + kLockedStartPatience;
        DWORD pause = 50;
        ProcessHandles process;
        while (!CreateShownProcess(nullptr, commandLine, true, process)) {
            result.error = ::GetLastError();
            const ULONGLONG now = ::GetTickCount64();
            if (!IsLockedFileError(result.error) || now >= giveUp) return result;
            wait.For(nullptr, static_cast<DWORD>(std::min<ULONGLONG>(pause, giveUp - now)));
            pause = std::min(pause * 2, kLongestStartPause);
        }
        result = RunResult{true, 0, 0};
        // Sleeps until the process ends or a message arrives: no polling.
        wait.For(process.process.get(), INFINITE);
        ::GetExitCodeProcess(process.process.get(), &result.exitCode);
    } catch (...) {
        // Only copying the command line can fail here: nothing was started.
        if (!result.started) result.error = ERROR_NOT_ENOUGH_MEMORY;
    }
    return result;
}

void StartProgram(const std::wstring& program, const std::wstring& commandLine) {
    ProcessHandles started;  // not kept: the program runs on its own
    if (!CreateShownProcess(program.c_str(), commandLine, false, started))
        ThrowLastError(L"Could not start " + commandLine);
}

void RestrictDllSearch() noexcept { RestrictDllSearch(::GetModuleHandleW(L"kernel32.dll")); }

void RestrictDllSearch(HMODULE provider) noexcept {
    const auto setDefaultDllDirectories = FindSetDefaultDllDirectories(provider);
    if (setDefaultDllDirectories && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // Windows 7 without update KB2533623: at least the current folder leaves
    // the search. A DLL directory takes its place; the system folder, searched
    // anyway, adds nothing. Windows does the same for the empty text, Wine
    // only for a folder.
    ::SetDllDirectoryW(SystemFolder().c_str());
}

std::wstring SystemFolder() noexcept {
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

UniqueModule LoadLibraryFromPath(const std::wstring& path) noexcept {
    return LoadLibraryFromPath(path, ::GetModuleHandleW(L"kernel32.dll"));
}

UniqueModule LoadLibraryFromPath(const std::wstring& path, HMODULE provider) noexcept {
    // The update that brings SetDefaultDllDirectories brings the search flags.
    const DWORD flags = FindSetDefaultDllDirectories(provider) ? LOAD_LIBRARY_SEARCH_SYSTEM32
                                                               : LOAD_WITH_ALTERED_SEARCH_PATH;
    return UniqueModule(::LoadLibraryExW(path.c_str(), nullptr, flags));
}

UniqueModule LoadSystemLibrary(const wchar_t* name) noexcept {
    const std::wstring folder = SystemFolder();
    // Never a bare name, nor one from the current drive's root.
    if (folder.empty()) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return UniqueModule();
    }
    return LoadLibraryFromPath(folder + L"\\" + name);
}

std::vector<WIN32_FIND_DATAW> FindEntries(const std::wstring& pattern) {
    std::vector<WIN32_FIND_DATAW> entries;
    WIN32_FIND_DATAW data;
    const UniqueFind find(::FindFirstFileW(pattern.c_str(), &data));
    if (!find) return entries;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") entries.push_back(data);
    } while (::FindNextFileW(find.get(), &data));
    return entries;
}

bool FileExists(const std::wstring& path) {
    if (path.empty()) return false;
    WIN32_FILE_ATTRIBUTE_DATA data;
    return ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
           !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace rvz
