// Keeps one hidden window open for a whole test run, so that Wine's desktop
// process stays up between test programs instead of restarting each time.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    HWND window = ::CreateWindowExW(0, L"STATIC", L"rvz keepalive", WS_POPUP, 0, 0, 1, 1, nullptr,
                                    nullptr, nullptr, nullptr);
    MSG msg;
    while (window && ::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
    return 0;
}
