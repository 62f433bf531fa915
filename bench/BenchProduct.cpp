// bench_product.exe: the product as the start-up benchmark starts it, an
// ordinary GUI program: it loads user32, gdi32 and shell32 as any Windows
// program with a window does, parses its command line and appends it to
// "product.log" beside itself, and ends.
#include "Handles.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    const rvz::UniqueLocal arguments(::CommandLineToArgvW(::GetCommandLineW(), &count));
    // What a program asks for before its first window.
    ::GetSystemMetrics(SM_CXSCREEN);
    ::GetStockObject(DEFAULT_GUI_FONT);

    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring log(path, length);
    log = log.substr(0, log.rfind(L'\\') + 1) + L"product.log";
    const rvz::UniqueFile file(::CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 1;
    DWORD written = 0;
    ::WriteFile(file.get(), "started\n", 8, &written, nullptr);
    return 0;
}
