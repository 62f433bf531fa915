// Ownership of Windows handles: each handle type is closed exactly once, on
// every path, by the object that owns it. The one family of handle types for
// the loader, the download library and the tests.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <utility>

namespace rvz {

// A move-only owner of one handle. Traits say what "no handle" is and how
// to close one, because Windows is not consistent about either.
template <typename Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Type handle) noexcept : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    Type get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::Invalid(); }

    // For APIs that return a handle through an out parameter.
    Type* put() noexcept {
        reset();
        return &handle_;
    }
    Type release() noexcept { return std::exchange(handle_, Traits::Invalid()); }
    void reset(Type handle = Traits::Invalid()) noexcept {
        if (handle_ != Traits::Invalid()) Traits::Close(handle_);
        handle_ = handle;
    }

private:
    Type handle_ = Traits::Invalid();
};

// Handles whose "none" is NULL (or 0 for the CryptoAPI's numbers), closed by
// one function.
template <typename T, auto CloseFunction>
struct NullHandleTraits {
    using Type = T;
    static Type Invalid() noexcept { return Type{}; }
    static void Close(Type h) noexcept { CloseFunction(h); }
};

// CreateFile, FindFirstFile and CreateActCtx report failure as
// INVALID_HANDLE_VALUE, not NULL.
template <auto CloseFunction>
struct InvalidValueHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { CloseFunction(h); }
};

template <typename T, auto CloseFunction>
using UniqueNullHandle = UniqueHandle<NullHandleTraits<T, CloseFunction>>;

inline void DeleteGdiObject(HGDIOBJ object) noexcept { ::DeleteObject(object); }
inline void ReleaseCryptProvider(HCRYPTPROV provider) noexcept { ::CryptReleaseContext(provider, 0); }

using UniqueHandleKernel = UniqueNullHandle<HANDLE, &::CloseHandle>;
using UniqueFile = UniqueHandle<InvalidValueHandleTraits<&::CloseHandle>>;
using UniqueFind = UniqueHandle<InvalidValueHandleTraits<&::FindClose>>;
using UniqueActivationContext = UniqueHandle<InvalidValueHandleTraits<&::ReleaseActCtx>>;
using UniqueKey = UniqueNullHandle<HKEY, &::RegCloseKey>;
using UniqueModule = UniqueNullHandle<HMODULE, &::FreeLibrary>;
using UniqueLocal = UniqueNullHandle<HLOCAL, &::LocalFree>;
using UniqueWindow = UniqueNullHandle<HWND, &::DestroyWindow>;
using UniqueIcon = UniqueNullHandle<HICON, &::DestroyIcon>;
using UniqueMemoryDc = UniqueNullHandle<HDC, &::DeleteDC>;
using UniqueFont = UniqueNullHandle<HFONT, &DeleteGdiObject>;
using UniqueBitmap = UniqueNullHandle<HBITMAP, &DeleteGdiObject>;
using UniqueCryptProvider = UniqueNullHandle<HCRYPTPROV, &ReleaseCryptProvider>;
using UniqueCryptHash = UniqueNullHandle<HCRYPTHASH, &::CryptDestroyHash>;

// Both handles that CreateProcess hands back.
struct ProcessHandles {
    UniqueHandleKernel process;
    UniqueHandleKernel thread;
    DWORD processId = 0;

    static ProcessHandles Adopt(const PROCESS_INFORMATION& info) {
        ProcessHandles owned;
        owned.process.reset(info.hProcess);
        owned.thread.reset(info.hThread);
        owned.processId = info.dwProcessId;
        return owned;
    }
};

// A GDI object selected into a device context for one scope.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~Selection() { ::SelectObject(dc_, previous_); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// An activation context active for one scope: the windows made meanwhile
// take their classes from its manifest. Without a context (none could be
// made) nothing changes.
class ActivationScope {
public:
    explicit ActivationScope(UniqueActivationContext context) : context_(std::move(context)) {
        if (context_ && !::ActivateActCtx(context_.get(), &cookie_)) cookie_ = 0;
    }
    ~ActivationScope() {
        if (cookie_) ::DeactivateActCtx(0, cookie_);
    }
    ActivationScope(const ActivationScope&) = delete;
    ActivationScope& operator=(const ActivationScope&) = delete;

private:
    UniqueActivationContext context_;
    ULONG_PTR cookie_ = 0;
};

// The activation context of the manifest that a module carries as resource
// `id`; none when it carries no such manifest.
inline UniqueActivationContext ManifestContext(HMODULE module, WORD id) {
    ACTCTXW request{};
    request.cbSize = sizeof(request);
    request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.hModule = module;
    request.lpResourceName = MAKEINTRESOURCEW(id);
    return UniqueActivationContext(::CreateActCtxW(&request));
}

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

// Runs a callable when the scope is left, however it is left.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() { f_(); }

private:
    F f_;
};

}  // namespace rvz
