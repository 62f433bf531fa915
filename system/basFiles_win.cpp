// The Windows half of basFiles: the work directory, the file probe and the
// started processes.
#include "basFiles.h"

#include "GrowingRead.h"
#include "Handles.h"
#include "WinError.h"

#include <aclapi.h>
#include <ntsecapi.h>
#include <sddl.h>

#include <algorithm>
#include <cwchar>
#include <utility>
#include <vector>

namespace rvz {

namespace {

// Administrators and the system may change the work directory; other users
// may only read it. Not inherited from the folder it lies in, because the
// elevated loader runs what it downloads into it.
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
// in GetLastError when Windows refuses. Suspended, it runs only once resumed;
// with a token, as that token's user, with that user's environment.
bool CreateShownProcess(const std::wstring& program, const std::wstring& commandLine,
                        bool suspended, const std::wstring& folder, HANDLE token,
                        ProcessHandles& started) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;  // both calls may write into it
    const DWORD flags = NORMAL_PRIORITY_CLASS | (suspended ? CREATE_SUSPENDED : 0);
    const wchar_t* current = folder.empty() ? nullptr : folder.c_str();
    const BOOL created =
        token ? ::CreateProcessWithTokenW(token, 0, program.c_str(), line.data(), flags, nullptr,
                                          current, &startup, &info)
              : ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, flags,
                                 nullptr, current, &startup, &info);
    if (!created) return false;
    started = ProcessHandles::Adopt(info);
    return true;
}

// The errors of a program file that something else has open for a moment.
bool IsLockedFileError(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// Repeats the attempt while it fails because the file is locked, for up to
// kLockedStartPatience, the pauses growing from 50 ms to kLongestStartPause
// and dispatching messages. False, with the last error in GetLastError, when
// it fails otherwise or the patience is over.
template <typename Attempt>
bool TryWhileLocked(DispatchingWait& wait, Attempt attempt) {
    const ULONGLONG giveUp = ::GetTickCount64() + kLockedStartPatience;
    DWORD pause = 50;
    while (!attempt()) {
        const DWORD error = ::GetLastError();
        const ULONGLONG now = ::GetTickCount64();
        if (!IsLockedFileError(error) || now >= giveUp) {
            ::SetLastError(error);
            return false;
        }
        wait.For(nullptr, static_cast<DWORD>(std::min<ULONGLONG>(pause, giveUp - now)));
        pause = std::min(pause * 2, kLongestStartPause);
    }
    return true;
}

// How the loader opens what it may remove: never through a link at the
// entry's own name (a link is opened as itself), and without letting others
// delete or rename it meanwhile. A folder is opened for listing as well.
UniqueFile OpenEntry(const std::wstring& path, bool folder) {
    const DWORD access = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | READ_CONTROL |
                         SYNCHRONIZE | (folder ? FILE_LIST_DIRECTORY : 0);
    return UniqueFile(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
}

LONGLONG FileIdOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return static_cast<LONGLONG>((static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) |
                                 info.nFileIndexLow);
}

// Whether two handles name the same file (volume and file id).
bool SameFile(HANDLE first, HANDLE second) {
    BY_HANDLE_FILE_INFORMATION a;
    BY_HANDLE_FILE_INFORMATION b;
    return ::GetFileInformationByHandle(first, &a) && ::GetFileInformationByHandle(second, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && FileIdOf(a) == FileIdOf(b);
}

// One entry of a folder, listed through the folder's handle.
struct FolderEntry {
    std::wstring name;
    DWORD attributes = 0;
    LONGLONG id = 0;  // the file id, as GetFileInformationByHandle gives it
};

// The entries of an open folder (FILE_LIST_DIRECTORY), without "." and "..".
// Throws only std::bad_alloc.
std::vector<FolderEntry> ListEntries(HANDLE folder) {
    std::vector<FolderEntry> entries;
    std::vector<LONGLONG> buffer(8192);  // 64 kB, aligned for the records
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(LONGLONG));
    FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
    while (::GetFileInformationByHandleEx(folder, request, buffer.data(), size)) {
        request = FileIdBothDirectoryInfo;
        auto* record = reinterpret_cast<const BYTE*>(buffer.data());
        for (;;) {
            const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(record);
            std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..")
                entries.push_back({std::move(name), info->FileAttributes, info->FileId.QuadPart});
            if (info->NextEntryOffset == 0) break;
            record += info->NextEntryOffset;
        }
    }
    return entries;
}

// Deletes what the handle names (opened with DELETE): a file's name, a
// link itself, an empty folder. Gone once the last handle to it closes.
bool MarkDeleted(HANDLE entry) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return ::SetFileInformationByHandle(entry, FileDispositionInfo, &disposition,
                                        sizeof(disposition)) != FALSE;
}

