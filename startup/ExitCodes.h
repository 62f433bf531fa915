// The loader's process exit codes. Zero means the product was started.
#pragma once

namespace rvz {

enum ExitCode : unsigned {
    kExitProductStarted = 0,
    kExitUnexpectedError = 1,    // an error no step expected; its description was shown
    kExitNoAdminRights = 2,      // the rights message was shown, no window
    kExitLibraryMissing = 3,     // the download library or one of its functions is missing
    kExitDownloadFailed = 4,     // no setup program arrived; the library's dialog said why
    kExitNotInstalled = 5,       // the setup ended without writing the install record
    kExitInstallError = 6,       // the install action failed; its error message was shown
    kExitWizardClosed = 7,       // the user cancelled or closed the wizard
    kExitAnotherLoader = 9,      // another loader is on the install road; its window came forward
    kExitSetupNotSigned = 10,    // the setup is not signed by the expected publisher; not started
};

}  // namespace rvz
