#include "DownloadLibrary.h"

#include "RoadEnd.h"
#include "Strings.h"
#include "WinError.h"
#include "basFiles.h"
#include "resource.h"

namespace rvz {

namespace {

template <typename Fn>
Fn Export(HMODULE module, const char* name, const std::wstring& path) {
    const Fn function = FunctionOf<Fn>(module, name);
    if (!function)
        throw UserError(kExitLibraryMissing, ResString(IDS_LIBRARY_EXPORT_MISSING) + L"\r\n\r\n" +
                                                 path + L"\r\n" + FromAnsi(name));
    return function;
}

}  // namespace

DownloadLibrary::DownloadLibrary(const std::wstring& loaderFolder) {
    const std::wstring path = loaderFolder + kDownloadLibraryName;
    // Its own imports never come from the folder the loader was started from.
    module_ = LoadLibraryFromPath(path);
    if (!module_) {
        const std::wstring reason = SystemErrorText(::GetLastError());
        throw UserError(kExitLibraryMissing,
                        ResString(IDS_LIBRARY_MISSING) + L"\r\n\r\n" + path + L"\r\n" + reason);
    }
    setOption_ = Export<rvdl_SetOptionProc>(module_.get(), "rvdl_SetOption", path);
    download_ = Export<rvdl_DownloadProc>(module_.get(), "rvdl_Download", path);
    setOptionW_ = FunctionOf<rvdl_SetOptionWProc>(module_.get(), "rvdl_SetOptionW");
    downloadW_ = FunctionOf<rvdl_DownloadWProc>(module_.get(), "rvdl_DownloadW");
}

void DownloadLibrary::SetOption(const std::wstring& option, const std::wstring& value) const {
    if (TakesUnicode())
        setOptionW_(option.c_str(), value.c_str());
    else
        setOption_(ToAnsi(option).c_str(), ToAnsi(value).c_str());
}

void DownloadLibrary::Download(HWND owner, const std::wstring& url, const std::wstring& file) const {
    if (TakesUnicode())
        downloadW_(owner, url.c_str(), file.c_str());
    else
        download_(owner, ToAnsi(url).c_str(), ToAnsi(file).c_str());
}

}  // namespace rvz
