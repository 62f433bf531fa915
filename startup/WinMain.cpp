// Entry point of RAVoduza.exe. The loader reads no command line; the program
// ends here, with the outcome of its road as the exit code.
#include "RoadEnd.h"
#include "basFiles.h"
#include "basInstaller.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    try {
        // Nothing is ever loaded from the current folder.
        rvz::RestrictDllSearch();
        return static_cast<int>(rvz::Main(rvz::ReadLoaderConfig(rvz::ModulePath())));
    } catch (const std::exception& error) {
        rvz::RunLog none;  // no road has begun: nothing to log into
        return static_cast<int>(rvz::EndRoad(rvz::UnexpectedEnd(error), none));
    }
}
