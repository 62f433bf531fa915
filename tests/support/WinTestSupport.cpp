#include "WinTestSupport.h"

#include "WinError.h"
#include "basFiles.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace rvztest {

namespace {

constexpr wchar_t kTarvikKey[] = L"SOFTWARE\\Brisolt\\Tarvik";
constexpr wchar_t kInfoKey[] = L"SOFTWARE\\Brisolt\\Tarvik\\Info";
constexpr REGSAM kView = KEY_WOW64_32KEY;

[[noreturn]] void Fail(const std::wstring& what) {
    throw std::runtime_error(Utf8(what) + " (error " + std::to_string(::GetLastError()) + ")");
}

void PumpOwnMessages() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

}  // namespace

std::string Utf8(const std::wstring& text) { return rvz::ToUtf8(text); }

std::wstring Wide(const std::string& utf8) { return rvz::FromUtf8(utf8); }

rvz::UniqueModule LoadAsData(const std::wstring& path) {
    return rvz::UniqueModule(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
}

std::wstring TestProgramFolder() {
    wchar_t path[MAX_PATH * 4];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring full(path, n);
    return full.substr(0, full.rfind(L'\\') + 1);
}

std::wstring BuildFolder() {
    std::wstring folder = TestProgramFolder();
    while (folder.size() > 3) {
        if (PathExists(folder + L"CMakeCache.txt")) return folder;
        folder = folder.substr(0, folder.rfind(L'\\', folder.size() - 2) + 1);
    }
    throw std::runtime_error("build folder not found");
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= end) return condition();
        PumpOwnMessages();
        ::Sleep(25);
    }
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring LoaderTempPath() {
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemWindowsDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) Fail(L"GetSystemWindowsDirectory");
    return std::wstring(folder, length) + L"\\Temp\\";
}

std::wstring TempPath() {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    return temp;
}

TempFolder::TempFolder(const std::wstring& nameHint) {
    static unsigned counter = 0;
    for (;;) {
        path_ = TempPath() + nameHint + L"-" + std::to_wstring(::GetCurrentProcessId()) +
                L"-" + std::to_wstring(++counter) + L"\\";
        if (::CreateDirectoryW(path_.c_str(), nullptr)) return;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) Fail(L"CreateDirectory " + path_);
    }
}

TempFolder::~TempFolder() { RemoveTree(path_); }

void RemoveTree(const std::wstring& path) {
    std::wstring name = path;
    if (!name.empty() && name.back() == L'\\') name.pop_back();
    const std::vector<WIN32_FIND_DATAW> found = rvz::FindEntries(name);
    if (found.empty()) return;
    const DWORD attributes = found.front().dwFileAttributes;
    // Wine deletes through a link: a link goes from the unix side.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        RunUnix(L"/bin/rm", L"-f " + Quoted(UnixPath(name)));
        WaitUntil([&] { return rvz::FindEntries(name).empty(); }, 5s);
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        for (const std::wstring& child : ListFolder(name + L"\\")) RemoveTree(name + L"\\" + child);
        ::RemoveDirectoryW(name.c_str());
    } else {
        ::SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(name.c_str());
    }
}

std::vector<std::wstring> ListFolder(const std::wstring& folder) {
    std::wstring pattern = folder;
    if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
    std::vector<std::wstring> names;
    for (const WIN32_FIND_DATAW& entry : rvz::FindEntries(pattern + L"*")) names.push_back(entry.cFileName);
    return names;
}

void CopyFileOrThrow(const std::wstring& from, const std::wstring& to) {
    if (!::CopyFileW(from.c_str(), to.c_str(), FALSE)) Fail(L"CopyFile " + from + L" -> " + to);
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    rvz::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) Fail(L"CreateFile " + path);
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        Fail(L"WriteFile " + path);
}

std::string ReadFileBytes(const std::wstring& path) {
    rvz::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

bool PathExists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// The test's own environment block with the extra entries appended; later
// entries of the same name win when Windows builds the child's environment.
std::wstring EnvironmentBlock(const std::vector<std::wstring>& extra) {
    std::wstring block;
    wchar_t* own = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = own; *entry; entry += wcslen(entry) + 1) {
        const std::wstring text = entry;
        const std::wstring name = text.substr(0, text.find(L'=', 1) + 1);
        bool replaced = false;
        for (const std::wstring& e : extra) replaced = replaced || e.rfind(name, 0) == 0;
        if (!replaced) block += text + L'\0';
    }
    ::FreeEnvironmentStringsW(own);
    for (const std::wstring& e : extra) block += e + L'\0';
    return block + L'\0';
}

}  // namespace

Process::Process(const std::wstring& commandLine, const std::wstring& folder, HANDLE token,
                 const std::vector<std::wstring>& environment, const std::wstring& program) {
    std::wstring block = environment.empty() ? std::wstring() : EnvironmentBlock(environment);
    void* env = environment.empty() ? nullptr : block.data();
    const DWORD flags = environment.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    const wchar_t* directory = folder.empty() ? nullptr : folder.c_str();
    const wchar_t* named = program.empty() ? nullptr : program.c_str();
    const auto start = [&] {
        std::wstring line = commandLine;
        return token ? ::CreateProcessAsUserW(token, named, line.data(), nullptr, nullptr, FALSE, flags,
                                              env, directory, &startup, &info)
                     : ::CreateProcessW(named, line.data(), nullptr, nullptr, FALSE, flags, env,
                                        directory, &startup, &info);
    };
    // Wine fails a start with ERROR_INTERNAL_ERROR when the new process died
    // before it was running, so before any of the program's code (seen once
    // in about a dozen CI runs, never on purpose). Nothing was tested: it is
    // said and started once more.
    BOOL started = start();
    if (!started && ::GetLastError() == ERROR_INTERNAL_ERROR) {
        std::fwprintf(stderr, L"Process: Wine could not start %ls; once more\n", commandLine.c_str());
        started = start();
    }
    if (!started) Fail(L"CreateProcess " + commandLine);
    handles_ = rvz::ProcessHandles::Adopt(info);
}

