#include "frmInstaller.h"

#include "WinError.h"
#include "basInstaller.h"

namespace rvz {

namespace {

constexpr wchar_t kClassName[] = L"RAVoduzaInstaller";
HWND g_window = nullptr;

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        ::PostQuitMessage(kExitWizardClosed);
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

void ShowInstallerWindow() {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{sizeof(windowClass)};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kClassName;
    if (!::RegisterClassExW(&windowClass)) ThrowLastError(L"RegisterClassEx");

    const std::wstring caption = kWindowCaptionPrefix + AppName();
    g_window = ::CreateWindowExW(0, kClassName, caption.c_str(),
                                 WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                 CW_USEDEFAULT, CW_USEDEFAULT, 503, 389, nullptr, nullptr, instance,
                                 nullptr);
    if (!g_window) ThrowLastError(L"CreateWindowEx");
    ::ShowWindow(g_window, SW_SHOWNORMAL);
}

bool InstallerPreTranslateMessage(MSG& msg) {
    return g_window && ::IsDialogMessageW(g_window, &msg);
}

}  // namespace rvz
