// Ownership of the handles that only the download library uses, in the
// pattern of the system layer's handles, and a scoped SRW lock.
#pragma once

#include "Handles.h"

#include <windows.h>
#include <wininet.h>

namespace rvdl {

// Handles whose "none" is NULL, closed by one function.
template <typename T, auto CloseFunction>
struct NullHandleTraits {
    using Type = T;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { CloseFunction(h); }
};

// CreateActCtx reports failure as INVALID_HANDLE_VALUE.
struct ActivationContextTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::ReleaseActCtx(h); }
};

using UniqueInternet = rvz::UniqueHandle<NullHandleTraits<HINTERNET, &::InternetCloseHandle>>;
using UniqueWindow = rvz::UniqueHandle<NullHandleTraits<HWND, &::DestroyWindow>>;
using UniqueIcon = rvz::UniqueHandle<NullHandleTraits<HICON, &::DestroyIcon>>;
using UniqueActivationContext = rvz::UniqueHandle<ActivationContextTraits>;

// An SRW lock held for a scope.
class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ::ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

}  // namespace rvdl
