#include "Display.h"

#include "Handles.h"

namespace rvz {

namespace {

// A function of user32 that older Windows lacks; null there.
template <typename Function>
Function User32Function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}

}  // namespace

void DeclareDpiAwareness() {
    using SetContext = BOOL(WINAPI*)(HANDLE);
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 (Windows 10 1703), spelled
    // out for headers that predate it.
    const auto perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
    const auto setContext = User32Function<SetContext>("SetProcessDpiAwarenessContext");
    if (setContext && setContext(perMonitorV2)) return;
    ::SetProcessDPIAware();
}

int WindowDpi(HWND window) {
    using GetDpi = UINT(WINAPI*)(HWND);
    static const auto getDpi = User32Function<GetDpi>("GetDpiForWindow");
    if (getDpi && window) {
        if (const UINT dpi = getDpi(window)) return static_cast<int>(dpi);
    }
    return SystemDpi();
}

int SystemDpi() {
    const HDC screen = ::GetDC(nullptr);
    const ScopeExit release([screen] { ::ReleaseDC(nullptr, screen); });
    return screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
}

bool HighContrastOn() {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast);
    return ::SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON);
}

}  // namespace rvz
