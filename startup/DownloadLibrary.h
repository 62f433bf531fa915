// The download library beside the loader (RAVoduza_Download.dll), loaded by
// full path so that no planted copy elsewhere is ever used.
#pragma once

#include "Handles.h"

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

    using SetOptionFn = int(__stdcall*)(const char*, const char*);
    using DownloadFn = int(__stdcall*)(HWND, const char*, const char*);
    using SetOptionWFn = int(__stdcall*)(const wchar_t*, const wchar_t*);
    using DownloadWFn = int(__stdcall*)(HWND, const wchar_t*, const wchar_t*);

    UniqueModule module_;
    SetOptionFn setOption_ = nullptr;
    DownloadFn download_ = nullptr;
    // Optional: libraries that offer only the ANSI pair keep working.
    SetOptionWFn setOptionW_ = nullptr;
    DownloadWFn downloadW_ = nullptr;
};

}  // namespace rvz
