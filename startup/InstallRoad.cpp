#include "InstallRoad.h"

#include "CommandLines.h"
#include "Handles.h"
#include "SetupSignature.h"
#include "Strings.h"
#include "WinError.h"
#include "basFiles.h"
#include "resource.h"

#include <optional>

namespace rvz {

namespace {

constexpr wchar_t kSetupFileName[] = L"\\tarvik.exe";

// A library that takes only ANSI paths gets a temporary folder with
// characters outside the ANSI code page by its short name, plain ASCII.
std::wstring AnsiSafeFolder(const std::wstring& folder) {
    if (FromAnsi(ToAnsi(folder)) == folder) return folder;
    wchar_t shortName[MAX_PATH];
    const DWORD length = ::GetShortPathNameW(folder.c_str(), shortName, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) ThrowLastError(L"GetShortPathName " + folder);
    return std::wstring(shortName, length);
}

// Why the setup is refused, in the user's language; nothing when it may run.
std::optional<std::wstring> PublisherRefusal(const std::wstring& setupPath) {
    if (ConfiguredPublishers().empty()) return std::nullopt;  // built to run it unchecked
    const SignatureVerdict verdict =
        CheckPublisher(setupPath, ConfiguredPublishers(), ConfiguredKeySha256());
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
// The outcome when the road ends here; nothing when the product is installed.
std::optional<ExitCode> DownloadAndRunSetup(const DownloadLibrary& library, bool autostart) {
    const std::wstring workDirectory = CreateTempDirectory();
    const ScopeExit removeWorkDirectory([&] { RemoveWorkDirectory(workDirectory); });
    const std::wstring setupPath = workDirectory + kSetupFileName;

    const std::wstring folder = library.TakesUnicode() ? workDirectory : AnsiSafeFolder(workDirectory);
    library.Download(nullptr, DownloadUrl(), folder + kSetupFileName);
    // The library's dialog has told the user why.
    if (!FileExists(setupPath)) return kExitDownloadFailed;
    // It runs with administrator rights: only the vendor's own setup.
    if (const auto refusal = PublisherRefusal(setupPath)) {
        const std::wstring text = ResString(IDS_SETUP_NOT_SIGNED) + L"\r\n\r\n" + *refusal;
        ::MessageBoxW(nullptr, text.c_str(), kApplicationTitle, MB_OK | MB_ICONERROR);
        return kExitSetupNotSigned;
    }

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
