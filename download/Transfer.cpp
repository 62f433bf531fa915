#include "Transfer.h"

#include "Handles.h"
#include "WinError.h"
#include "basFiles.h"

#include <wininet.h>

#include <atomic>
#include <functional>
#include <vector>

namespace rvdl {

using rvz::ExclusiveLock;
using UniqueInternet = rvz::UniqueNullHandle<HINTERNET, &::InternetCloseHandle>;

namespace {

// Fixed-size chunks: memory stays the same whatever the file's size.
constexpr DWORD kChunkBytes = 256 * 1024;

// Always from the server, never into WinINet's cache (which would hold a
// second copy of the whole file), and never a dialog of WinINet's own.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES |
                                INTERNET_FLAG_NO_UI;

constexpr wchar_t kUserAgent[] = L"RAVoduza/1.0";

// A text that a WinINet query fills, in a buffer grown until it fits. The
// text ends at its NUL: what the queries report back as its length is in
// bytes for some and in characters for others.
std::optional<std::wstring> QueryGrowing(const std::function<BOOL(void*, DWORD*)>& query) {
    std::vector<wchar_t> buffer(256);
    for (;;) {
        DWORD bytes = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
        if (query(buffer.data(), &bytes)) return std::wstring(buffer.data());
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::nullopt;
        buffer.assign(bytes / sizeof(wchar_t) + 2, L'\0');
    }
}

std::optional<std::wstring> QueryHeader(HINTERNET request, DWORD info) {
    return QueryGrowing([&](void* buffer, DWORD* bytes) {
        return ::HttpQueryInfoW(request, info, buffer, bytes, nullptr);
    });
}

// WinINet describes its own errors; the system describes the rest.
std::wstring ErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
            FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        ::GetModuleHandleW(L"wininet.dll"), code, 0, reinterpret_cast<wchar_t*>(&buffer), 0,
        nullptr);
    const rvz::UniqueLocal owned(buffer);
    std::wstring text(buffer ? buffer : L"", length);
    while (!text.empty() && static_cast<unsigned>(text.back()) <= L' ') text.pop_back();
    return text.empty() ? rvz::SystemErrorText(code) : text;
}

FailureDetails ErrorFailure(Failure failure, DWORD code) {
    FailureDetails details;
    details.failure = failure;
    details.errorText = ErrorText(code);
    return details;
}

FailureDetails NetworkFailure(DWORD code) {
    return ErrorFailure(ClassifyNetworkError(code), code);
}

}  // namespace

struct Transfer::Shared {
    std::wstring url;
    HWND notify = nullptr;
    UINT message = 0;
    uint32_t stallMs = 0;

    // Read by the caller's polls without the lock.
    std::atomic<int> phase{static_cast<int>(TransferPhase::Connecting)};
    std::atomic<uint64_t> done{0};
    std::atomic<int64_t> total{-1};
    std::atomic<int> resumes{0};
    std::atomic<ULONGLONG> lastActivity{::GetTickCount64()};

    // Everything below belongs to whoever holds the lock.
    SRWLOCK lock = SRWLOCK_INIT;
    bool abandoned = false;
    rvz::UniqueFile file;
    std::wstring tempPath;
    UniqueInternet session;
    UniqueInternet request;
    FailureDetails failure;

    TransferPhase Phase() const { return static_cast<TransferPhase>(phase.load()); }
    bool Ended() const {
        const TransferPhase p = Phase();
        return p == TransferPhase::Succeeded || p == TransferPhase::Failed;
    }
    void Touch() { lastActivity = ::GetTickCount64(); }

    // Under the lock: records the outcome unless one was recorded already.
    void EndLocked(const FailureDetails& details) {
        if (Ended()) return;
        failure = details;
        phase = static_cast<int>(details.failure == Failure::None ? TransferPhase::Succeeded
                                                                  : TransferPhase::Failed);
    }

    // Under the lock: drops the connection and the file, now.
    void DiscardLocked() {
        abandoned = true;
        request.reset();
        session.reset();
        file.reset();
        if (!tempPath.empty()) ::DeleteFileW(tempPath.c_str());
        tempPath.clear();
    }

    void AbandonWith(const FailureDetails& details) {
        ExclusiveLock hold(lock);
        EndLocked(details);
        DiscardLocked();
    }

    bool Abandoned() {
        ExclusiveLock hold(lock);
        return abandoned;
    }
};

namespace {

// The worker thread's side: fetches, resumes, writes, and reports.
class Worker {
public:
    explicit Worker(Transfer::Shared& shared) : s_(shared), buffer_(kChunkBytes) {}

