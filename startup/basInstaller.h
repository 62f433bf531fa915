// Start-up: decides between starting the installed product and showing the
// setup wizard, and starts the product.
#pragma once

#include "ExitCodes.h"

#include <windows.h>

#include <exception>
#include <string>

namespace rvz {

// The install record that the product's setup program writes.
constexpr wchar_t kInstallRecordKey[] = L"SOFTWARE\\Brisolt\\Tarvik\\Info";
constexpr wchar_t kInstallRecordValue[] = L"Position";
constexpr wchar_t kConfigFileName[] = L"RAVoduza_config.ini";
constexpr wchar_t kApplicationTitle[] = L"Tarvik Loader";

// The values read from the configuration file by Main, for the whole process.
const std::wstring& AppName();
const std::wstring& GridCommand();
// The loader's folder, ending in a backslash.
const std::wstring& LoaderFolder();

// The address the setup program is downloaded from (fixed per build).
const wchar_t* DownloadUrl();

// The install position, or the empty text while the product is not installed.
std::wstring ReadInstallRecord();

// The full path of the running program, however long.
std::wstring ModulePath();

// Whether the process may change the system time, the right that elevated
// administrators hold and standard users lack. Asks; changes nothing.
bool HasAdministratorRights();

// The start-up pass. Ends the process after starting an installed product.
// Returns true once the wizard is shown, false after the rights message.
bool Main();

// Starts the installed product with the command text, not waiting for it.
// Throws when it cannot be started.
void RunGridCommand(const std::wstring& command);

// Ends the process at once: no further code of the loader runs.
[[noreturn]] void EndProcessNow(ExitCode code);

// Shows an error that no step expected, with its description, and ends.
[[noreturn]] void ReportUnexpectedError(const std::exception& error);

// The whole program: Main, then the wizard's message loop. Returns the exit code.
int RunLoader();

}  // namespace rvz
