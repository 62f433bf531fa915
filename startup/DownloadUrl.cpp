// Compiled into each loader executable with the address of its build.
#include "basInstaller.h"

#define RVZ_WIDEN2(x) L##x
#define RVZ_WIDEN(x) RVZ_WIDEN2(x)

const wchar_t* rvz::DownloadUrl() { return RVZ_WIDEN(RAVODUZA_DOWNLOAD_URL); }