    void Run() {
        const FailureDetails result = Fetch();
        {
            ExclusiveLock hold(s_.lock);
            if (s_.abandoned) return;
            s_.EndLocked(result);
            s_.request.reset();
            s_.session.reset();
        }
        if (s_.notify) ::PostMessageW(s_.notify, s_.message, 0, 0);
    }

private:
    FailureDetails Fetch() {
        const HINTERNET session = OpenSession();
        if (!session) return NetworkFailure(::GetLastError());
        std::wstring url = s_.url;
        for (int resumes = 0;; ++resumes) {
            const FailureDetails result = Attempt(session, url);
            if (!ShouldResume(result.failure, resumes) || s_.Abandoned()) return result;
            s_.resumes = resumes + 1;
            s_.phase = static_cast<int>(TransferPhase::Resuming);
        }
    }

    HINTERNET OpenSession() {
        UniqueInternet session(
            ::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!session) return nullptr;
        ExclusiveLock hold(s_.lock);
        if (s_.abandoned) return nullptr;
        s_.session = std::move(session);
        return s_.session.get();
    }

    // Hands a new request handle to the shared state, where Abandon can
    // close it; false (and closed) when the transfer was abandoned meanwhile.
    bool Adopt(HINTERNET request) {
        UniqueInternet owned(request);
        ExclusiveLock hold(s_.lock);
        if (s_.abandoned) return false;
        s_.request = std::move(owned);
        return true;
    }

    void CloseRequest() {
        ExclusiveLock hold(s_.lock);
        s_.request.reset();
    }

    // One request for the file from what is already written on.
    FailureDetails Attempt(HINTERNET session, std::wstring& url) {
        const uint64_t offset = s_.done;
        const std::wstring range = RangeHeader(offset);
        s_.Touch();
        const HINTERNET request =
            ::InternetOpenUrlW(session, url.c_str(), range.empty() ? nullptr : range.c_str(),
                               static_cast<DWORD>(range.size()), kRequestFlags, 0);
        if (!request) return NetworkFailure(::GetLastError());
        if (!Adopt(request)) return ErrorFailure(Failure::Other, ERROR_CANCELLED);
        const FailureDetails result = Answer(request, offset, url);
        CloseRequest();
        return result;
    }

    FailureDetails Answer(HINTERNET request, uint64_t offset, std::wstring& url) {
        // Resume at the address the redirects led to, not through them again.
        if (auto final = QueryGrowing([&](void* buffer, DWORD* bytes) {
                return ::InternetQueryOptionW(request, INTERNET_OPTION_URL, buffer, bytes);
            })) {
            url = std::move(*final);
        }
        DWORD status = 0;
        DWORD size = sizeof(status);
        ::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                         nullptr);
        const auto length = QueryHeader(request, HTTP_QUERY_CONTENT_LENGTH);
        const auto range = QueryHeader(request, HTTP_QUERY_CONTENT_RANGE);
        const ResponseVerdict verdict =
            JudgeResponse(offset, static_cast<int>(status), length ? ParseLength(*length) : std::nullopt,
                          range ? ParseContentRange(*range) : std::nullopt);
        if (verdict.start == BodyStart::Refuse) {
            FailureDetails details;
            details.failure = verdict.failure;
            details.status = static_cast<int>(status);
            details.statusText = QueryHeader(request, HTTP_QUERY_STATUS_TEXT).value_or(L"");
            return details;
        }
        if (verdict.start == BodyStart::FromZero && !Rewind()) return WriteFailure();
        s_.total = verdict.total ? static_cast<int64_t>(*verdict.total) : -1;
        s_.phase = static_cast<int>(TransferPhase::Receiving);
        return Receive(request, verdict.total);
    }

    FailureDetails Receive(HINTERNET request, std::optional<uint64_t> total) {
        DWORD size = 0;
        for (;;) {
            DWORD want = size;
            if (want == 0) {
                // Waits for data, and says how much has come; none means the end.
                DWORD available = 0;
                if (!::InternetQueryDataAvailable(request, &available, 0, 0)) return Broken();
                if (available == 0) return BodyEnd(total);
                want = available < kChunkBytes ? available : kChunkBytes;
            }
            const ULONGLONG started = ::GetTickCount64();
            DWORD read = 0;
            if (!::InternetReadFile(request, buffer_.data(), want, &read)) return Broken();
            if (read == 0) return BodyEnd(total);
            if (!Write(read)) return WriteFailure();
            s_.done += read;
            s_.Touch();
            size = NextReadSize(want, read, ::GetTickCount64() - started, kChunkBytes);
        }
    }

    FailureDetails BodyEnd(std::optional<uint64_t> total) const {
        FailureDetails details;
        details.failure = JudgeBodyEnd(s_.done, total);
        details.done = s_.done;
        details.total = total;
        return details;
    }

    // Whatever breaks a body off midway counts as a lost connection.
    static FailureDetails Broken() {
        const DWORD error = ::GetLastError();
        const Failure kind = ClassifyNetworkError(error);
        return ErrorFailure(kind == Failure::Other ? Failure::ConnectionLost : kind, error);
    }

