#include "InstallRoad.h"

#include "CommandLines.h"
#include "Handles.h"
#include "Strings.h"
#include "WinError.h"
#include "basFiles.h"
#include "resource.h"

#include <optional>

namespace rvz {

namespace {

constexpr wchar_t kSetupFileName[] = L"\\tarvik.exe";

// The library takes ANSI paths. A temporary folder with characters outside
// the ANSI code page is handed over by its short name, which is plain ASCII.
std::wstring AnsiSafeFolder(const std::wstring& folder) {
    if (FromAnsi(ToAnsi(folder)) == folder) return folder;
    wchar_t shortName[MAX_PATH];
    const DWORD length = ::GetShortPathNameW(folder.c_str(), shortName, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) ThrowLastError(L"GetShortPathName " + folder);
    return std::wstring(shortName, length);
}

// The steps inside the work directory; it is gone when this returns or throws.
// The outcome when the road ends here; nothing when the product is installed.
std::optional<ExitCode> DownloadAndRunSetup(const DownloadLibrary& library, bool autostart) {
    const std::wstring workDirectory = CreateTempDirectory();
    const ScopeExit removeWorkDirectory([&] { RemoveWorkDirectory(workDirectory); });
    const std::wstring setupPath = workDirectory + kSetupFileName;

    library.Download(nullptr, DownloadUrl(), AnsiSafeFolder(workDirectory) + kSetupFileName);
    // The library's dialog has told the user why.
    if (!FileExists(setupPath)) return kExitDownloadFailed;

    RunAndWait(SetupCommandLine(setupPath, autostart));
    if (ReadInstallRecord().empty()) return kExitNotInstalled;
    return std::nullopt;
}

}  // namespace

ExitCode RunInstallRoad(const LoaderConfig& config, const DownloadLibrary& library, bool autostart) {
    try {
        if (const auto ended = DownloadAndRunSetup(library, autostart)) return *ended;
        RunGridCommand(config.gridCommand);
        return kExitProductStarted;
    } catch (...) {
        ::MessageBoxW(nullptr, ResString(IDS_INSTALL_ERROR).c_str(), kApplicationTitle,
                      MB_OK | MB_ICONEXCLAMATION);
        return kExitInstallError;
    }
}

}  // namespace rvz
