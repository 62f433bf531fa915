#include "basInstaller.h"

#include "CommandLines.h"
#include "DownloadLibrary.h"
#include "Handles.h"
#include "InstallerTexts.h"
#include "Strings.h"
#include "WinError.h"
#include "basFiles.h"
#include "basRegistry.h"
#include "frmInstaller.h"
#include "resource.h"

#include <vector>

namespace rvz {

namespace {

struct LoaderValues {
    std::wstring appName;
    std::wstring gridCommand;
    std::wstring folder;
};

LoaderValues& Values() {
    static LoaderValues values;
    return values;
}

// Starts a command line with its window shown normally, without waiting.
void StartProcess(const std::wstring& commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;  // CreateProcessW may write into it
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info))
        ThrowLastError(L"Could not start " + commandLine);
    ProcessHandles::Adopt(info);  // not kept: the product runs on its own
}

}  // namespace

const std::wstring& AppName() { return Values().appName; }
const std::wstring& GridCommand() { return Values().gridCommand; }
const std::wstring& LoaderFolder() { return Values().folder; }

std::wstring ReadInstallRecord() {
    return RegReadString(HKEY_LOCAL_MACHINE, kInstallRecordKey, kInstallRecordValue);
}

std::wstring ModulePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) ThrowLastError(L"GetModuleFileName");
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);  // cut off: try again with more room
    }
}

bool HasAdministratorRights() {
    UniqueHandleKernel token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    LUID systemTime;
    if (!::LookupPrivilegeValueW(nullptr, SE_SYSTEMTIME_NAME, &systemTime)) return false;

    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !::GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size))
        return false;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID& luid = privileges->Privileges[i].Luid;
        if (luid.LowPart == systemTime.LowPart && luid.HighPart == systemTime.HighPart) return true;
    }
    return false;
}

bool Main() {
    LoaderValues& values = Values();
    values.folder = GetDirectoryPart(ModulePath());

    const std::wstring config = values.folder + kConfigFileName;
    values.appName = Trim(ReadIniString(config, L"Loader", L"AppName", L""));
    values.gridCommand = Trim(ReadIniString(config, L"Loader", L"GridCommand", L""));

    if (!ReadInstallRecord().empty()) {
        RunGridCommand(values.gridCommand);
        EndProcessNow(kExitProductStarted);
    }

    const DownloadLibrary& library = DownloadLibrary::Get(values.folder);
    // The download dialog carries the wizard's caption.
    library.SetOption(L"title", InstallerCaption(values.appName));
    library.SetOption(L"language", values.folder + L"RAVoduza_" + ResString(IDS_LANGUAGE_CODE) + L".ini");

    if (!HasAdministratorRights()) {
        ::MessageBoxW(nullptr, ResString(IDS_NO_ADMIN_RIGHTS).c_str(), kApplicationTitle,
                      MB_OK | MB_ICONERROR);
        return false;
    }
    ShowInstallerWindow();
    return true;
}

void RunGridCommand(const std::wstring& command) {
    const std::wstring position = ReadInstallRecord();
    StartProcess(ProductCommandLine(position, command, FileExists(position)));
}

void EndProcessNow(ExitCode code) { ::ExitProcess(code); }

void ReportUnexpectedError(const std::exception& error) {
    ::MessageBoxW(nullptr, FromUtf8(error.what()).c_str(), kApplicationTitle, MB_OK | MB_ICONERROR);
    EndProcessNow(kExitUnexpectedError);
}

int RunLoader() {
    try {
        // Every DLL loaded from here on comes from the system folder unless
        // its full path is given: nothing is picked up from the current folder.
        ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!Main()) return kExitNoAdminRights;

        MSG msg;
        while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (InstallerPreTranslateMessage(msg)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        return static_cast<int>(msg.wParam);
    } catch (const std::exception& error) {
        ReportUnexpectedError(error);
    }
}

}  // namespace rvz
