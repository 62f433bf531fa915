// The download library beside the loader (RAVoduza_Download.dll), loaded by
// full path so that no planted copy elsewhere is ever used.
#pragma once

#include "Handles.h"

#include <windows.h>

#include <stdexcept>
#include <string>

namespace rvz {

constexpr wchar_t kDownloadLibraryName[] = L"RAVoduza_Download.dll";

// The library or one of its functions is missing; the text names it for the user.
class MissingLibraryError : public std::runtime_error {
public:
    explicit MissingLibraryError(std::wstring message);
    const std::wstring& message() const noexcept { return message_; }

private:
    std::wstring message_;
};

class DownloadLibrary {
public:
    // Loads the library from the loader folder, its own dependencies from the
    // system folder only. Throws MissingLibraryError.
    explicit DownloadLibrary(const std::wstring& loaderFolder);

    // The library's two functions; texts go over as ANSI, results are ignored.
    void SetOption(const std::wstring& option, const std::wstring& value) const;
    void Download(HWND owner, const std::wstring& url, const std::wstring& file) const;

private:
    using SetOptionFn = int(__stdcall*)(const char*, const char*);
    using DownloadFn = int(__stdcall*)(HWND, const char*, const char*);

    UniqueModule module_;
    SetOptionFn setOption_ = nullptr;
    DownloadFn download_ = nullptr;
};

}  // namespace rvz