std::wstring UnixPath(const std::wstring& path) {
    // Wine's own export: Windows has no such thing, and the tests run under Wine.
    using UnixFileName = char*(__cdecl*)(const wchar_t*);
    const auto unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unixFileName ? unixFileName(path.c_str()) : nullptr;
    if (!name) Fail(L"wine_get_unix_file_name " + path);
    std::string unixName(name);
    ::HeapFree(::GetProcessHeap(), 0, name);
    // A folder's path keeps no trailing slash: a link is made at the name.
    while (unixName.size() > 1 && unixName.back() == '/') unixName.pop_back();
    return Wide(unixName);
}

void RunUnix(const std::wstring& program, const std::wstring& arguments) {
    std::wstring windowsName = L"Z:" + program;
    std::replace(windowsName.begin(), windowsName.end(), L'/', L'\\');
    // Wine does not follow a unix process: its handle tells nothing of its
    // end, so the caller waits for the program's effect.
    const Process started(program + L" " + arguments, L"", nullptr, {}, windowsName);
}

void MakeFolderLink(const std::wstring& target, const std::wstring& link) {
    RunUnix(L"/bin/ln", L"-s " + Quoted(UnixPath(target)) + L" " + Quoted(UnixPath(link)));
    constexpr DWORD kListedAsJunction = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if (!WaitUntil([&] { return ::GetFileAttributesW(link.c_str()) == kListedAsJunction; }, 5s))
        Fail(L"no folder link at " + link);
}

Process::~Process() {
    if (handles_.process && Running()) {
        Kill();
        Wait(5s);
    }
}

bool Process::Wait(std::chrono::milliseconds timeout) const {
    return WaitUntil([this] { return !Running(); }, timeout);
}

bool Process::Running() const {
    return ::WaitForSingleObject(handles_.process.get(), 0) == WAIT_TIMEOUT;
}

DWORD Process::ExitCode() const {
    DWORD code = 0;
    ::GetExitCodeProcess(handles_.process.get(), &code);
    return code;
}

void Process::Kill() const { ::TerminateProcess(handles_.process.get(), 255); }

std::vector<HWND> TopLevelWindows(DWORD processId, bool visibleOnly) {
    struct Search {
        DWORD processId;
        bool visibleOnly;
        std::vector<HWND> found;
    } search{processId, visibleOnly, {}};
    ::EnumWindows(
        [](HWND window, LPARAM context) CALLBACK -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (owner == s->processId && (!s->visibleOnly || ::IsWindowVisible(window)))
                s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForWindow(DWORD processId, std::chrono::milliseconds timeout) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            const auto windows = TopLevelWindows(processId);
            found = windows.empty() ? nullptr : windows.front();
            return found != nullptr;
        },
        timeout);
    return found;
}

std::wstring WindowText(HWND window) {
    wchar_t text[1024];
    const int n = ::GetWindowTextW(window, text, 1024);
    return std::wstring(text, static_cast<size_t>(n > 0 ? n : 0));
}

std::wstring ClassName(HWND window) {
    wchar_t name[256];
    const int n = ::GetClassNameW(window, name, 256);
    return std::wstring(name, static_cast<size_t>(n > 0 ? n : 0));
}

HWND FindChildByText(HWND parent, const std::wstring& text) {
    struct Search {
        const std::wstring* text;
        HWND found;
    } search{&text, nullptr};
    ::EnumChildWindows(
        parent,
        [](HWND child, LPARAM context) CALLBACK -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            if (WindowText(child) == *s->text) {
                s->found = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

ScopedInstallRecord::ScopedInstallRecord() { Remove(); }

ScopedInstallRecord::~ScopedInstallRecord() {
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kInfoKey, kView, 0);
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kTarvikKey, kView, 0);
}

void ScopedInstallRecord::SetRaw(DWORD type, const void* data, DWORD size) const {
    rvz::UniqueKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kInfoKey, 0, nullptr, 0, KEY_SET_VALUE | kView,
                          nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        Fail(L"RegCreateKeyEx");
    if (::RegSetValueExW(key.get(), L"Position", 0, type, static_cast<const BYTE*>(data), size) !=
        ERROR_SUCCESS)
        Fail(L"RegSetValueEx");
}

void ScopedInstallRecord::SetString(const std::wstring& position) const {
    SetRaw(REG_SZ, position.c_str(), static_cast<DWORD>((position.size() + 1) * sizeof(wchar_t)));
}

void ScopedInstallRecord::Remove() const {
    rvz::UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInfoKey, 0, KEY_SET_VALUE | kView, key.put()) ==
        ERROR_SUCCESS)
        ::RegDeleteValueW(key.get(), L"Position");
}

std::wstring ScopedInstallRecord::Read(const wchar_t* value) const {
    wchar_t data[4096];
    DWORD size = sizeof(data);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, kInfoKey, value,
                       RRF_RT_REG_SZ | 0x00020000 /* RRF_SUBKEY_WOW6432KEY */, nullptr, data, &size) != ERROR_SUCCESS)
        return {};
    return data;
}

std::wstring NsisSetupFolder() {
    wchar_t programFiles[MAX_PATH];
    const DWORD n = ::GetEnvironmentVariableW(L"ProgramFiles", programFiles, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) Fail(L"GetEnvironmentVariable ProgramFiles");
    return programFiles + std::wstring(L"\\Tarvik by Brisolt\\");
}

}  // namespace rvztest
