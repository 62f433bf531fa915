// Entry point of RAVoduza.exe. The loader reads no command line; the program
// ends here, with the outcome of its road as the exit code.
#include "basInstaller.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return static_cast<int>(rvz::RunLoader()); }
