// The road when Tarvik is not installed, step by step: lock, log, library,
// rights, wizard, work directory, download, check, setup, record, product.
#pragma once

#include "ExitCodes.h"
#include "basInstaller.h"

#include <optional>
#include <string>

namespace rvz {

// Takes the road for the configuration; `record` is the install record that
// start-up read (naming no program). Every end is shown and logged by
// EndRoad; returns its exit code. A new step of the road goes here.
ExitCode RunNotInstalledRoad(const LoaderConfig& config, const std::wstring& record);

// The one argument that a loader which asks for rights only to install
// gives its elevated part: the autostart choice, and nothing else.
constexpr wchar_t kElevatedPartWithAutostart[] = L"/elevated-install:autostart";
constexpr wchar_t kElevatedPartWithoutAutostart[] = L"/elevated-install:no-autostart";

// The autostart choice when the command line is the elevated part's one
// argument and the build asks for rights only to install; nothing otherwise,
// and then the command line decides nothing.
std::optional<bool> ElevatedPartAutostart(int argc, wchar_t** argv);

// The elevated part: with administrator rights, the work directory,
// download, check and setup exactly as the road's, for the loader that
// started it, which waits, then reads the install record and starts Tarvik
// as the user. Its own configuration; nothing from its command line but the
// choice. Exit code 0 when the setup ran; the road's other codes when it
// ended before, its messages shown as the road shows them.
ExitCode RunElevatedPart(const LoaderConfig& config, bool autostart);

}  // namespace rvz
