// The library's two entry points. Texts arrive in the system's ANSI code
// page; the options are kept for the life of the process.
#include "DownloadDialog.h"
#include "Handles.h"
#include "LanguageFile.h"
#include "Options.h"
#include "WinError.h"

#include <windows.h>

#include <optional>
#include <string>

namespace {

struct Settings {
    SRWLOCK lock = SRWLOCK_INIT;
    std::optional<std::wstring> title;
    std::wstring language;
};

Settings& TheSettings() {
    static Settings settings;
    return settings;
}

}  // namespace

// Nothing may escape into a caller that knows no C++: any exception is a 0.
extern "C" int __stdcall rvdl_SetOption(const char* option, const char* value) {
    try {
        if (!option || !value) return 0;
        const std::optional<rvdl::Option> name = rvdl::ParseOptionName(option);
        if (!name) return 0;
        std::wstring text = rvz::FromAnsi(value);
        Settings& settings = TheSettings();
        rvz::ExclusiveLock hold(settings.lock);
        if (*name == rvdl::Option::Title)
            settings.title = std::move(text);
        else
            settings.language = std::move(text);
        return 1;
    } catch (...) {
        return 0;
    }
}

extern "C" int __stdcall rvdl_Download(HWND owner, const char* url, const char* file) {
    if (!url || !*url || !file || !*file) return 0;
    try {
        std::optional<std::wstring> title;
        std::wstring language;
        {
            Settings& settings = TheSettings();
            rvz::ExclusiveLock hold(settings.lock);
            title = settings.title;
            language = settings.language;
        }
        const rvdl::Texts texts = rvdl::LoadLanguageFile(language);
        rvdl::DownloadRequest request;
        request.owner = owner && ::IsWindow(owner) ? owner : nullptr;
        request.url = rvz::FromAnsi(url);
        request.target = rvz::FromAnsi(file);
        request.title = title.value_or(texts.Get(rvdl::TextId::Title));
        rvdl::DownloadDialog dialog(texts, std::move(request));
        if (dialog.Run()) return 1;
    } catch (...) {
    }
    // A file at the target means success to the caller: an older one must
    // not pass for this download.
    ::DeleteFileA(file);
    return 0;
}
