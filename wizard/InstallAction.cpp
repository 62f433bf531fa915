// TEMPORARY stand-in until the install action's own module replaces this
// file: Install ends the loader as a setup that did not install would.
#include "InstallAction.h"

#include "basInstaller.h"

namespace rvz {

void RunInstallAction(UINT) { EndProcessNow(kExitNotInstalled); }

}  // namespace rvz
