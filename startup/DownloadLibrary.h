// The download library beside the loader (RAVoduza_Download.dll), loaded on
// first use by full path so that no planted copy elsewhere is ever used.
#pragma once

#include "Handles.h"

#include <windows.h>

#include <string>

namespace rvz {

constexpr wchar_t kDownloadLibraryName[] = L"RAVoduza_Download.dll";

class DownloadLibrary {
public:
    // The process's library in the loader folder, loaded by the first call.
    // A missing library or function is reported in a message box naming the
    // file, and the process ends with kExitLibraryMissing.
    static DownloadLibrary& Get(const std::wstring& loaderFolder);

    // The library's two functions; texts go over as ANSI, results are ignored.
    void SetOption(const std::wstring& option, const std::wstring& value) const;
    void Download(HWND owner, const std::wstring& url, const std::wstring& file) const;

private:
    using SetOptionFn = int(__stdcall*)(const char*, const char*);
    using DownloadFn = int(__stdcall*)(HWND, const char*, const char*);

    explicit DownloadLibrary(const std::wstring& path);

    UniqueModule module_;
    SetOptionFn setOption_ = nullptr;
    DownloadFn download_ = nullptr;
};

}  // namespace rvz
