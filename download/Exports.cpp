// The library's entry points, as RAVoduza_Download.h declares them: each
// function in a UTF-16 form and, for callers that know only ANSI, in the
// system's ANSI code page. The options are kept for the life of the process.
#include "RAVoduza_Download.h"

#include "DownloadDialog.h"
#include "Handles.h"
#include "LanguageFile.h"
#include "Options.h"
#include "WinError.h"

#include <windows.h>

#include <optional>
#include <string>
#include <type_traits>

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

int SetOption(const std::wstring& option, std::wstring value) {
    const std::optional<rvdl::Option> name = rvdl::ParseOptionName(rvz::ToUtf8(option));
    if (!name) return 0;
    Settings& settings = TheSettings();
    rvz::ExclusiveLock hold(settings.lock);
    if (*name == rvdl::Option::Title)
        settings.title = std::move(value);
    else
        settings.language = std::move(value);
    return 1;
}

bool Download(HWND owner, std::wstring url, std::wstring file) {
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
    request.url = std::move(url);
    request.target = std::move(file);
    request.title = title.value_or(texts.Get(rvdl::TextId::Title));
    rvdl::DownloadDialog dialog(texts, std::move(request));
    return dialog.Run();
}

// A file at the target means success to the caller: after a failure an
// older one must not pass for this download.
template <typename Text, typename Convert>
int DownloadOrRemove(HWND owner, const Text* url, const Text* file, Convert toWide) {
    if (!url || !*url || !file || !*file) return 0;
    std::wstring target;
    try {
        target = toWide(file);
        if (Download(owner, toWide(url), target)) return 1;
    } catch (...) {
    }
    if (!target.empty()) ::DeleteFileW(target.c_str());
    return 0;
}

std::wstring Same(const wchar_t* text) { return text; }
std::wstring FromAnsi(const char* text) { return rvz::FromAnsi(text); }

}  // namespace

// Callers load the functions by name into the header's pointer types.
static_assert(std::is_same_v<decltype(&rvdl_SetOption), rvdl_SetOptionProc> &&
              std::is_same_v<decltype(&rvdl_SetOptionW), rvdl_SetOptionWProc> &&
              std::is_same_v<decltype(&rvdl_Download), rvdl_DownloadProc> &&
              std::is_same_v<decltype(&rvdl_DownloadW), rvdl_DownloadWProc>);

// Nothing may escape into a caller that knows no C++: any exception is a 0.
extern "C" int __stdcall rvdl_SetOptionW(const wchar_t* option, const wchar_t* value) {
    try {
        return option && value ? SetOption(option, value) : 0;
    } catch (...) {
        return 0;
    }
}

extern "C" int __stdcall rvdl_SetOption(const char* option, const char* value) {
    try {
        return option && value ? SetOption(rvz::FromAnsi(option), rvz::FromAnsi(value)) : 0;
    } catch (...) {
        return 0;
    }
}

extern "C" int __stdcall rvdl_DownloadW(HWND owner, const wchar_t* url, const wchar_t* file) {
    return DownloadOrRemove(owner, url, file, Same);
}

extern "C" int __stdcall rvdl_Download(HWND owner, const char* url, const char* file) {
    return DownloadOrRemove(owner, url, file, FromAnsi);
}
