#include "basInstaller.h"

#include "CommandLines.h"
#include "DesktopUser.h"
#include "Display.h"
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

const wchar_t* AnswerName(WizardAnswer answer) {
    switch (answer) {
        case WizardAnswer::InstallWithAutostart: return L"install, start with Windows";
        case WizardAnswer::InstallWithoutAutostart: return L"install, do not start with Windows";
        case WizardAnswer::Cancelled: return L"cancelled";
        case WizardAnswer::Closed: return L"closed";
    }
    return L"?";
}

// The not-installed road up to the install: the download library, the
// rights and the user's answer.
ExitCode OfferInstall(const LoaderConfig& config, RunLog& log) {
    try {
        const DownloadLibrary library(config.folder);
        log.Write(L"Download library loaded from " + config.folder);
        // The download dialog carries the wizard's caption.
        library.SetOption(L"title", InstallerCaption(config.appName));
        library.SetOption(L"language",
                          config.folder + L"RAVoduza_" + ResString(IDS_LANGUAGE_CODE) + L".ini");

        if (!HasAdministratorRights()) {
            log.Write(L"No administrator rights");
            ShowMessage(ResString(IDS_NO_ADMIN_RIGHTS), MB_ICONERROR, log);
            return kExitNoAdminRights;
        }
        const WizardAnswer answer = RunInstallerWizard(config.appName);
        log.Write(std::wstring(L"Wizard: ") + AnswerName(answer));
        if (!IsInstall(answer)) return kExitWizardClosed;
        return RunInstallRoad(config, library, answer == WizardAnswer::InstallWithAutostart, log);
    } catch (const MissingLibraryError& missing) {
        ShowMessage(missing.message(), MB_ICONERROR, log);
        return kExitLibraryMissing;
    }
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

std::optional<ProductStart> InstalledProduct(const std::wstring& command) {
    ProductStart product = ProductStartFor(ReadInstallRecord(), command, FileExists);
    if (product.program.empty()) return std::nullopt;
    return product;
}

std::wstring ModulePath() {
    const std::optional<std::wstring> path = ModuleFileName(nullptr);
    if (!path) ThrowLastError(L"GetModuleFileName");
    return *path;
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
    if (const auto product = InstalledProduct(config.gridCommand)) {
        RunGridCommand(*product);
        return kExitProductStarted;
    }

    // A double click must not run two wizards, downloads and setups at once.
    const std::optional<RoadLock> lock = RoadLock::Take();
    if (!lock) {
        BringOtherLoaderToFront();
        return kExitAnotherLoader;
    }

    // Before the road's first window, which may be a message box.
    DeclareDpiAwareness();
    RunLog log = RunLog::Open(LoaderTempFolder());
    log.Write(L"Loader " + ModulePath() + L", add-on \"" + config.appName + L"\", argument \"" +
              config.gridCommand + L"\"");
    log.Write(L"Install record: \"" + ReadInstallRecord() + L"\", no program: not installed");
    try {
        const ExitCode outcome = OfferInstall(config, log);
        log.Write(L"Outcome: exit code " + std::to_wstring(outcome));
        return outcome;
    } catch (const std::exception& error) {
        ShowMessage(FromUtf8(error.what()), MB_ICONERROR, log);
        log.Write(L"Outcome: exit code " + std::to_wstring(kExitUnexpectedError));
        return kExitUnexpectedError;
    }
}

std::wstring RunGridCommand(const ProductStart& product) {
    try {
        // Never elevated when it can be helped: Tarvik handles documents and
        // the network, and belongs to the user who sits at the desktop.
        DesktopToken desktop = DesktopUserToken();
        if (desktop.token) {
            try {
                StartProgram(product.program, product.commandLine, desktop.token.get());
                return L"as the desktop user";
            } catch (const WinError& error) {
                desktop.why = L"CreateProcessWithToken: " + SystemErrorText(error.code());
            }
        }
        StartProgram(product.program, product.commandLine);
        return L"with the loader's own rights (" + desktop.why + L")";
    } catch (const WinError& error) {
        // The loader's words in the user's language, the reason in the system's.
        throw std::runtime_error(ToUtf8(ResString(IDS_PRODUCT_CANNOT_START) + L"\r\n\r\n" +
                                        product.commandLine + L"\r\n" +
                                        SystemErrorText(error.code())));
    }
}

void ShowMessage(const std::wstring& text, UINT icon, RunLog& log) {
    log.Write(L"Message: " + text);
    const std::wstring shown =
        log.Path().empty() ? text : text + L"\r\n\r\n" + ResString(IDS_SEE_LOG) + L" " + log.Path();
    ::MessageBoxW(nullptr, shown.c_str(), kApplicationTitle, MB_OK | icon);
}

void ReportUnexpectedError(const std::exception& error) {
    RunLog none;  // no road has begun: nothing to log into
    ShowMessage(FromUtf8(error.what()), MB_ICONERROR, none);
}

ExitCode RunLoader() {
    try {
        // Nothing is ever loaded from the current folder.
        RestrictDllSearch();
        return Main(ReadLoaderConfig(ModulePath()));
    } catch (const std::exception& error) {
        ReportUnexpectedError(error);
        return kExitUnexpectedError;
    }
}

}  // namespace rvz
