// The road when Tarvik is not installed, step by step: lock, log, library,
// rights, wizard, work directory, download, check, setup, record, product.
#pragma once

#include "ExitCodes.h"
#include "basInstaller.h"

#include <string>

namespace rvz {

// Takes the road for the configuration; `record` is the install record that
// start-up read (naming no program). Every end is shown and logged by
// EndRoad; returns its exit code. A new step of the road goes here.
ExitCode RunNotInstalledRoad(const LoaderConfig& config, const std::wstring& record);

}  // namespace rvz
