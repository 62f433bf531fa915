// Keeps one hidden window open for a whole test run, so that Wine's desktop
// process stays up between test programs instead of restarting each time
// (and instead of being started by a test program, whose output pipe it
// would then hold open). Writes "keepalive.ready" beside itself once the
// window, and with it the desktop, exists.
#include "Handles.h"

#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    HWND window = ::CreateWindowExW(0, L"STATIC", L"rvz keepalive", WS_POPUP, 0, 0, 1, 1, nullptr,
                                    nullptr, nullptr, nullptr);
    if (!window) return 1;
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring ready(path, n);
    ready = ready.substr(0, ready.rfind(L'\\') + 1) + L"keepalive.ready";
    // Closed at once: only that the file is there counts.
    rvz::UniqueFile(::CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    return 0;
}
