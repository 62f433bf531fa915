#include "InstallAction.h"

#include "CommandLines.h"
#include "DownloadLibrary.h"
#include "Strings.h"
#include "WinError.h"
#include "basFiles.h"
#include "basInstaller.h"
#include "resource.h"

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

}  // namespace

void RunInstallAction(UINT autostartValue) {
    std::wstring workDirectory;
    try {
        workDirectory = CreateTempDirectory();
        const std::wstring setupPath = workDirectory + kSetupFileName;

        DownloadLibrary::Get(LoaderFolder())
            .Download(nullptr, DownloadUrl(), AnsiSafeFolder(workDirectory) + kSetupFileName);
        if (!FileExists(setupPath)) {
            // The library's dialog has told the user why; leave no litter.
            RemoveWorkDirectory(workDirectory);
            EndProcessNow(kExitDownloadFailed);
        }

        // Grayed counts as checked: only a cleared box deselects autostart.
        RunAndWait(SetupCommandLine(setupPath, autostartValue != BST_UNCHECKED));
        const bool installed = !ReadInstallRecord().empty();
        // A setup that left files behind must not cost the user the product.
        RemoveWorkDirectory(workDirectory);
        if (!installed) EndProcessNow(kExitNotInstalled);

        RunGridCommand(GridCommand());
        EndProcessNow(kExitProductStarted);
    } catch (...) {
        // Whatever went wrong, the download is no use to anybody any more.
        if (!workDirectory.empty()) RemoveWorkDirectory(workDirectory);
        ::MessageBoxW(nullptr, ResString(IDS_INSTALL_ERROR).c_str(), kApplicationTitle,
                      MB_OK | MB_ICONEXCLAMATION);
        EndProcessNow(kExitInstallError);
    }
}

}  // namespace rvz
