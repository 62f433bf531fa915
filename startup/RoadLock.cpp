#include "RoadLock.h"

#include "RAVoduza_Download.h"
#include "WinError.h"
#include "frmInstaller.h"

#include <string>

namespace rvz {

namespace {

// Per session: the loader runs elevated in the user's session.
constexpr wchar_t kMutexName[] = L"Local\\RAVoduza.InstallRoad";
constexpr wchar_t kElevatedPartMutexName[] = L"Local\\RAVoduza.ElevatedPart";
// The windows a loader shows on its road, by their class names.
constexpr const wchar_t* kRoadWindowClasses[] = {kWizardClassName, RVDL_DIALOG_CLASS};

}  // namespace

std::optional<RoadLock> RoadLock::Take() { return TakeNamed(kMutexName); }

std::optional<RoadLock> RoadLock::TakeForElevatedPart() { return TakeNamed(kElevatedPartMutexName); }

std::optional<RoadLock> RoadLock::TakeNamed(const wchar_t* name) {
    UniqueHandleKernel mutex(::CreateMutexW(nullptr, FALSE, name));
    if (!mutex) ThrowLastError(L"CreateMutex");
    // The name lives as long as a loader holds a handle: a loader that ended,
    // however it ended, holds none.
    if (::GetLastError() == ERROR_ALREADY_EXISTS) return std::nullopt;
    return RoadLock(std::move(mutex));
}

void BringOtherLoaderToFront() {
    for (const wchar_t* className : kRoadWindowClasses) {
        const HWND window = ::FindWindowW(className, nullptr);
        if (!window || !::IsWindowVisible(window)) continue;
        if (::IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
        ::SetForegroundWindow(window);
        return;
    }
}

}  // namespace rvz
