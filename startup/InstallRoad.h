// The install road: work directory, download, setup, install record, product.
#pragma once

#include "DownloadLibrary.h"
#include "ExitCodes.h"
#include "basInstaller.h"

namespace rvz {

// Downloads the setup into a fresh work directory, runs it with or without
// the autostart task, removes the work directory and starts the product.
// Returns the outcome; an error in any step is shown as the install error.
// A new step of the road goes here.
ExitCode RunInstallRoad(const LoaderConfig& config, const DownloadLibrary& library, bool autostart);

}  // namespace rvz
