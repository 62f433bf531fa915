// Entry point of RAVoduza.exe. The loader reads no command line.
#include "basInstaller.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return rvz::RunLoader(); }
