#include "Display.h"

#include "Handles.h"
#include "basFiles.h"

namespace rvz {

namespace {

// user32, to look up functions that older Windows lacks. Loaded here: the
// loader loads it only when it first calls into it, which may not have
// happened yet. It is a known DLL: by name it comes from the system folder
// only, as the loader's own delay-loaded import of it does.
HMODULE User32() {
    static const UniqueModule user32(::LoadLibraryW(L"user32.dll"));
    return user32.get();
}

}  // namespace

void DeclareDpiAwareness() {
    using SetContext = BOOL(WINAPI*)(HANDLE);
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 (Windows 10 1703), spelled
    // out for headers that predate it.
    const auto perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
    const auto setContext = FunctionOf<SetContext>(User32(), "SetProcessDpiAwarenessContext");
    if (setContext && setContext(perMonitorV2)) return;
    ::SetProcessDPIAware();
}

int WindowDpi(HWND window) {
    using GetDpi = UINT(WINAPI*)(HWND);
    static const auto getDpi = FunctionOf<GetDpi>(User32(), "GetDpiForWindow");
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
