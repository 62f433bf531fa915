// The download library beside the loader (RAVoduza_Download.dll), loaded by
// full path so that no planted copy elsewhere is ever used.
#pragma once

#include "Handles.h"
#include "RAVoduza_Download.h"

#include <windows.h>

#include <string>

namespace rvz {

constexpr wchar_t kDownloadLibraryName[] = L"RAVoduza_Download.dll";

class DownloadLibrary {
public:
    // Loads the library from the loader folder, its own dependencies from the
    // system folder only. Throws a UserError (kExitLibraryMissing) that
    // names the file, or the function, that is missing.
    explicit DownloadLibrary(const std::wstring& loaderFolder);

    // The library's two functions, results ignored. Texts go over as UTF-16
    // where the library offers its functions in that form, else as ANSI.
    void SetOption(const std::wstring& option, const std::wstring& value) const;
    void Download(HWND owner, const std::wstring& url, const std::wstring& file) const;

private:
    // Whether a file name goes over whole: always so in UTF-16.
    bool TakesUnicode() const { return setOptionW_ && downloadW_; }

    UniqueModule module_;
    rvdl_SetOptionProc setOption_ = nullptr;
    rvdl_DownloadProc download_ = nullptr;
    // Optional: libraries that offer only the ANSI pair keep working.
    rvdl_SetOptionWProc setOptionW_ = nullptr;
    rvdl_DownloadWProc downloadW_ = nullptr;
};

}  // namespace rvz