// Windows deletes no read-only file or folder. Only what has no other name
// may lose the attribute: a hard link shares it with a file elsewhere.
bool ClearReadOnly(HANDLE entry, const BY_HANDLE_FILE_INFORMATION& info) {
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) return true;
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && info.nNumberOfLinks > 1) return false;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

bool RemoveListedEntry(const std::wstring& folder, const FolderEntry& listed, OwnerCheck isLoaders);

// Removes what an open folder holds, as far as possible; true when it is empty.
bool EmptyFolder(HANDLE folder, const std::wstring& path, const wchar_t* keep = nullptr) {
    bool emptied = true;
    for (const FolderEntry& entry : ListEntries(folder)) {
        if (keep && ::CompareStringOrdinal(entry.name.c_str(), -1, keep, -1, TRUE) == CSTR_EQUAL)
            continue;
        emptied = RemoveListedEntry(path, entry, nullptr) && emptied;
    }
    return emptied;
}

// Removes a listed entry by handle, if it still is what was listed.
bool RemoveListedEntry(const std::wstring& folder, const FolderEntry& listed, OwnerCheck isLoaders) {
    const bool listedLink = listed.attributes & FILE_ATTRIBUTE_REPARSE_POINT;
    const std::wstring path = folder + L"\\" + listed.name;
    const UniqueFile entry = OpenEntry(path, (listed.attributes & FILE_ATTRIBUTE_DIRECTORY) && !listedLink);
    if (!entry) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(entry.get(), &info)) return false;
    const bool link = info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
    // Listed as a link but opened as none: the open went through it, as a
    // file system that cannot open a link as itself does. Left alone.
    if (listedLink && !link) return false;
    // Not what was listed any more: whatever took its name is not touched.
    if (!link && FileIdOf(info) != listed.id) return false;
    if (isLoaders && !isLoaders(entry.get())) return false;
    if (!link && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !EmptyFolder(entry.get(), path))
        return false;
    return ClearReadOnly(entry.get(), info) && MarkDeleted(entry.get());
}

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

// SetDefaultDllDirectories from the module, where it has it: Windows 7 has it
// only with update KB2533623, so the loader must not import it.
SetDefaultDllDirectoriesFn FindSetDefaultDllDirectories(HMODULE provider) {
    return FunctionOf<SetDefaultDllDirectoriesFn>(provider, "SetDefaultDllDirectories");
}