    bool Write(DWORD bytes) {
        ExclusiveLock hold(s_.lock);
        DWORD written = 0;
        return s_.file &&
               ::WriteFile(s_.file.get(), buffer_.data(), bytes, &written, nullptr) &&
               written == bytes;
    }

    // The server sent the whole file instead of the rest: start over.
    bool Rewind() {
        ExclusiveLock hold(s_.lock);
        LARGE_INTEGER zero{};
        if (!s_.file || !::SetFilePointerEx(s_.file.get(), zero, nullptr, FILE_BEGIN) ||
            !::SetEndOfFile(s_.file.get()))
            return false;
        s_.done = 0;
        return true;
    }

    static FailureDetails WriteFailure() { return ErrorFailure(Failure::Write, ::GetLastError()); }

    Transfer::Shared& s_;
    std::vector<char> buffer_;
};

struct WorkerStart {
    std::shared_ptr<Transfer::Shared> shared;
    HMODULE module;
};

DWORD WINAPI WorkerMain(void* parameter) {
    HMODULE module = nullptr;
    {
        const std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(parameter));
        module = start->module;
        Worker(*start->shared).Run();
    }
    // An abandoned worker may outlive the call that started it: the library
    // stays loaded until its last worker has left it.
    ::FreeLibraryAndExitThread(module, 0);
}

}  // namespace

Transfer::Transfer(const std::wstring& url, const std::wstring& target, HWND notify, UINT message,
                   uint32_t stallMs)
    : target_(target), shared_(std::make_shared<Shared>()) {
    shared_->url = url;
    shared_->notify = notify;
    shared_->message = message;
    shared_->stallMs = stallMs;

    // Beside the target, so that the final rename stays on one volume.
    std::wstring folder = rvz::GetDirectoryPart(target);
    if (folder.empty()) folder = L".";
    wchar_t temp[MAX_PATH];
    if (!::GetTempFileNameW(folder.c_str(), L"rvd", 0, temp)) {
        shared_->AbandonWith(ErrorFailure(Failure::Write, ::GetLastError()));
        return;
    }
    shared_->tempPath = temp;
    shared_->file.reset(::CreateFileW(temp, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, TRUNCATE_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!shared_->file) {
        shared_->AbandonWith(ErrorFailure(Failure::Write, ::GetLastError()));
        return;
    }

    auto start = std::make_unique<WorkerStart>(WorkerStart{shared_, nullptr});
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<const wchar_t*>(&WorkerMain), &start->module);
    const rvz::UniqueHandleKernel thread(
        ::CreateThread(nullptr, 0, WorkerMain, start.get(), 0, nullptr));
    if (!thread) {
        const DWORD error = ::GetLastError();
        ::FreeLibrary(start->module);
        shared_->AbandonWith(ErrorFailure(Failure::Other, error));
        return;
    }
    start.release();  // the worker owns it now
}

Transfer::~Transfer() { Abandon(); }

TransferProgress Transfer::Progress() const {
    TransferProgress progress;
    progress.phase = shared_->Phase();
    progress.done = shared_->done;
    const int64_t total = shared_->total;
    if (total >= 0) progress.total = static_cast<uint64_t>(total);
    progress.resumes = shared_->resumes;
    return progress;
}

bool Transfer::Poll() {
    if (shared_->Ended()) return true;
    // Read the last activity first: it may move on, but never past "now".
    const ULONGLONG last = shared_->lastActivity;
    if (::GetTickCount64() - last < shared_->stallMs) return false;
    FailureDetails details;
    details.failure = Failure::Timeout;
    shared_->AbandonWith(details);
    return true;
}

FailureDetails Transfer::Outcome() const {
    ExclusiveLock hold(shared_->lock);
    return shared_->failure;
}

bool Transfer::Commit() {
    ExclusiveLock hold(shared_->lock);
    if (shared_->Phase() != TransferPhase::Succeeded || shared_->abandoned) return false;
    shared_->file.reset();
    if (::MoveFileExW(shared_->tempPath.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        shared_->tempPath.clear();
        shared_->abandoned = true;  // nothing left to discard
        return true;
    }
    shared_->failure = ErrorFailure(Failure::Write, ::GetLastError());
    shared_->phase = static_cast<int>(TransferPhase::Failed);
    shared_->DiscardLocked();
    return false;
}

void Transfer::Abandon() {
    FailureDetails details;
    details.failure = Failure::Other;
    details.errorText = ErrorText(ERROR_CANCELLED);
    shared_->AbandonWith(details);
}

std::wstring Transfer::TemporaryPath() const {
    ExclusiveLock hold(shared_->lock);
    return shared_->tempPath;
}

}  // namespace rvdl
