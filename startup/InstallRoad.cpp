#include "InstallRoad.h"

#include "CommandLines.h"
#include "Display.h"
#include "DownloadLibrary.h"
#include "Handles.h"
#include "InstallerTexts.h"
#include "Rights.h"
#include "RoadEnd.h"
#include "RoadLock.h"
#include "RunLog.h"
#include "SetupSignature.h"
#include "Strings.h"
#include "WinError.h"
#include "basFiles.h"
#include "frmInstaller.h"
#include "resource.h"

#include <optional>
#include <string>

namespace rvz {

namespace {

constexpr wchar_t kSetupFileName[] = L"\\tarvik.exe";

// Log: a new one for this road, telling what it starts from.
RunLog OpenLog(const LoaderConfig& config, const std::wstring& record) {
    RunLog log = RunLog::Open(LoaderTempFolder());
    log.Write(L"Loader " + config.modulePath + L", add-on \"" + config.appName + L"\", argument \"" +
              config.gridCommand + L"\"");
    log.Write(L"Install record: \"" + record + L"\", no program: not installed");
    return log;
}

// Library: loaded from beside the loader; its dialog carries the wizard's
// caption and speaks the user's language. Throws a UserError when missing.
DownloadLibrary LoadDownloadLibrary(const LoaderConfig& config, RunLog& log) {
    DownloadLibrary library(config.folder);
    log.Write(L"Download library loaded from " + config.folder);
    library.SetOption(L"title", InstallerCaption(config.appName));
    library.SetOption(L"language",
                      config.folder + L"RAVoduza_" + ResString(IDS_LANGUAGE_CODE) + L".ini");
    return library;
}

const wchar_t* AnswerName(WizardAnswer answer) {
    switch (answer) {
        case WizardAnswer::InstallWithAutostart: return L"install, start with Windows";
        case WizardAnswer::InstallWithoutAutostart: return L"install, do not start with Windows";
        case WizardAnswer::Cancelled: return L"cancelled";
        case WizardAnswer::Closed: return L"closed";
    }
    return L"?";
}

// Wizard: the user's answer.
WizardAnswer AskUser(const LoaderConfig& config, RunLog& log) {
    const WizardAnswer answer = RunInstallerWizard(config.appName);
    log.Write(std::wstring(L"Wizard: ") + AnswerName(answer));
    return answer;
}

// Work directory: fresh, where only administrators may change anything,
// whatever TMP and TEMP say; what killed loaders left goes first.
WorkDirectory MakeWorkDirectory(RunLog& log) {
    const std::wstring temp = LoaderTempFolder();
    const int abandoned = RemoveAbandonedWorkDirectories(temp);
    if (abandoned > 0) log.Write(L"Removed work directories of earlier loaders: " + std::to_wstring(abandoned));
    WorkDirectory directory = CreateWorkDirectory(temp);
    log.Write(L"Work directory " + directory.path());
    return directory;
}

// Download: whether the setup arrived; the library's dialog has told the
// user why not.
bool Download(const DownloadLibrary& library, const std::wstring& setupPath, RunLog& log) {
    log.Write(std::wstring(L"Download from ") + DownloadUrl());
    library.Download(nullptr, DownloadUrl(), setupPath);
    if (FileExists(setupPath)) return true;
    log.Write(L"Download: no setup arrived");
    return false;
}

RoadEnd SetupCannotStart(const std::wstring& setupPath, DWORD error) {
    return RoadEnd(kExitSetupCannotStart, ResString(IDS_SETUP_CANNOT_START) + L"\r\n\r\n" + setupPath +
                                              L"\r\n" + SystemErrorText(error));
}

// Check: why the held setup is refused, in the user's language; nothing when
// it may run. It runs with administrator rights: only the vendor's own setup.
std::optional<RoadEnd> PublisherCheck(const std::wstring& setupPath, HANDLE held) {
    if (ConfiguredPublishers().empty()) return std::nullopt;  // built to run it unchecked
    const SignatureVerdict verdict =
        CheckPublisher(setupPath, ConfiguredPublishers(), ConfiguredKeySha256(), held);
    std::wstring reason;
    switch (verdict.result) {
        case SignatureResult::Accepted: return std::nullopt;
        case SignatureResult::Unsigned: reason = ResString(IDS_SIGNATURE_MISSING); break;
        case SignatureResult::Damaged: reason = ResString(IDS_SIGNATURE_DAMAGED); break;
        case SignatureResult::OtherPublisher:
            reason = ResString(IDS_OTHER_PUBLISHER) + L" " + verdict.publisher;
            break;
        case SignatureResult::OtherKey: reason = ResString(IDS_OTHER_KEY); break;
    }
    return RoadEnd(kExitSetupNotSigned, ResString(IDS_SETUP_NOT_SIGNED) + L"\r\n\r\n" + reason);
}

// Work directory, download, check and setup: the work directory is gone
// when this returns or throws. The road's end when it ends here; nothing
// once the setup has run.
std::optional<RoadEnd> DownloadCheckAndRunSetup(const DownloadLibrary& library, bool autostart,
                                                RunLog& log) {
    const WorkDirectory workDirectory = MakeWorkDirectory(log);
    const std::wstring setupPath = workDirectory.path() + kSetupFileName;
    if (!Download(library, setupPath, log)) return RoadEnd(kExitDownloadFailed);
    // Held from here until it has run: what is checked is what starts.
    const UniqueFile held = HoldFile(setupPath);
    if (!held) return SetupCannotStart(setupPath, ::GetLastError());
    log.Write(L"Download: the setup arrived");
    if (auto refused = PublisherCheck(setupPath, held.get())) return refused;

    // Setup: in the work directory, and only as the held file.
    const std::wstring commandLine = SetupCommandLine(setupPath, autostart);
    log.Write(L"Setup: " + commandLine);
    const RunResult setup = RunAndWait(setupPath, commandLine, {held.get(), workDirectory.path()});
    if (setup.replaced)
        return RoadEnd(kExitSetupNotSigned, ResString(IDS_SETUP_REPLACED) + L"\r\n\r\n" + setupPath);
    if (!setup.started) return SetupCannotStart(setupPath, setup.error);
    log.Write(L"Setup ended with exit code " + std::to_wstring(setup.exitCode));
    return std::nullopt;
}

// Record and product: one read of the install record serves the log and
// the start. An empty record, or one naming no program: the setup did not
// install.
RoadEnd StartInstalledProduct(const LoaderConfig& config, RunLog& log) {
    const std::wstring record = ReadInstallRecord();
    log.Write(L"Install record: \"" + record + L"\"");
    const auto product = InstalledProduct(record, config.gridCommand);
    if (!product) return RoadEnd(kExitNotInstalled);
    const std::wstring how = RunGridCommand(*product);
    log.Write(L"Product started " + how + L": " + product->commandLine);
    return RoadEnd(kExitProductStarted);
}

// The install error's one line more, for what the user can mend.
std::wstring InstallErrorDetail(const std::exception& error) {
    if (const auto* temp = dynamic_cast<const TempFolderError*>(&error))
        return L"\r\n" + ResString(IDS_TEMP_FOLDER_UNUSABLE) + L" " + temp->folder();
    return {};
}

// The steps after the lock and the log. An error before the install is
// shown as it is; one in an install step as the install error.
RoadEnd TakeRoad(const LoaderConfig& config, RunLog& log) {
    bool installing = false;
    try {
        const DownloadLibrary library = LoadDownloadLibrary(config, log);
        if (!HasAdministratorRights()) {
            log.Write(L"No administrator rights");
            return RoadEnd(kExitNoAdminRights, ResString(IDS_NO_ADMIN_RIGHTS));
        }
        const WizardAnswer answer = AskUser(config, log);
        if (!IsInstall(answer)) return RoadEnd(kExitWizardClosed);
        installing = true;
        const bool autostart = answer == WizardAnswer::InstallWithAutostart;
        if (auto ended = DownloadCheckAndRunSetup(library, autostart, log)) return *ended;
        return StartInstalledProduct(config, log);
    } catch (const std::exception& error) {
        if (!installing) return UnexpectedEnd(error);
        log.Write(L"Error: " + ErrorText(error));
        return RoadEnd(kExitInstallError, ResString(IDS_INSTALL_ERROR) + InstallErrorDetail(error),
                       MB_ICONEXCLAMATION);
    }
}

}  // namespace

ExitCode RunNotInstalledRoad(const LoaderConfig& config, const std::wstring& record) {
    // Lock: a double click must not run two wizards, downloads and setups at once.
    const std::optional<RoadLock> lock = RoadLock::Take();
    if (!lock) {
        BringOtherLoaderToFront();
        return kExitAnotherLoader;
    }
    // Before the road's first window, which may be a message box.
    DeclareDpiAwareness();
    RunLog log = OpenLog(config, record);
    return EndRoad(TakeRoad(config, log), log);
}

}  // namespace rvz
