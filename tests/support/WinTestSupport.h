// Helpers for tests that run real Windows programs under Wine: folders,
// processes, windows, files and the install record.
#pragma once

#include "Handles.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace rvztest {

using namespace std::chrono_literals;

// The folder of the running test program, ending in a backslash.
std::wstring TestProgramFolder();

// The build tree's root (the folder holding CMakeCache.txt), with a backslash.
std::wstring BuildFolder();

// Polls the condition until it holds or the time-out passes; dispatches the
// test thread's own messages meanwhile. Returns the last result.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = 20s);

// The temporary folder, ending in a backslash.
std::wstring TempPath();
// The loader's folder for work directories and logs, the Windows folder's
// Temp, ending in a backslash.
std::wstring LoaderTempPath();

// A fresh folder under the temporary folder, removed with all it holds.
class TempFolder {
public:
    explicit TempFolder(const std::wstring& nameHint = L"rvz test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    // Full path ending in a backslash.
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

// Removes a file, a folder with all it holds, or a link as itself.
void RemoveTree(const std::wstring& path);
void CopyFileOrThrow(const std::wstring& from, const std::wstring& to);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);  // empty when missing
bool PathExists(const std::wstring& path);
// Names of the entries in a folder (no "." and "..").
std::vector<std::wstring> ListFolder(const std::wstring& folder);

std::string Utf8(const std::wstring& text);
// The unix path that Wine maps a Windows path to.
std::wstring UnixPath(const std::wstring& path);
std::wstring Quoted(const std::wstring& text);
// Runs a unix program (say L"/bin/ln") with its arguments and waits for it.
void RunUnix(const std::wstring& program, const std::wstring& arguments);
// A unix link at the Windows path `link` to the folder `target`, which
// Wine lists as a junction is listed (an unelevated program's link on
// Windows); made from the unix side, since Wine makes none itself.
// RemoveTree removes such a link as itself.
void MakeFolderLink(const std::wstring& target, const std::wstring& link);
std::wstring Wide(const std::string& utf8);

// A program or library under test opened as data, to read its resources.
rvz::UniqueModule LoadAsData(const std::wstring& path);

// A started program that is killed if the test is left while it runs.
class Process {
public:
    // Starts the command line in the given folder (empty: the test's own),
    // with the test's environment plus the given NAME=value entries; the
    // program named explicitly, or (empty) the command line's first word.
    explicit Process(const std::wstring& commandLine, const std::wstring& folder = L"",
                     HANDLE token = nullptr, const std::vector<std::wstring>& environment = {},
                     const std::wstring& program = L"");
    ~Process();
    Process(Process&&) = default;

    DWORD id() const { return handles_.processId; }
    HANDLE handle() const { return handles_.process.get(); }
    // Waits for the end; returns false on time-out.
    bool Wait(std::chrono::milliseconds timeout = 30s) const;
    bool Running() const;
    // The whole exit code (wine's own exit status keeps only 8 bits).
    DWORD ExitCode() const;
    void Kill() const;

private:
    rvz::ProcessHandles handles_;
};

// Visible top-level windows of a process.
std::vector<HWND> TopLevelWindows(DWORD processId, bool visibleOnly = true);
// Waits for a visible top-level window of the process; null on time-out.
HWND WaitForWindow(DWORD processId, std::chrono::milliseconds timeout = 20s);
std::wstring WindowText(HWND window);
std::wstring ClassName(HWND window);
// The child window with the given text (ampersands as in the caption).
HWND FindChildByText(HWND parent, const std::wstring& text);

// The install record in the 32-bit view of HKEY_LOCAL_MACHINE, as the
// loader reads it. Removed again (the whole Tarvik key) at the end.
class ScopedInstallRecord {
public:
    ScopedInstallRecord();  // starts with no record at all
    ~ScopedInstallRecord();
    void SetString(const std::wstring& position) const;
    void SetRaw(DWORD type, const void* data, DWORD size) const;
    void Remove() const;
    // The record, or another value of its key.
    std::wstring Read(const wchar_t* value = L"Position") const;
};

// Where the NSIS fixture (tarvik_nsis_setup.exe) installs: Program Files of
// its architecture, which is the tests' own. Ends in a backslash.
std::wstring NsisSetupFolder();

}  // namespace rvztest
