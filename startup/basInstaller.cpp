#include "basInstaller.h"

#include "CommandLines.h"
#include "DownloadLibrary.h"
#include "Handles.h"
#include "InstallRoad.h"
#include "InstallerTexts.h"
#include "RoadLock.h"
#include "Strings.h"
#include "WinError.h"
#include "basFiles.h"
#include "basRegistry.h"
#include "frmInstaller.h"
#include "resource.h"

#include <vector>

namespace rvz {

namespace {

// Starts a command line with its window shown normally, without waiting.
void StartProcess(const std::wstring& commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;  // CreateProcessW may write into it
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
        // The loader's words in the user's language, the reason in the system's.
        const std::wstring reason = SystemErrorText(::GetLastError());
        throw std::runtime_error(ToUtf8(ResString(IDS_PRODUCT_CANNOT_START) + L"\r\n\r\n" +
                                        commandLine + L"\r\n" + reason));
    }
    ProcessHandles::Adopt(info);  // not kept: the product runs on its own
}

}  // namespace

LoaderConfig ReadLoaderConfig(const std::wstring& modulePath) {
    LoaderConfig config;
    config.folder = GetDirectoryPart(modulePath);
    const IniFile file(config.folder + kConfigFileName);
    config.appName = Trim(file.Read(L"Loader", L"AppName"));
    config.gridCommand = Trim(file.Read(L"Loader", L"GridCommand"));
    return config;
}

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

ExitCode Main(const LoaderConfig& config) {
    if (!ReadInstallRecord().empty()) {
        RunGridCommand(config.gridCommand);
        return kExitProductStarted;
    }

    // A double click must not run two wizards, downloads and setups at once.
    const std::optional<RoadLock> lock = RoadLock::Take();
    if (!lock) {
        BringOtherLoaderToFront();
        return kExitAnotherLoader;
    }

    try {
        const DownloadLibrary library(config.folder);
        // The download dialog carries the wizard's caption.
        library.SetOption(L"title", InstallerCaption(config.appName));
        library.SetOption(L"language",
                          config.folder + L"RAVoduza_" + ResString(IDS_LANGUAGE_CODE) + L".ini");

        if (!HasAdministratorRights()) {
            ::MessageBoxW(nullptr, ResString(IDS_NO_ADMIN_RIGHTS).c_str(), kApplicationTitle,
                          MB_OK | MB_ICONERROR);
            return kExitNoAdminRights;
        }
        const WizardAnswer answer = RunInstallerWizard(config.appName);
        if (!IsInstall(answer)) return kExitWizardClosed;
        return RunInstallRoad(config, library, answer == WizardAnswer::InstallWithAutostart);
    } catch (const MissingLibraryError& missing) {
        ::MessageBoxW(nullptr, missing.message().c_str(), kApplicationTitle, MB_OK | MB_ICONERROR);
        return kExitLibraryMissing;
    }
}

void RunGridCommand(const std::wstring& command) {
    const std::wstring position = ReadInstallRecord();
    StartProcess(ProductCommandLine(position, command, FileExists(position)));
}

void ReportUnexpectedError(const std::exception& error) {
    ::MessageBoxW(nullptr, FromUtf8(error.what()).c_str(), kApplicationTitle, MB_OK | MB_ICONERROR);
}

ExitCode RunLoader() {
    try {
        // Every DLL loaded from here on comes from the system folder unless
        // its full path is given: nothing is picked up from the current folder.
        ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
        return Main(ReadLoaderConfig(ModulePath()));
    } catch (const std::exception& error) {
        ReportUnexpectedError(error);
        return kExitUnexpectedError;
    }
}

}  // namespace rvz
