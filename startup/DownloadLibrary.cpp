#include "DownloadLibrary.h"

#include "ExitCodes.h"
#include "Strings.h"
#include "WinError.h"
#include "resource.h"

#include <memory>

namespace rvz {

namespace {

[[noreturn]] void ReportMissing(UINT messageId, const std::wstring& detail) {
    const std::wstring text = ResString(messageId) + L"\r\n\r\n" + detail;
    ::MessageBoxW(nullptr, text.c_str(), L"Tarvik Loader", MB_OK | MB_ICONERROR);
    ::ExitProcess(kExitLibraryMissing);
}

template <typename Fn>
Fn Export(HMODULE module, const char* name, const std::wstring& path) {
    FARPROC address = ::GetProcAddress(module, name);
    if (!address) ReportMissing(IDS_LIBRARY_EXPORT_MISSING, path + L"\r\n" + FromAnsi(name));
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
}

}  // namespace

DownloadLibrary& DownloadLibrary::Get(const std::wstring& loaderFolder) {
    static std::unique_ptr<DownloadLibrary> library;
    if (!library) library.reset(new DownloadLibrary(loaderFolder + kDownloadLibraryName));
    return *library;
}

DownloadLibrary::DownloadLibrary(const std::wstring& path) {
    // Its own imports come from the system folder only, never from the
    // folder the loader was started from.
    module_.reset(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!module_) ReportMissing(IDS_LIBRARY_MISSING, path + L"\r\n" + SystemErrorText(::GetLastError()));
    setOption_ = Export<SetOptionFn>(module_.get(), "rvdl_SetOption", path);
    download_ = Export<DownloadFn>(module_.get(), "rvdl_Download", path);
}

void DownloadLibrary::SetOption(const std::wstring& option, const std::wstring& value) const {
    setOption_(ToAnsi(option).c_str(), ToAnsi(value).c_str());
}

void DownloadLibrary::Download(HWND owner, const std::wstring& url, const std::wstring& file) const {
    download_(owner, ToAnsi(url).c_str(), ToAnsi(file).c_str());
}

}  // namespace rvz
