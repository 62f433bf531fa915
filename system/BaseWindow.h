// The base of every window class of the loader and the download library: one
// static window procedure that routes each message to the derived class's
// HandleMessage, one place for the window's birth and death, and one
// exception policy.
#pragma once

#include "Handles.h"

#include <windows.h>

#include <exception>

namespace rvz {

// Derived must have `LRESULT HandleMessage(UINT, WPARAM, LPARAM)`. The window
// belongs to the object: it is destroyed with it at the latest, and a window
// destroyed by the system detaches itself from the object first.
//
// No exception crosses user32: one that a handler throws is kept, the window
// is told through OnHandlerFailed (which must not throw), and the owner of
// the message loop rethrows it with RethrowHandlerFailure once its loop ends.
template <typename Derived>
class BaseWindow {
public:
    BaseWindow(const BaseWindow&) = delete;
    BaseWindow& operator=(const BaseWindow&) = delete;

    HWND hwnd() const noexcept { return window_.get(); }
    void RethrowHandlerFailure() const {
        if (failure_) std::rethrow_exception(failure_);
    }

protected:
    BaseWindow() = default;
    // The derived part is gone by now: the window's last messages go to the
    // default procedure.
    ~BaseWindow() {
        if (window_) ::SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
    }

    // Registers the class for this window type; the registration ends with the
    // object, so that a library that is unloaded leaves no class behind.
    void Register(WNDCLASSEXW windowClass) {
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = WindowProc;
        if (!::RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return;
        classRegistration_.name = windowClass.lpszClassName;
        classRegistration_.instance = windowClass.hInstance;
    }

    // Creates the window of the registered class; null when it failed.
    HWND CreateWindowOf(DWORD exStyle, const wchar_t* title, DWORD style, int x, int y, int width,
                        int height, HWND owner) {
        return ::CreateWindowExW(exStyle, classRegistration_.name, title, style, x, y, width, height,
                                 owner, nullptr, classRegistration_.instance, this);
    }

    // Destroys the window now; the object lives on without it.
    void DestroyNow() {
        if (hwnd()) ::DestroyWindow(hwnd());
    }

    // The default handling of a message that the derived class leaves alone.
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam) {
        return ::DefWindowProcW(hwnd(), message, wParam, lParam);
    }

    // Called once, after a handler has thrown; ends the derived class's loop.
    void OnHandlerFailed() noexcept {}

private:
    struct ClassRegistration {
        const wchar_t* name = nullptr;
        HINSTANCE instance = nullptr;
        ~ClassRegistration() {
            if (name) ::UnregisterClassW(name, instance);
        }
    };

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam,
                                       LPARAM lParam) noexcept {
        if (message == WM_NCCREATE) {
            auto* created = static_cast<BaseWindow*>(
                reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
            created->window_.reset(window);
            ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
        }
        auto* self = reinterpret_cast<BaseWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (!self) return ::DefWindowProcW(window, message, wParam, lParam);
        if (message == WM_NCDESTROY) {
            // Destroyed by the system or by DestroyWindow: the object lives on
            // without its window and must not destroy it a second time.
            ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            self->window_.release();
            return ::DefWindowProcW(window, message, wParam, lParam);
        }
        try {
            return static_cast<Derived*>(self)->HandleMessage(message, wParam, lParam);
        } catch (...) {
            if (!self->failure_) {
                self->failure_ = std::current_exception();
                static_cast<Derived*>(self)->OnHandlerFailed();
            }
            ::PostMessageW(window, WM_NULL, 0, 0);  // wakes the loop to notice
            return ::DefWindowProcW(window, message, wParam, lParam);
        }
    }

    // Declared first: the window goes before its class is unregistered.
    ClassRegistration classRegistration_;
    UniqueWindow window_;
    std::exception_ptr failure_;
};

}  // namespace rvz
