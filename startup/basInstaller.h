// Start-up: reads the configuration and the install record once, and either
// starts the installed product or takes the road that installs it.
#pragma once

#include "CommandLines.h"
#include "ExitCodes.h"
#include "RunLog.h"

#include <windows.h>

#include <exception>
#include <optional>
#include <string>

namespace rvz {

// The install record that the product's setup program writes.
constexpr wchar_t kInstallRecordKey[] = L"SOFTWARE\\Brisolt\\Tarvik\\Info";
constexpr wchar_t kInstallRecordValue[] = L"Position";
constexpr wchar_t kConfigFileName[] = L"RAVoduza_config.ini";
constexpr wchar_t kApplicationTitle[] = L"Tarvik Loader";

// What the start-up pass reads once and hands down the road.
struct LoaderConfig {
    std::wstring folder;       // the loader's folder, ending in a backslash
    std::wstring appName;      // the add-on's name, trimmed
    std::wstring gridCommand;  // the product's argument text, trimmed
};

// The configuration beside the loader at the module path.
LoaderConfig ReadLoaderConfig(const std::wstring& modulePath);

// The address the setup program is downloaded from (fixed per build).
const wchar_t* DownloadUrl();

// The install record as written, or the empty text when there is none.
std::wstring ReadInstallRecord();

// How the installed product is started with the command text; nothing while
// it is not installed: no record, or one that names no existing program.
std::optional<ProductStart> InstalledProduct(const std::wstring& command);

// The full path of the running program, however long.
std::wstring ModulePath();

// Whether the process may change the system time, the right that elevated
// administrators hold and standard users lack. Asks; changes nothing.
bool HasAdministratorRights();

// The start-up pass: starts an installed product, or prepares the download
// library, checks the rights, shows the wizard and installs. Returns the
// outcome; throws only what no step expected.
ExitCode Main(const LoaderConfig& config);

// Starts the installed product, not waiting for it, as the desktop's user
// when the loader runs elevated and a desktop shell runs; otherwise with the
// loader's own token. Returns how, for the log. Throws, with a text in the
// user's language, when it cannot be started.
std::wstring RunGridCommand(const ProductStart& product);

// A message box of the loader, titled "Tarvik Loader". On the not-installed
// road the text ends with a line naming the run's log, which notes it too.
void ShowMessage(const std::wstring& text, UINT icon, RunLog& log);

// Shows an error that no step expected, with its description.
void ReportUnexpectedError(const std::exception& error);

// The whole program; returns its exit code.
ExitCode RunLoader();

}  // namespace rvz
