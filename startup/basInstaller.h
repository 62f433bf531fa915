// Start-up: the configuration and the install record, each read once, and
// the start of the installed product; Main decides between the installed
// road and the road that installs (InstallRoad.h).
#pragma once

#include "CommandLines.h"
#include "ExitCodes.h"

#include <optional>
#include <string>

namespace rvz {

// The install record that the product's setup program writes.
constexpr wchar_t kInstallRecordKey[] = L"SOFTWARE\\Brisolt\\Tarvik\\Info";
constexpr wchar_t kInstallRecordValue[] = L"Position";
constexpr wchar_t kConfigFileName[] = L"RAVoduza_config.ini";

// What the start-up pass reads once and hands down the road.
struct LoaderConfig {
    std::wstring modulePath;   // the loader's own path
    std::wstring folder;       // the loader's folder, ending in a backslash
    std::wstring appName;      // the add-on's name, trimmed
    std::wstring gridCommand;  // the product's argument text, trimmed
};

// The configuration beside the loader at the module path.
LoaderConfig ReadLoaderConfig(const std::wstring& modulePath);

// The address the setup program is downloaded from (fixed per build).
const wchar_t* DownloadUrl();

// Whether the build asks for administrator rights only to install (its
// manifest asks for none) rather than at every start (fixed per build).
bool AsksForRightsOnlyToInstall();

// The install record as written, or the empty text when there is none.
std::wstring ReadInstallRecord();

// How the installed product is started with the command text, by the
// install record; nothing while it is not installed: no record, or one that
// names no existing program.
std::optional<ProductStart> InstalledProduct(const std::wstring& record, const std::wstring& command);

// The start-up pass: starts an installed product, or takes the road that
// installs it. Returns the outcome; throws only what no step expected.
ExitCode Main(const LoaderConfig& config);

// Starts the installed product, not waiting for it, as the desktop's user
// when the loader runs elevated and a desktop shell runs; otherwise with the
// loader's own token. Returns how, for the log. Throws a UserError, with a
// text in the user's language, when it cannot be started.
std::wstring RunGridCommand(const ProductStart& product);

}  // namespace rvz
