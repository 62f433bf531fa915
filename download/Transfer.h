// One attempt to fetch a URL into a file, run on a worker thread with
// blocking WinINet calls.
//
// A blocked WinINet call cannot be relied on to return when asked: Windows
// aborts it when another thread closes its handle, but Wine does not, nor
// does it honour receive time-outs. So the caller never waits for the
// worker. Everything the caller cares about (the temporary file, the
// connection handles, the outcome) lives in a state shared under a lock;
// Abandon() closes and deletes what is there at once, and a worker that
// wakes up later finds the state abandoned and ends without touching it.
#pragma once

#include "Handles.h"
#include "TransferRules.h"

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace rvdl {

using UniqueInternet = rvz::UniqueNullHandle<HINTERNET, &::InternetCloseHandle>;

// Always from the server, never into WinINet's cache (which would hold a
// second copy of the whole file), and never a dialog of WinINet's own.
// Redirects are followed by the library itself: WinINet (Wine's at least)
// would follow a loop without end and from https on to http.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES |
                                INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT;

// The plain bytes of the file, please: a compressed body is no setup program.
constexpr wchar_t kAcceptHeader[] = L"Accept-Encoding: identity\r\n";

enum class TransferPhase {
    Connecting,
    Receiving,
    Resuming,
    Busy,         // waits to ask a busy server again
    Credentials,  // waits for AnswerCredentials
    Succeeded,
    Failed,
};

struct TransferProgress {
    TransferPhase phase = TransferPhase::Connecting;
    uint64_t done = 0;
    std::optional<uint64_t> total;
    int resumes = 0;
    int busyRetries = 0;         // while Busy: which retry it waits for
    uint64_t busyWaitLeftMs = 0;  // while Busy
    SignIn signIn = SignIn::Server;  // while Credentials: who asks
};

class Transfer {
public:
    // Creates a temporary file beside `target` and starts fetching `url`
    // into it. No data for `stallMs` fails the transfer (see Poll).
    explicit Transfer(const std::wstring& url, const std::wstring& target,
                      uint32_t stallMs = kStallSeconds * 1000);
    // A transfer that was neither committed nor abandoned is abandoned.
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Posts `message` to `window` whenever the transfer needs its caller (it
    // ended, or asks for credentials), and at once if it needs it already.
    void NotifyTo(HWND window, UINT message);

    TransferProgress Progress() const;
    // Enforces the stall limit; true once the transfer has ended, one way or
    // the other.
    bool Poll();
    // Why the transfer failed; meaningful once the phase is Failed.
    FailureDetails Outcome() const;

    // The user's answer while the phase is Credentials: a user name and
    // password to sign in with, or nothing to fail the transfer.
    void AnswerCredentials(std::optional<Credentials> credentials);

    // Moves the complete file into place; on failure the transfer fails with
    // a write error and the temporary file is gone.
    bool Commit();
    // Stops caring: the file is deleted and the connection closed now,
    // whatever the worker is blocked in.
    void Abandon();

    // The name of the temporary file while it exists (for tests).
    std::wstring TemporaryPath() const;

    struct Shared;

private:
    std::wstring target_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace rvdl
