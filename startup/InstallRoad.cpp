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
RunLog OpenLog(const LoaderConfig& config, const std::wstring& startsFrom) {
    RunLog log = RunLog::Open(LoaderTempFolder());
    log.Write(L"Loader " + config.modulePath + L", add-on \"" + config.appName + L"\", argument \"" +
              config.gridCommand + L"\"");
    log.Write(startsFrom);
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

// Rights: the road's end when they are missing.
std::optional<RoadEnd> RightsCheck(RunLog& log) {
    if (HasAdministratorRights()) return std::nullopt;
    log.Write(L"No administrator rights");
    return RoadEnd(kExitNoAdminRights, ResString(IDS_NO_ADMIN_RIGHTS));
}

// Wizard: the user's answer. Install carries the shield where pressing it
// asks for rights.
WizardAnswer AskUser(const LoaderConfig& config, RunLog& log) {
    const WizardAnswer answer = RunInstallerWizard(config.appName, AsksForRightsOnlyToInstall());
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

// The end for an error in an install step: the install error, with one
// line more for what the user can mend.
RoadEnd InstallErrorEnd(const std::exception& error, RunLog& log) {
    log.Write(L"Error: " + ErrorText(error));
    std::wstring detail;
    if (const auto* temp = dynamic_cast<const TempFolderError*>(&error))
        detail = L"\r\n" + ResString(IDS_TEMP_FOLDER_UNUSABLE) + L" " + temp->folder();
    return RoadEnd(kExitInstallError, ResString(IDS_INSTALL_ERROR) + detail, MB_ICONEXCLAMATION);
}

// Elevated part: the same loader with administrator rights, asked through
// the shell (the UAC prompt), given only the autostart choice. Whether it
// started (a declined prompt starts none), and its exit code.
struct ElevatedPartRun {
    bool started = false;
    DWORD exitCode = 0;
};

ElevatedPartRun RunElevatedPartFor(const LoaderConfig& config, bool autostart, RunLog& log) {
    const wchar_t* argument = autostart ? kElevatedPartWithAutostart : kElevatedPartWithoutAutostart;
    log.Write(std::wstring(L"Elevated part: ") + argument);
    const UniqueHandleKernel part = StartElevated(config.modulePath, argument);
    if (!part) {
        log.Write(L"Elevated part not started: " + SystemErrorText(::GetLastError()));
        return {};
    }
    const DWORD exitCode = WaitForProcess(part.get());
    log.Write(L"Elevated part ended with exit code " + std::to_wstring(exitCode));
    return {true, exitCode};
}

// The steps after the lock and the log. An error before the install is
// shown as it is; one in an install step as the install error.
RoadEnd TakeRoad(const LoaderConfig& config, RunLog& log) {
    bool installing = false;
    try {
        const DownloadLibrary library = LoadDownloadLibrary(config, log);
        // Where only the elevated part has rights, it checks them.
        if (!AsksForRightsOnlyToInstall()) {
            if (auto missing = RightsCheck(log)) return *missing;
        }
        // Install: the setup, by this loader or by its elevated part. A
        // declined prompt says that rights are needed and returns to the wizard.
        for (;;) {
            const WizardAnswer answer = AskUser(config, log);
            if (!IsInstall(answer)) return RoadEnd(kExitWizardClosed);
            const bool autostart = answer == WizardAnswer::InstallWithAutostart;
            installing = true;
            if (!AsksForRightsOnlyToInstall()) {
                if (auto ended = DownloadCheckAndRunSetup(library, autostart, log)) return *ended;
                break;
            }
            const ElevatedPartRun part = RunElevatedPartFor(config, autostart, log);
            if (part.started) {
                // It has shown its messages itself.
                if (part.exitCode != kExitProductStarted) return RoadEnd(static_cast<ExitCode>(part.exitCode));
                break;
            }
            installing = false;
            Tell(ResString(IDS_NO_ADMIN_RIGHTS), MB_ICONERROR, log);
        }
        return StartInstalledProduct(config, log);
    } catch (const std::exception& error) {
        return installing ? InstallErrorEnd(error, log) : UnexpectedEnd(error);
    }
}

// The elevated part's steps after its lock and log.
RoadEnd TakeElevatedPart(const LoaderConfig& config, bool autostart, RunLog& log) {
    try {
        const DownloadLibrary library = LoadDownloadLibrary(config, log);
        if (auto missing = RightsCheck(log)) return *missing;
        if (auto ended = DownloadCheckAndRunSetup(library, autostart, log)) return *ended;
        // The loader that asked reads the install record and starts Tarvik.
        return RoadEnd(kExitProductStarted);
    } catch (const std::exception& error) {
        return InstallErrorEnd(error, log);
    }
}

// A road under its lock, held until the road ends, or, while another loader
// holds it, that loader's window brought forward. The road's steps get a new
// log telling what it starts from; its end is shown and logged.
template <typename Steps>
ExitCode TakeUnderLock(const std::optional<RoadLock> lock, const LoaderConfig& config,
                       const std::wstring& startsFrom, Steps steps) {
    if (!lock) {
        BringOtherLoaderToFront();
        return kExitAnotherLoader;
    }
    // Before the road's first window, which may be a message box.
    DeclareDpiAwareness();
    RunLog log = OpenLog(config, startsFrom);
    return EndRoad(steps(log), log);
}

}  // namespace

ExitCode RunNotInstalledRoad(const LoaderConfig& config, const std::wstring& record) {
    // Lock: a double click must not run two wizards, downloads and setups at once.
    return TakeUnderLock(RoadLock::Take(), config,
                         L"Install record: \"" + record + L"\", no program: not installed",
                         [&](RunLog& log) { return TakeRoad(config, log); });
}

std::optional<bool> ElevatedPartAutostart(int argc, wchar_t** argv) {
    if (!AsksForRightsOnlyToInstall() || argc != 2 || !argv || !argv[1]) return std::nullopt;
    const std::wstring argument = argv[1];
    if (argument == kElevatedPartWithAutostart) return true;
    if (argument == kElevatedPartWithoutAutostart) return false;
    return std::nullopt;
}

ExitCode RunElevatedPart(const LoaderConfig& config, bool autostart) {
    // One at a time, whoever started it.
    return TakeUnderLock(RoadLock::TakeForElevatedPart(), config,
                         std::wstring(L"Elevated part: install, ") +
                             (autostart ? L"start with Windows" : L"do not start with Windows") +
                             L"; command line " + ::GetCommandLineW(),
                         [&](RunLog& log) { return TakeElevatedPart(config, autostart, log); });
}

}  // namespace rvz
