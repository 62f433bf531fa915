// Entry point of RAVoduza.exe. The loader reads no command line, but for the
// one argument a loader that asks for rights only to install gives its
// elevated part; the program ends here, with the outcome of its road as the
// exit code.
#include "InstallRoad.h"
#include "RoadEnd.h"
#include "basFiles.h"
#include "basInstaller.h"

#include <cstdlib>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    try {
        // Nothing is ever loaded from the current folder.
        rvz::RestrictDllSearch();
        const rvz::LoaderConfig config = rvz::ReadLoaderConfig(rvz::ModulePath());
        if (const auto autostart = rvz::ElevatedPartAutostart(__argc, __wargv))
            return static_cast<int>(rvz::RunElevatedPart(config, *autostart));
        return static_cast<int>(rvz::Main(config));
    } catch (const std::exception& error) {
        rvz::RunLog none;  // no road has begun: nothing to log into
        return static_cast<int>(rvz::EndRoad(rvz::UnexpectedEnd(error), none));
    }
}
