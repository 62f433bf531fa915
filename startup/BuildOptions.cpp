// Compiled into each loader executable with the options of its build: the
// download address and when the loader asks for administrator rights.
#include "basInstaller.h"

#define RVZ_WIDEN2(x) L##x
#define RVZ_WIDEN(x) RVZ_WIDEN2(x)

const wchar_t* rvz::DownloadUrl() { return RVZ_WIDEN(RAVODUZA_DOWNLOAD_URL); }

bool rvz::AsksForRightsOnlyToInstall() { return RAVODUZA_ELEVATE_TO_INSTALL != 0; }
