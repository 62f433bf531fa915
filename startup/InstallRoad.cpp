#include "InstallRoad.h"

#include "CommandLines.h"
#include "Handles.h"
#include "SetupSignature.h"
#include "Strings.h"
#include "WinError.h"
#include "basFiles.h"
#include "resource.h"

#include <optional>
#include <string>

namespace rvz {

namespace {

constexpr wchar_t kSetupFileName[] = L"\\tarvik.exe";

// Why the held setup is refused, in the user's language; nothing when it may run.
std::optional<std::wstring> PublisherRefusal(const std::wstring& setupPath, HANDLE held) {
    if (ConfiguredPublishers().empty()) return std::nullopt;  // built to run it unchecked
    const SignatureVerdict verdict =
        CheckPublisher(setupPath, ConfiguredPublishers(), ConfiguredKeySha256(), held);
    switch (verdict.result) {
        case SignatureResult::Accepted: return std::nullopt;
        case SignatureResult::Unsigned: return ResString(IDS_SIGNATURE_MISSING);
        case SignatureResult::Damaged: return ResString(IDS_SIGNATURE_DAMAGED);
        case SignatureResult::OtherPublisher: return ResString(IDS_OTHER_PUBLISHER) + L" " + verdict.publisher;
        case SignatureResult::OtherKey: return ResString(IDS_OTHER_KEY);
    }
    return ResString(IDS_SIGNATURE_DAMAGED);
}

// The steps inside the work directory; it is gone when this returns or throws.
// The outcome when the road ends here; nothing once the setup has run.
std::optional<ExitCode> DownloadAndRunSetup(const DownloadLibrary& library, bool autostart,
                                            RunLog& log) {
    // Loaders that were killed or lost their power left theirs. Everything
    // lies where only administrators may change it, whatever TMP and TEMP say.
    const std::wstring temp = LoaderTempFolder();
    const int abandoned = RemoveAbandonedWorkDirectories(temp);
    if (abandoned > 0) log.Write(L"Removed work directories of earlier loaders: " + std::to_wstring(abandoned));
    const WorkDirectory workDirectory = CreateWorkDirectory(temp);
    log.Write(L"Work directory " + workDirectory.path());
    const std::wstring setupPath = workDirectory.path() + kSetupFileName;

    log.Write(std::wstring(L"Download from ") + DownloadUrl());
    library.Download(nullptr, DownloadUrl(), setupPath);
    // The library's dialog has told the user why.
    if (!FileExists(setupPath)) {
        log.Write(L"Download: no setup arrived");
        return kExitDownloadFailed;
    }
    // Held from here until it has run: what is checked is what starts.
    const UniqueFile held = HoldFile(setupPath);
    if (!held) {
        ShowMessage(ResString(IDS_SETUP_CANNOT_START) + L"\r\n\r\n" + setupPath + L"\r\n" +
                        SystemErrorText(::GetLastError()),
                    MB_ICONERROR, log);
        return kExitSetupCannotStart;
    }
    log.Write(L"Download: the setup arrived");
    // It runs with administrator rights: only the vendor's own setup.
    if (const auto refusal = PublisherRefusal(setupPath, held.get())) {
        ShowMessage(ResString(IDS_SETUP_NOT_SIGNED) + L"\r\n\r\n" + *refusal, MB_ICONERROR, log);
        return kExitSetupNotSigned;
    }

    const std::wstring commandLine = SetupCommandLine(setupPath, autostart);
    log.Write(L"Setup: " + commandLine);
    const RunResult setup = RunAndWait(setupPath, commandLine, {held.get(), workDirectory.path()});
    if (setup.replaced) {
        ShowMessage(ResString(IDS_SETUP_REPLACED) + L"\r\n\r\n" + setupPath, MB_ICONERROR, log);
        return kExitSetupNotSigned;
    }
    if (!setup.started) {
        ShowMessage(ResString(IDS_SETUP_CANNOT_START) + L"\r\n\r\n" + setupPath + L"\r\n" +
                        SystemErrorText(setup.error),
                    MB_ICONERROR, log);
        return kExitSetupCannotStart;
    }
    log.Write(L"Setup ended with exit code " + std::to_wstring(setup.exitCode));
    log.Write(L"Install record: \"" + ReadInstallRecord() + L"\"");
    return std::nullopt;
}

// The install error's one line more, for what the user can mend.
std::wstring InstallErrorDetail() {
    try {
        throw;
    } catch (const TempFolderError& error) {
        return L"\r\n" + ResString(IDS_TEMP_FOLDER_UNUSABLE) + L" " + error.folder();
    } catch (...) {
        return {};
    }
}

}  // namespace

ExitCode RunInstallRoad(const LoaderConfig& config, const DownloadLibrary& library, bool autostart,
                        RunLog& log) {
    try {
        if (const auto ended = DownloadAndRunSetup(library, autostart, log)) return *ended;
        const auto product = InstalledProduct(config.gridCommand);
        // An empty record, or one naming no program: the setup did not install.
        if (!product) return kExitNotInstalled;
        const std::wstring how = RunGridCommand(*product);
        log.Write(L"Product started " + how + L": " + product->commandLine);
        return kExitProductStarted;
    } catch (const std::exception& error) {
        log.Write(L"Error: " + FromUtf8(error.what()));
        ShowMessage(ResString(IDS_INSTALL_ERROR) + InstallErrorDetail(), MB_ICONEXCLAMATION, log);
        return kExitInstallError;
    }
}

}  // namespace rvz