// Whether the (suspended) process was made from the held file: the file its
// image names now, opened afresh, is that file.
bool IsImageOf(HANDLE process, HANDLE held) {
    const std::optional<std::wstring> name = ReadGrowing([&](wchar_t* buffer, size_t size) -> size_t {
        DWORD length = static_cast<DWORD>(size);
        if (::QueryFullProcessImageNameW(process, 0, buffer, &length)) return length + 1;
        return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER ? size * 2 : 0;
    });
    if (!name) return false;
    const UniqueFile image(::CreateFileW(name->c_str(), FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    return image && SameFile(image.get(), held);
}

// A folder as GetSystemDirectory and GetSystemWindowsDirectory give it: they
// return the text's length when it fits, else the room it needs.
template <typename GetFolder>
std::optional<std::wstring> ReadSystemFolder(GetFolder getFolder) {
    return ReadGrowing([&](wchar_t* buffer, size_t size) -> size_t {
        const UINT length = getFolder(buffer, static_cast<UINT>(size));
        if (length == 0) return 0;
        return length < size ? length + 1 : length;
    });
}

std::wstring MarkerPath(const std::wstring& directory) {
    return directory + L"\\" + kWorkDirectoryMarker;
}

// Tries up to `attempts` times, a short pause apart, until the attempt
// succeeds: a program that has just ended may hold its files, or its
// current folder, for a moment.
template <typename Attempt>
bool TryAgainAWhile(int attempts, Attempt attempt) {
    for (int tried = 0; tried < attempts; ++tried) {
        if (tried > 0) ::Sleep(100);
        if (attempt()) return true;
    }
    return false;
}

// Removes a marked work directory whose marker (opened with DELETE) the
// caller holds and whose folder handle lists it: everything but the marker
// first, tried as often as given a short pause apart, because a program that
// has just ended may hold its own file for a moment; so what cannot go yet
// stays marked as the loader's. Then the marker goes, released. True when
// the folder is empty; the caller removes the folder itself.
bool EmptyMarkedDirectory(HANDLE folder, const std::wstring& path, UniqueFile& marker, int attempts) {
    const bool emptied =
        TryAgainAWhile(attempts, [&] { return EmptyFolder(folder, path, kWorkDirectoryMarker); });
    if (emptied) MarkDeleted(marker.get());
    marker.reset();
    return emptied;
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

std::wstring LoaderTempFolder() {
    const std::optional<std::wstring> windows = ReadSystemFolder(::GetSystemWindowsDirectoryW);
    if (!windows) ThrowLastError(L"GetSystemWindowsDirectory");
    return *windows + L"\\Temp\\";
}

bool IsAdministratorsOrSystem(PSID sid) noexcept {
    return sid && ::IsValidSid(sid) &&
           (::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
            ::IsWellKnownSid(sid, WinLocalSystemSid));
}

bool MadeByAdministrators(HANDLE object) noexcept {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                          nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const UniqueLocal owned(descriptor);
    return IsAdministratorsOrSystem(owner);
}

UniqueLocal SecurityOf(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        ThrowLastError(L"ConvertStringSecurityDescriptorToSecurityDescriptor");
    return UniqueLocal(descriptor);
}

UniqueLocal WorkDirectorySecurity() { return SecurityOf(kWorkDirectorySddl); }

std::wstring CreateTempDirectory(const std::wstring& folder) {
    const UniqueLocal descriptor = WorkDirectorySecurity();
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
    for (int attempt = 0; attempt < 100; ++attempt) {
        ULONG random = 0;
        if (!::RtlGenRandom(&random, sizeof(random))) ThrowLastError(L"RtlGenRandom");
        wchar_t name[16];
        std::swprintf(name, 16, L"tkt%08lx.tmp", random);
        const std::wstring path = folder + name;
        // Fails for any name that exists, as whatever: nothing foreign is reused.
        if (::CreateDirectoryW(path.c_str(), &attributes)) return path;
        const DWORD code = ::GetLastError();
        if (code != ERROR_ALREADY_EXISTS) {
            // Missing, a file, or closed to us: the folder itself is unusable.
            throw TempFolderError(code, DescribeError(L"CreateDirectory " + path, code), folder);
        }
    }
    throw TempFolderError(ERROR_ALREADY_EXISTS,
                          DescribeError(L"CreateDirectory " + folder + L"tkt*.tmp", ERROR_ALREADY_EXISTS),
                          folder);
}

// The moved-from object must own no path, or it would remove the directory.
WorkDirectory::WorkDirectory(WorkDirectory&& other) noexcept
    : path_(std::exchange(other.path_, {})),
      folder_(std::move(other.folder_)),
      marker_(std::move(other.marker_)) {}

WorkDirectory::~WorkDirectory() { Remove(); }

bool WorkDirectory::Remove() noexcept {
    if (path_.empty()) return true;
    const std::wstring path = std::exchange(path_, {});
    try {
        BY_HANDLE_FILE_INFORMATION own;
        const bool known = ::GetFileInformationByHandle(folder_.get(), &own) != FALSE;
        // Twenty tries a short pause apart: the setup may just have ended.
        const bool emptied = EmptyMarkedDirectory(folder_.get(), path, marker_, 20);
        // The held handle lets nobody delete the folder, this loader neither.
        folder_.reset();
        if (!emptied || !known) return false;
        const size_t cut = path.rfind(L'\\');
        const FolderEntry self{path.substr(cut + 1), FILE_ATTRIBUTE_DIRECTORY, FileIdOf(own)};
        // The setup ran in it: its current folder may outlive it a moment.
        return TryAgainAWhile(20, [&] { return RemoveListedEntry(path.substr(0, cut), self, nullptr); });
    } catch (...) {
        folder_.reset();
        marker_.reset();
        return false;
    }
}

WorkDirectory CreateWorkDirectory(const std::wstring& folder) {
    WorkDirectory directory;
    directory.path_ = CreateTempDirectory(folder);
    // Held for listing, sharing all but deletion: it cannot be renamed or
    // replaced meanwhile, and a setup may still take it as its current folder.
    directory.folder_.reset(::CreateFileW(
        directory.path_.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!directory.folder_) ThrowLastError(L"CreateFile " + directory.path_);
    // Not shared at all and not inherited by the setup: while this handle
    // lives, no other loader can open the marker, which says "in use".
    directory.marker_.reset(::CreateFileW(MarkerPath(directory.path_).c_str(), GENERIC_READ | DELETE,
                                          0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!directory.marker_) ThrowLastError(L"CreateFile " + MarkerPath(directory.path_));
    return directory;
}

int RemoveAbandonedWorkDirectories(const std::wstring& folder, OwnerCheck isLoaders) noexcept {
    int removed = 0;
    try {
        for (const WIN32_FIND_DATAW& found : FindEntries(folder + L"tkt*.tmp")) {
            // A link could lead the elevated loader anywhere: only real folders.
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
                (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                !IsWorkDirectoryName(found.cFileName))
                continue;
            const std::wstring directory = folder + found.cFileName;
            const UniqueFile held = OpenEntry(directory, true);
            BY_HANDLE_FILE_INFORMATION info;
            // Anybody may make a folder of that name with a marker in it:
            // only what administrators made is the loader's.
            if (!held || !::GetFileInformationByHandle(held.get(), &info) ||
                (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !isLoaders(held.get()))
                continue;
            // Opening the marker without sharing succeeds only when no other
            // handle holds it: its loader has ended. No marker: not ours.
            UniqueFile marker(::CreateFileW(MarkerPath(directory).c_str(), GENERIC_READ | DELETE, 0,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                            nullptr));
            // Files still in use belong to a program that outlived its loader: next time.
            if (marker && EmptyMarkedDirectory(held.get(), directory, marker, 1) && MarkDeleted(held.get()))
                ++removed;
        }
    } catch (...) {
        // Clearing up after others must never stop this loader.
    }
    return removed;
}

bool RemoveOwnFile(const std::wstring& path, OwnerCheck isLoaders) noexcept {
    try {
        const UniqueFile file = OpenEntry(path, false);
        BY_HANDLE_FILE_INFORMATION info;
        if (!file || !::GetFileInformationByHandle(file.get(), &info)) return false;
        if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
            info.nNumberOfLinks != 1 || !isLoaders(file.get()))
            return false;
        return ClearReadOnly(file.get(), info) && MarkDeleted(file.get());
    } catch (...) {
        return false;
    }
}

UniqueFile HoldFile(const std::wstring& path) {
    DispatchingWait wait;
    UniqueFile file;
    // Read sharing only: nobody may write, delete or rename it now.
    const bool held = TryWhileLocked(wait, [&] {
        file.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        return static_cast<bool>(file);
    });
    BY_HANDLE_FILE_INFORMATION info;
    if (!held || !::GetFileInformationByHandle(file.get(), &info)) return UniqueFile();
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return UniqueFile();
    }
    return file;
}

RunResult RunAndWait(const std::wstring& program, const std::wstring& commandLine,
                     const RunOptions& options) {
    RunResult result;
    try {
        DispatchingWait wait;
        ProcessHandles process;
        const bool check = options.image != nullptr;
        if (!TryWhileLocked(wait, [&] {
                return CreateShownProcess(program, commandLine, check, options.folder, nullptr, process);
            })) {
            result.error = ::GetLastError();
            return result;
        }
        if (check) {
            const bool same = IsImageOf(process.process.get(), options.image);
            // Never left suspended: a thread that cannot run would be waited for without end.
            if (!same || ::ResumeThread(process.thread.get()) == static_cast<DWORD>(-1)) {
                result.error = same ? ::GetLastError() : ERROR_ACCESS_DENIED;
                ::TerminateProcess(process.process.get(), result.error);
                ::WaitForSingleObject(process.process.get(), INFINITE);
                result.replaced = !same;
                return result;
            }
        }
        result = RunResult{true, false, 0, WaitForProcess(process.process.get())};
    } catch (...) {
        // Only copying the command line can fail here: nothing was started.
        if (!result.started) result.error = ERROR_NOT_ENOUGH_MEMORY;
    }
    return result;
}

DWORD WaitForProcess(HANDLE process) noexcept {
    DWORD exitCode = 0;
    try {
        DispatchingWait wait;
        wait.For(process, INFINITE);
    } catch (...) {
        // Only the wait's own bookkeeping could throw: the process is asked below.
    }
    ::GetExitCodeProcess(process, &exitCode);
    return exitCode;
}

void StartProgram(const std::wstring& program, const std::wstring& commandLine, HANDLE token) {
    ProcessHandles started;  // not kept: the program runs on its own
    if (!CreateShownProcess(program, commandLine, false, {}, token, started))
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
    return ReadSystemFolder(::GetSystemDirectoryW).value_or(std::wstring());
}

std::optional<std::wstring> ModuleFileName(HMODULE module) {
    return ReadGrowing([&](wchar_t* buffer, size_t size) -> size_t {
        const DWORD length = ::GetModuleFileNameW(module, buffer, static_cast<DWORD>(size));
        if (length == 0) return 0;
        // Cut off, it returns the size and does not say what it needs.
        return length < size ? length + 1 : size * 2;
    });
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

std::wstring ModulePath() {
    const std::optional<std::wstring> path = ModuleFileName(nullptr);
    if (!path) ThrowLastError(L"GetModuleFileName");
    return *path;
}

bool FileExists(const std::wstring& path) {
    if (path.empty()) return false;
    WIN32_FILE_ATTRIBUTE_DATA data;
    return ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
           !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace rvz
